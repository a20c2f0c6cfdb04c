# Comparing on the review page of a file ledger: February 2024 beside the period just before it and beside February
# 2023, in the daily list and the ranking, their totals lines, the printout and the exported file; 查找 narrows both
# periods, and 不对比 gives back the lists as they were.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
{
  printf '日期,品名,数量,实收,成本,备注\r\n'
  printf '2023-02-05,甲,2,15.00,6.00,\r\n'
  printf '2024-01-05,甲,1,10.00,4.00,\r\n2024-01-20,乙,2,20.00,8.00,\r\n'
  printf '2024-02-05,甲,3,30.00,12.00,\r\n2024-02-10,丙,1,5.00,1.00,\r\n'
} >"$JOURNEY_TMP/sales.csv"
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
click LabelMore
action actImport
type fileNameEdit $JOURNEY_TMP/sales.csv
key fileNameEdit Return
window frmImport
click btnImportGood
box ok "已把 5 条"
click Button4
box ok 恭喜您
log the keyboard's way to the range: Ctrl+2 puts the focus in the first day, its year chosen, and Tab goes on
key Ctrl+2
focus DateTimePicker2
type DateTimePicker2 20240201
key DateTimePicker2 Tab
type DateTimePicker3 20240229
text DateTimePicker2 = 2024-02-01
text DateTimePicker3 = 2024-02-29
key ComboBoxCompare Down
text ComboBoxCompare = 比上期
click Button7
key ComboBox6 Down
log the 29 days before: 2024-01-03 to 2024-01-31, each earlier day on the row 29 days later
rows ListView3 4
row ListView3 0 = " | 2024-02-03 | 0 | 0.00 | 0.00 | 2024-01-05 | 1 | 10.00 | 6.00 | -100.0% | -100.0% | -100.0%"
row ListView3 1 = " | 2024-02-05 | 3 | 30.00 | 18.00 | 2024-01-07 | 0 | 0.00 | 0.00 |  |  | "
row ListView3 3 ~ "2024-02-18 | 0 | 0.00 | 0.00 | 2024-01-20 | 2 | 20.00 | 12.00"
text Label22 ~ 实收：35.00
text Label22 ~ "上期 2024-01-03 至 2024-01-31：数量 3（+33.3%）  实收 30.00（+16.7%）  利润 18.00（+22.2%）"
click Button13
window frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
click btnExportCsv
type fileNameEdit $JOURNEY_TMP/daily.csv
key fileNameEdit Return
box ok "已导出 4 行"
close frmPrint
key ComboBox6 Down
key ComboBox6 Down
rows ListView5 3
row ListView5 0 = " | 甲 | 3 | 30.00 | 18.00 | 1 | 10.00 | 6.00 | +200.0% | +200.0% | +200.0%"
row ListView5 1 = " | 丙 | 1 | 5.00 | 4.00 | 0 | 0.00 | 0.00 |  |  | "
row ListView5 2 = " | 乙 | 0 | 0.00 | 0.00 | 2 | 20.00 | 12.00 | -100.0% | -100.0% | -100.0%"
text Label24 ~ "上期 2024-01-03 至 2024-01-31"
header ListView5 上期实收
row ListView5 0 ~ 乙
header ListView5 数量增减
row ListView5 0 ~ 甲
row ListView5 2 ~ 丙
click Button15
window frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
close frmPrint
log a year earlier: February 2023, whose 28 days stand beside February 2024's 29
key ComboBoxCompare Down
text ComboBoxCompare = 比去年
click Button7
rows ListView5 2
row ListView5 0 = " | 甲 | 3 | 30.00 | 18.00 | 2 | 15.00 | 9.00 | +50.0% | +100.0% | +100.0%"
text Label24 ~ "去年同期 2023-02-01 至 2023-02-28：数量 2（+100.0%）"
key ComboBox6 Up
key ComboBox6 Up
rows ListView3 2
row ListView3 0 ~ "2024-02-05 | 3 | 30.00 | 18.00 | 2023-02-05 | 2 | 15.00 | 9.00 | +50.0%"
log 查找 narrows both periods
type EditFind 丙
key EditFind Return
rows ListView3 1
row ListView3 0 ~ "2024-02-10 | 1 | 5.00 | 4.00 | 2023-02-10 | 0 |"
clear EditFind
key ComboBoxCompare Up
key ComboBoxCompare Up
text ComboBoxCompare = 不对比
click Button7
rows ListView3 2
row ListView3 0 = " | 2024-02-05 | 3 | 30.00 | 12.00 | 18.00"
text Label22 !~ 上期
close frmMain
STEPS
want=$'日期,数量,实收,利润,上期日期,上期数量,上期实收,上期利润,数量增减,实收增减,利润增减\r'
got=$(sed -n 1p "$JOURNEY_TMP/daily.csv" | sed 's/^\xef\xbb\xbf//')
[ "$got" = "$want" ] || { echo "daily.csv header: $got"; exit 1; }
grep -q '^2024-02-05,3,30.00,18.00,2024-01-07,0,0.00,0.00,,,' "$JOURNEY_TMP/daily.csv" \
  || { echo "daily.csv:"; cat "$JOURNEY_TMP/daily.csv"; exit 1; }
grep -q '^2024-02-03,0,0.00,0.00,2024-01-05,1,10.00,6.00,-100.0%,-100.0%,-100.0%' "$JOURNEY_TMP/daily.csv" \
  || { echo "daily.csv:"; cat "$JOURNEY_TMP/daily.csv"; exit 1; }
