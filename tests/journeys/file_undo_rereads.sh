# An undo in 修改记录 shows at once on the review page: the same range and view read again, the list still scrolled
# where it was, with no 查看 pressed.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
lines() { for i in $(seq 1 40); do sale "品$i" "$i"; done; }
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(lines)
rows ListView1 40
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 40
select ListView2 39
click Button10
box yes
rows ListView2 39
select ListView2 35
top ListView2 !~ "| 品1 |"
click LabelMore
action actHistory
window frmHistory
row ListHistory 0 ~ 删除
click btnUndo
box yes 真的要撤销这次删除
row ListHistory 0 ~ 撤销
rows ListView2 40
row ListView2 39 ~ 品40
top ListView2 !~ "| 品1 |"
click btnClose
gone frmHistory
rows ListView2 40
close frmMain
STEPS
