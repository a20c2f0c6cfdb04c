# 查找 on the review page of a file ledger: the text is looked for in the product names and memos (Latin letters in
# either case, Chinese exactly); the detail list, its totals, the daily list and the ranking show only what it found,
# the printout too, and an empty 查找 shows every line again.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
sale() {
  printf 'type ComboBox1 %s\ntype ComboBox2 %s\ntype ComboBox3 %s\ntype ComboBox4 1\n' "$1" "$2" "$3"
  [ -z "${4:-}" ] || printf 'type ComboBox5 %s\n' "$4"
  printf 'click Button1\n'
}
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(sale 毛巾 2 20)
$(sale Towel 1 9)
$(sale 牙刷 3 6 "Blue TOWEL 赠品")
$(sale 香皂 1 3)
$(sale 毛巾 1 10)
rows ListView1 5
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 5
type EditFind towel
key EditFind Return
rows ListView2 2
row ListView2 0 ~ Towel
row ListView2 1 ~ 牙刷
text Label19 ~ 实收：15.00
key ComboBox6 Down
key ComboBox6 Down
key ComboBox6 Down
rows ListView5 2
row ListView5 0 ~ 牙刷 | 3
click Button15
window frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
close frmPrint
clear EditFind
type EditFind 巾
click Button7
rows ListView5 1
row ListView5 0 ~ 毛巾 | 3 | 30.00
key ComboBox6 Up
key ComboBox6 Up
rows ListView3 1
row ListView3 0 ~ 3 | 30.00
log nothing found: empty lists, no box
clear EditFind
type EditFind 没有的东西
click Button7
rows ListView3 0
clear EditFind
click Button7
rows ListView3 1
row ListView3 0 ~ 8 | 48.00
close frmMain
STEPS
