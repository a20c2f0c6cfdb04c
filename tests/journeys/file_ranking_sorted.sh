# The ranking sorted by a click on its column headers: 实收 most first, again least first, 利润, then back to the
# ranking's own order with 品名; the preview prints the order shown, and the next 查看 starts unsorted again.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 %s\ntype ComboBox3 %s\ntype ComboBox4 %s\nclick Button1\n' "$@"; }
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(sale 甲 5 10 9)
$(sale 乙 3 30 5)
$(sale 丙 4 20 19.5)
rows ListView1 3
click Button4
box ok 恭喜您
click Label2
click Button7
key ComboBox6 Down
key ComboBox6 Down
key ComboBox6 Down
rows ListView5 3
row ListView5 0 ~ 甲
row ListView5 1 ~ 丙
header ListView5 实收
row ListView5 0 ~ 乙
row ListView5 2 ~ 甲
header ListView5 实收
row ListView5 0 ~ 甲
row ListView5 2 ~ 乙
header ListView5 利润
row ListView5 0 ~ 乙 | 3 | 30.00 | 5.00 | 25.00
row ListView5 1 ~ 甲
row ListView5 2 ~ 丙
text Label24 ~ 实收：60.00
click Button15
window frmPrint
close frmPrint
header ListView5 品名
row ListView5 0 ~ 甲
row ListView5 1 ~ 丙
header ListView5 利润
row ListView5 0 ~ 乙
click Button7
row ListView5 0 ~ 甲
row ListView5 1 ~ 丙
close frmMain
STEPS
