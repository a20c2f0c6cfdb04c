# The largest numbers the entry takes, in every list that shows them: the pending lines, the four views (the ranking
# compared too), the record of changes and an import's first rows. Each quantity and amount shows all its digits; the columns widen for them.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
LONG_NAME=一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十
printf '日期,品名,数量,实收,成本,备注\r\n2024-01-05,%s,-2147483648,-1000000000000.00,1000000000000.00,\r\n' \
  "$LONG_NAME" >"$JOURNEY_TMP/big.csv"
sell() {
  printf 'type ComboBox1 %s\ntype ComboBox2 2147483647\ntype ComboBox3 1000000000000\n' "$1"
  printf 'type ComboBox4 -1000000000000\nclick Button1\n'
}
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(sell "$LONG_NAME")
$(sell 大数)
rows ListView1 2
fits ListView1 数量 实收 成本
screenshot \${KIVARO_JOURNEY_DIR}/pending.png
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 2
fits ListView2 数量 实收 成本
key ComboBox6 Down
rows ListView3 1
fits ListView3 数量 实收 成本 利润
row ListView3 0 ~ 4294967294 | 2000000000000.00 | -2000000000000.00 | 4000000000000.00
key ComboBox6 Down
rows ListView4 2
fits ListView4 数量 实收 成本 利润
key ComboBox6 Down
rows ListView5 2
fits ListView5 数量 实收 成本 利润
key ComboBoxCompare Down
click Button7
rows ListView5 2
fits ListView5 数量 实收 利润 上期数量 上期实收 上期利润
row ListView5 0 ~ "2147483647 | 1000000000000.00 | 2000000000000.00 | 0 | 0.00 | 0.00 |  |  | "
key ComboBoxCompare Up
click Button7
rows ListView5 2
key ComboBox6 Up
key ComboBox6 Up
key ComboBox6 Up
rows ListView2 2
select ListView2 0
click Button10
box yes
rows ListView2 1
click LabelMore
action actHistory
window frmHistory
fits ListHistory 内容
row ListHistory 0 ~ 2147483647 1000000000000.00 -1000000000000.00
click btnClose
gone frmHistory
click LabelMore
action actImport
type fileNameEdit $JOURNEY_TMP/big.csv
key fileNameEdit Return
window frmImport
fits lvPreview 数量 实收 成本
row lvPreview 0 ~ -2147483648
click btnImportNone
gone frmImport
close frmMain
STEPS
