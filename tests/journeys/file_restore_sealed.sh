# A backup made from 更多 is sealed by this computer: its restore says so, puts back the lines it held and starts the
# program again at the login. The same backup without its seal, as another computer's Kivaro would find it, restores
# all the same, checked and rebuilt.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain'
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
file() { printf 'type fileNameEdit %s\nkey fileNameEdit Return\n' "$1"; }
# After each restore: the two lines of the backup, not the one sold after it.
cat >"$JOURNEY_TMP/restored.steps" <<STEPS
$login
click Label2
click Button7
rows ListView2 2
row ListView2 0 ~ 乙
row ListView2 1 ~ 丙
close frmMain
STEPS
journey shop <<STEPS
$login
$(sale 乙 20)
$(sale 丙 30)
click Button4
box ok 恭喜您
click LabelMore
action actBackup
$(file "$JOURNEY_TMP/sealed.sjk")
box ok 本机 Kivaro 签名的备份
$(sale 丁 40)
click Button4
box ok 恭喜您
after-restart ${JOURNEY_TMP}/restored.steps
click LabelMore
action actRestore
$(file "$JOURNEY_TMP/sealed.sjk")
box yes 本机 Kivaro 签名的备份
box ok 数据已恢复
STEPS
# The seal is the last 56 bytes.
head -c $(($(stat -c %s "$JOURNEY_TMP/sealed.sjk") - 56)) "$JOURNEY_TMP/sealed.sjk" >"$JOURNEY_TMP/foreign.sjk"
rm -f "$JOURNEY_TMP/restored.steps.result"
journey shop <<STEPS
$login
$(sale 戊 50)
click Button4
box ok 恭喜您
after-restart ${JOURNEY_TMP}/restored.steps
click LabelMore
action actRestore
$(file "$JOURNEY_TMP/foreign.sjk")
box yes "帐户 1 个，记录 2 条，日期"
box ok 数据已恢复
STEPS
