# Printing on a computer with no printer: the preview's 打印 says so and offers 导出PDF, which writes the report.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
# No print server to ask, whatever this machine has.
export CUPS_SERVER=/nonexistent/cups.sock
journey shop <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
type ComboBox1 毛巾
type ComboBox2 2
type ComboBox3 20.50
type ComboBox4 12
click Button1
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 1
click Button8
window frmPrint
click btnPrint
box 导出PDF 没有找到打印机
type fileNameEdit ${JOURNEY_TMP}/report.pdf
key fileNameEdit Return
box ok 已导出
close frmPrint
close frmMain
STEPS
test -s "$JOURNEY_TMP/report.pdf" || { echo "journey: no PDF was written"; exit 1; }
