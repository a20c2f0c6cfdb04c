# On a shared computer one cashier writes saves into the outbox under another's name (a copy of a sealed save, and
# one with no seal): at the other's next login they are set aside and named, never sent as that account's.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 张三 pw1
server_account 李四 pw2
computer shop
login() {
  printf 'window frmLogin\nclear frmLogin/ComboBox1\ntype frmLogin/ComboBox1 %s\ntype frmLogin/Edit1 %s\n' "$1" "$2"
  printf 'key frmLogin/Edit1 Return\nwindow frmMain\n'
}
for who in "张三 pw1" "李四 pw2"; do
  { login $who; echo 'close frmMain'; } | journey shop --database "$LEDGER"
done
pg_ctlcluster $PG_CLUSTER stop -m immediate
{
  login 张三 pw1
  cat <<'STEPS'
text LabelOutbox ~ 离线
type ComboBox1 甲
type ComboBox2 1
type ComboBox3 10
type ComboBox4 1
click Button1
rows ListView1 1
click Button4
box ok 离线保存成功
close frmMain
STEPS
} | journey shop --database "$LEDGER"
outbox=$(ls "$JOURNEY_TMP"/shop/data/Kivaro/outbox-*.sqlite)
python3 - "$outbox" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for token, seal in (("00000000-0000-4000-8000-000000000001", None), ("00000000-0000-4000-8000-000000000002", "")):
    db.execute("INSERT INTO saves (token, user_name, made_at, line_count, lines, seal) "
               "SELECT ?, '李四', made_at, line_count, replace(lines, '甲', '假'), coalesce(?, seal) FROM saves "
               "WHERE user_name = '张三'", (token, seal))
db.commit()
PY
pg_ctlcluster $PG_CLUSTER start
{
  login 李四 pw2
  cat <<'STEPS'
timeout 30
text LabelOutbox ~ 已搁置
text LabelOutbox ~ 校验不符
close frmMain
STEPS
} | journey shop --database "$LEDGER"
{
  login 张三 pw1
  cat <<'STEPS'
timeout 30
text LabelOutbox = ""
close frmMain
STEPS
} | journey shop --database "$LEDGER"
stored=$(psql -d "${LEDGER#dbname=}" -tAc "SELECT string_agg(user_name || ':' || product_name, ',') FROM records")
[ "$stored" = "张三:甲" ] || { echo "stored: $stored" >&2; exit 1; }
