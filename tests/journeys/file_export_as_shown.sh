# What a review list exports is what it shows: another window deletes a line and saves a new one after 查看, and the
# first window's 导出CSV still writes the four lines it shows; after its own delete, the three it shows.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain'
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
csv() {
  printf 'click Button8\nwindow frmPrint\nclick btnExportCsv\nchinese fileNameEdit\n'
  printf 'screenshot ${KIVARO_JOURNEY_DIR}/export-dialog.png\ntype fileNameEdit %s\n' "$1"
  printf 'key fileNameEdit Return\n'
  printf 'box ok "已导出 %s 行"\nclose frmPrint\n' "$2"
}
journey_start shop <<STEPS
$login
$(sale 甲 10)
$(sale 乙 20)
$(sale 丙 30)
$(sale 丁 40)
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 4
shell touch ${JOURNEY_TMP}/shown
wait-file ${JOURNEY_TMP}/changed
$(csv "$JOURNEY_TMP/a.csv" 4)
select ListView2 1
click Button10
box yes 真的要删除
rows ListView2 3
$(csv "$JOURNEY_TMP/b.csv" 3)
close frmMain
STEPS
journey_start shop <<STEPS
$login
wait-file ${JOURNEY_TMP}/shown
click Label2
click Button7
rows ListView2 4
select ListView2 0
click Button10
box yes 真的要删除
rows ListView2 3
click Label1
$(sale 新 50)
click Button4
box ok 恭喜您
shell touch ${JOURNEY_TMP}/changed
close frmMain
STEPS
journey_wait
names() { cut -d, -f2 "$1" | tr '\n' ' '; }
[ "$(names "$JOURNEY_TMP/a.csv")" = "品名 甲 乙 丙 丁 " ] || { echo "a.csv: $(names "$JOURNEY_TMP/a.csv")"; exit 1; }
[ "$(names "$JOURNEY_TMP/b.csv")" = "品名 甲 丙 丁 " ] || { echo "b.csv: $(names "$JOURNEY_TMP/b.csv")"; exit 1; }
