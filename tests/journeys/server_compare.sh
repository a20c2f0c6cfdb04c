# Comparing on a server ledger: the owner's whole shop (全店) in February 2024 beside the period before, the
# cashier's own lines beside them a year earlier; a frozen server during a compared 查看 is given up with 取消 and
# said in words, and the next 查看 shows both periods again.
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
import() {
  printf 'click LabelMore\naction actImport\ntype fileNameEdit %s\nkey fileNameEdit Return\nwindow frmImport\n' "$1"
  printf 'click btnImportGood\nbox ok "已把 %s 条"\nclick Button4\nbox ok 恭喜您\n' "$2"
}
range() {
  printf 'key Ctrl+2\nfocus DateTimePicker2\ntype DateTimePicker2 %s\nkey DateTimePicker2 Tab\n' "$1"
  printf 'type DateTimePicker3 %s\ntext DateTimePicker3 = %s\n' "$2" "$3"
}
{
  printf '日期,品名,数量,实收,成本,备注\r\n2023-02-05,甲,2,15.00,6.00,\r\n'
  printf '2024-01-05,甲,1,10.00,4.00,\r\n2024-02-05,甲,3,30.00,12.00,\r\n2024-02-10,丙,1,5.00,1.00,\r\n'
} >"$JOURNEY_TMP/till.csv"
printf '日期,品名,数量,实收,成本,备注\r\n2024-01-20,乙,2,20.00,8.00,\r\n2024-02-06,甲,1,10.00,4.00,\r\n' \
  >"$JOURNEY_TMP/office.csv"
journey till --database "$LEDGER" <<STEPS
$(login 收银员 pw1)
$(import "$JOURNEY_TMP/till.csv" 4)
$(range 20240201 20240229 2024-02-29)
key ComboBoxCompare Down
key ComboBoxCompare Down
text ComboBoxCompare = 比去年
click Button7
key ComboBox6 Down
rows ListView3 2
row ListView3 0 = " | 2024-02-05 | 3 | 30.00 | 18.00 | 2023-02-05 | 2 | 15.00 | 9.00 | +50.0% | +100.0% | +100.0%"
text Label22 ~ "去年同期 2023-02-01 至 2023-02-28：数量 2（+100.0%）"
close frmMain
STEPS
journey office --database "$LEDGER" <<STEPS
$(login 老板 pw3)
$(import "$JOURNEY_TMP/office.csv" 2)
$(range 20240201 20240229 2024-02-29)
key ComboBoxAccount Down
text ComboBoxAccount = 全店
key ComboBoxCompare Down
text ComboBoxCompare = 比上期
click Button7
key ComboBox6 Down
key ComboBox6 Down
key ComboBox6 Down
rows ListView5 3
row ListView5 0 = " | 甲 | 4 | 40.00 | 24.00 | 1 | 10.00 | 6.00 | +300.0% | +300.0% | +300.0%"
row ListView5 1 = " | 丙 | 1 | 5.00 | 4.00 | 0 | 0.00 | 0.00 |  |  | "
row ListView5 2 = " | 乙 | 0 | 0.00 | 0.00 | 2 | 20.00 | 12.00 | -100.0% | -100.0% | -100.0%"
text Label24 ~ "上期 2024-01-03 至 2024-01-31：数量 3（+66.7%）  实收 30.00（+50.0%）"
click Button15
window frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
close frmPrint
log the server freezes during a compared 查看: 取消 gives up, the page says so and stays usable
shell \${SERVER_CTL} freeze
click Button7
cancel-wait
box ok
shell \${SERVER_CTL} thaw
timeout 60
click Button7
rows ListView5 3
row ListView5 0 ~ "甲 | 4 | 40.00 | 24.00 | 1 |"
close frmMain
STEPS
JOURNEY_ROLES+=(收银员 老板)
