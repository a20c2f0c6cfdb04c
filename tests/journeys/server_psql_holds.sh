# Two accounts hold transactions open with psql, each with a line of its own written, one idle and one busy: another
# account's cashier sells and saves without a wait, and the owner reviews 全店 meanwhile. Only a holding account's
# own till waits, says so, and may stop waiting.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
server_account 捣乱 pw2
server_account 捣蛋 pw4
server_account 老板 pw3
"$KIVARO_BIN" --database "$LEDGER" --owner 老板 >/dev/null
database=${LEDGER#dbname=}
wait_for() { for _ in $(seq 600); do [ -e "$JOURNEY_TMP/$1" ] && return 0; sleep 0.1; done; echo "no $1" >&2; return 1; }
# The holding account's own till, logged in before its account's transaction is held.
computer own
journey_start own --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 捣乱
type frmLogin/Edit1 pw2
key frmLogin/Edit1 Return
window frmMain
shell touch ${JOURNEY_TMP}/own-in
wait-file ${JOURNEY_TMP}/held
type ComboBox1 肥皂
type ComboBox2 1
type ComboBox3 3
type ComboBox4 1
click Button1
log its save waits for its own held transaction; the cashier stops waiting and keeps the line
click Button4
cancel-wait
box ok 已经取消
rows ListView1 1
shell touch ${JOURNEY_TMP}/own-done
close frmMain
STEPS
wait_for own-in
line() {
  echo "INSERT INTO records (user_name, day, product_name, quantity, received, cost, memo) VALUES ('$1', current_date, '毛巾', 1, 100, 50, 'psql')"
}
# Idle in its transaction, with the server's limit on that turned off for its session, until the journey ends.
# psql reads from a pipe this script keeps open, so that it waits there, in its transaction.
mkfifo "$JOURNEY_TMP/idle.sql"
PGUSER=捣乱 PGPASSWORD=pw2 psql -X -q -d "$database" <"$JOURNEY_TMP/idle.sql" >/dev/null 2>&1 &
idle=$!
exec 7>"$JOURNEY_TMP/idle.sql"
printf '%s;\n' "BEGIN" "$(line 捣乱)" "SET idle_in_transaction_session_timeout = 0" >&7
PGUSER=捣蛋 PGPASSWORD=pw4 psql -X -q -d "$database" -c "BEGIN; $(line 捣蛋); SELECT pg_sleep(600)" >/dev/null 2>&1 &
busy=$!
held() {
  psql -X -d "$database" -tAc "SELECT count(*) FROM pg_stat_activity WHERE usename IN ('捣乱', '捣蛋') AND
    (state = 'idle in transaction' OR query LIKE '%pg_sleep(600)%')"
}
release() {
  psql -X -d "$database" -tAc "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename IN ('捣乱', '捣蛋')" \
    >/dev/null
  exec 7>&-
  kill $idle $busy 2>/dev/null || true
}
trap 'release; journey_cleanup' EXIT
for _ in $(seq 100); do [ "$(held)" = 2 ] && break; sleep 0.1; done
[ "$(held)" = 2 ] || { echo "psql does not hold its transactions" >&2; exit 1; }
touch "$JOURNEY_TMP/held"

computer till
journey till --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
type ComboBox1 牙刷
type ComboBox2 2
type ComboBox3 9
type ComboBox4 4
click Button1
type ComboBox1 毛巾
type ComboBox2 1
type ComboBox3 5
type ComboBox4 2
click Button1
rows ListView1 2
log another account's transactions are held: the save does not wait for them
timeout 5
click Button4
box ok 恭喜您
rows ListView1 0
close frmMain
STEPS

computer office
journey office --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 老板
type frmLogin/Edit1 pw3
key frmLogin/Edit1 Return
window frmMain
click Label2
key ComboBoxAccount Down
text ComboBoxAccount = 全店
timeout 5
click Button7
rows ListView2 2
text Label19 ~ 数量：3
key ComboBox6 Down
key ComboBox6 Down
rows ListView4 2
close frmMain
STEPS

wait_for own-done
[ "$(held)" = 2 ] || { echo "the held transactions ended before the journeys did" >&2; exit 1; }
release
journey_wait
stored=$(psql -X -d "$database" -tAc "SELECT string_agg(user_name || ':' || product_name, ',' ORDER BY id) FROM records")
[ "$stored" = "收银员:牙刷,收银员:毛巾" ] || { echo "stored: $stored" >&2; exit 1; }
