# 查找 on a server ledger: a cashier finds in the account's own lines, the owner in the whole shop's (全店), the
# ranking and totals following what was found.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
server_account 老板 pw3
"$KIVARO_BIN" --database "$LEDGER" --owner 老板 >/dev/null
computer till
computer office
login() {
  printf 'window frmLogin\nclear frmLogin/ComboBox1\ntype frmLogin/ComboBox1 %s\ntype frmLogin/Edit1 %s\n' "$1" "$2"
  printf 'key frmLogin/Edit1 Return\nwindow frmMain\n'
}
sale() {
  printf 'type ComboBox1 %s\ntype ComboBox2 %s\ntype ComboBox3 %s\ntype ComboBox4 1\n' "$1" "$2" "$3"
  [ -z "${4:-}" ] || printf 'type ComboBox5 %s\n' "$4"
  printf 'click Button1\n'
}
journey till --database "$LEDGER" <<STEPS
$(login 收银员 pw1)
$(sale 毛巾 2 20)
$(sale 牙刷 3 6 "Blue TOWEL")
$(sale 香皂 1 3)
click Button4
box ok 恭喜您
click Label2
type EditFind towel
key EditFind Return
rows ListView2 1
row ListView2 0 ~ 牙刷
close frmMain
STEPS
journey office --database "$LEDGER" <<STEPS
$(login 老板 pw3)
$(sale towel 5 50)
click Button4
box ok 恭喜您
click Label2
key ComboBoxAccount Down
text ComboBoxAccount = 全店
type EditFind TOWEL
click Button7
rows ListView2 2
text Label19 ~ 实收：56.00
key ComboBox6 Down
key ComboBox6 Down
key ComboBox6 Down
rows ListView5 2
row ListView5 0 ~ towel | 5
close frmMain
STEPS
JOURNEY_ROLES+=(收银员 老板)
