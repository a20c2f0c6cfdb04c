# Lines pending when the server goes away stay on the screen, kept in the outbox, and come back online with the
# window: none is lost, none doubled, a line deleted offline stays deleted.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
computer till
journey till --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
type ComboBox1 甲
type ComboBox2 1
type ComboBox3 10
type ComboBox4 1
click Button1
type ComboBox1 乙
type ComboBox2 2
type ComboBox3 20
type ComboBox4 2
click Button1
rows ListView1 2
shell pg_ctlcluster ${PG_CLUSTER} stop -m immediate
type ComboBox1 丙
type ComboBox2 3
type ComboBox3 30
type ComboBox4 3
click Button1
text LabelOutbox ~ 离线
rows ListView1 3
row ListView1 0 ~ 甲
row ListView1 2 ~ 丙
text Label18 ~ 60.00
select ListView1 0
click Button6
box yes 真的要删除指定的记录？
rows ListView1 2
shell pg_ctlcluster ${PG_CLUSTER} start
timeout 40
text LabelOutbox = ""
timeout 20
rows ListView1 2
row ListView1 0 ~ 乙
row ListView1 1 ~ 丙
click Button4
box ok 恭喜您
rows ListView1 0
close frmMain
STEPS
db=${LEDGER#dbname=}
stored=$(psql -d "$db" -tAc "SELECT string_agg(product_name, ',' ORDER BY product_name) FROM records")
kept=$(psql -d "$db" -tAc "SELECT count(*) FROM pending_lines")
[ "$stored" = "丙,乙" ] && [ "$kept" = 0 ] || { echo "stored: $stored; still kept: $kept" >&2; exit 1; }
