# Two windows of one user on one computer at once: each keeps and saves its own lines, the other's pending lines are
# never shown or saved twice, and a line left pending in a closed window comes back at the next login.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain'
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
journey_start shop <<STEPS
$login
$(sale 甲 10)
rows ListView1 1
shell touch ${JOURNEY_TMP}/first-kept
wait-file ${JOURNEY_TMP}/second-kept
rows ListView1 1
click Button4
box ok 恭喜您
shell touch ${JOURNEY_TMP}/first-saved
$(sale 丙 30)
rows ListView1 1
close frmMain
STEPS
journey_start shop <<STEPS
$login
wait-file ${JOURNEY_TMP}/first-kept
$(sale 乙 20)
rows ListView1 1
shell touch ${JOURNEY_TMP}/second-kept
wait-file ${JOURNEY_TMP}/first-saved
row ListView1 0 ~ 乙
click Button4
box ok 恭喜您
rows ListView1 0
close frmMain
STEPS
journey_wait
journey shop <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
box ok 已恢复上次未保存的 1 条记录
window frmMain
rows ListView1 1
row ListView1 0 ~ 丙
click Label2
click Button7
rows ListView2 2
row ListView2 0 ~ 甲
row ListView2 1 ~ 乙
close frmMain
STEPS
