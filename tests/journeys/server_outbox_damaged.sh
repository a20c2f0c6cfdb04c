# A damaged save in the outbox (its date unreadable) is set aside and named in the header; the saves after it still
# reach the server, and the damaged one stays in the outbox for --outbox.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
computer till
login='window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain'
sale() {
  printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\nrows ListView1 1\n' "$1" "$2"
  printf 'click Button4\nbox ok\nrows ListView1 0\n'
}
journey till --database "$LEDGER" <<<"$login
close frmMain"
pg_ctlcluster $PG_CLUSTER stop -m immediate
journey till --database "$LEDGER" <<<"$login
text LabelOutbox ~ 离线
$(sale 坏的 1) 
$(sale 好的 2)
text LabelOutbox ~ 2 次保存
close frmMain"
outbox=$(ls "$JOURNEY_TMP"/till/data/Kivaro/outbox-*.sqlite)
python3 - "$outbox" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE saves SET lines = replace(lines, substr(lines, instr(lines, '\"day\":\"') + 7, 10), '2024-13-45') "
           "WHERE seq = (SELECT min(seq) FROM saves)")
db.commit()
PY
pg_ctlcluster $PG_CLUSTER start
journey till --database "$LEDGER" <<<"$login
timeout 30
text LabelOutbox ~ 已搁置
text LabelOutbox !~ 待上传
close frmMain"
db=${LEDGER#dbname=}
stored=$(psql -d "$db" -tAc "SELECT string_agg(product_name, ',') FROM records")
[ "$stored" = "好的" ] || { echo "stored: $stored" >&2; exit 1; }
on till --outbox "$JOURNEY_TMP/waiting.csv" --user 收银员 --database "$LEDGER" >/dev/null
grep -q 坏的 "$JOURNEY_TMP/waiting.csv" || { echo "the damaged save is not in the export" >&2; exit 1; }
