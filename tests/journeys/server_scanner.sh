# A scanner at a till of a server ledger: the shop's catalogue, read at the login, serves the scans, and goes on
# serving them while the server is stopped, and at a login while it is still away (the copy the till kept); the sales
# reach the server once it is back.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
database=${LEDGER#dbname=}
computer till
psql -X -q -d "$database" -c "SELECT kivaro_catalogue_put(NULL, '毛巾', '6901234567892', 1250, 700)" >/dev/null
scan() {
  printf 'type ComboBox1 6901234567892\nkey ComboBox1 Return\ntext ComboBox1 = 毛巾\nfocus ComboBox2\n'
  printf 'type ComboBox2 %s\ntext ComboBox3 = %s\nkey ComboBox2 Return\nkey ComboBox3 Return\nkey ComboBox4 Return\n' "$1" "$2"
  printf 'key ComboBox5 Return\n'
}
journey till --database "$LEDGER" <<STEPS
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(scan 2 25.00)
rows ListView1 1
click Button4
box ok 恭喜您
shell pg_ctlcluster \${PG_CLUSTER} stop -m immediate
$(scan 3 37.50)
rows ListView1 1
click Button4
box ok
text LabelOutbox ~ 离线
shell pg_ctlcluster \${PG_CLUSTER} start
timeout 60
text LabelOutbox = ""
close frmMain
STEPS
pg_ctlcluster $PG_CLUSTER stop -m immediate
journey till --database "$LEDGER" <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text LabelOutbox ~ 离线
$(scan 4 50.00)
rows ListView1 1
click Button4
box ok
shell pg_ctlcluster \${PG_CLUSTER} start
timeout 60
text LabelOutbox = ""
close frmMain
STEPS
[ "$(psql -X -d "$database" -tAc "SELECT string_agg(quantity || ' ' || received || ' ' || cost, ',' ORDER BY quantity) FROM records")" = "2 2500 1400,3 3750 2100,4 5000 2800" ]
