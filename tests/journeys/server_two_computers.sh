# Two computers on one server, each with its own cashier: both go offline when the server stops, sell on, and once it
# is back every line of both reaches it once.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银一 pw1
server_account 收银二 pw2
till() {
  local who=$1 password=$2 mark=$3
  cat <<STEPS
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 $who
type frmLogin/Edit1 $password
key frmLogin/Edit1 Return
window frmMain
shell touch \${JOURNEY_TMP}/in-$mark
wait-file \${JOURNEY_TMP}/stopped
STEPS
  for save in 1 2 3; do
    cat <<STEPS
type ComboBox1 ${mark}商品$save
type ComboBox2 $save
type ComboBox3 $save.5
type ComboBox4 1
click Button1
rows ListView1 1
click Button4
box ok
rows ListView1 0
STEPS
  done
  cat <<STEPS
text LabelOutbox ~ 3 次保存
shell touch \${JOURNEY_TMP}/sold-$mark
timeout 60
text LabelOutbox = ""
close frmMain
STEPS
}
wait_for() { for _ in $(seq 600); do [ -e "$JOURNEY_TMP/$1" ] && return 0; sleep 0.1; done; echo "no $1" >&2; return 1; }
computer A
computer B
journey_start A --database "$LEDGER" < <(till 收银一 pw1 A)
journey_start B --database "$LEDGER" < <(till 收银二 pw2 B)
wait_for in-A && wait_for in-B
pg_ctlcluster $PG_CLUSTER stop -m immediate
touch "$JOURNEY_TMP/stopped"
wait_for sold-A && wait_for sold-B
pg_ctlcluster $PG_CLUSTER start
journey_wait
stored=$(psql -d "${LEDGER#dbname=}" -tAc "SELECT user_name || count(*) || '/' || count(DISTINCT product_name) FROM records GROUP BY user_name ORDER BY 1")
[ "$stored" = "$(printf '收银一3/3\n收银二3/3')" ] || { echo "stored: $stored" >&2; exit 1; }
