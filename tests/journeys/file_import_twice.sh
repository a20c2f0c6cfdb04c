# Importing a file: its first rows shown as read, with the encoding named and the other one offered; the same file
# imported again, before and after 完成, is named as already there and its rows are not taken twice.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
printf '日期,品名,数量,实收,成本,备注\r\n2024-01-05,甲,1,10.00,4.00,\r\n2024-01-05,乙,2,20.00,8.00,大单\r\n' \
  >"$JOURNEY_TMP/sales.csv"
# GB18030 whose bytes are valid UTF-8 too (原味, 女士).
printf '2024-01-06,\xd4\xad\xce\xb6,1,1.00,0.50,\xc5\xae\xca\xbf\r\n' >"$JOURNEY_TMP/gb.csv"
import() {
  printf 'click LabelMore\naction actImport\ntype fileNameEdit %s\nkey fileNameEdit Return\nwindow frmImport\n' "$1"
}
journey shop <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
$(import "$JOURNEY_TMP/sales.csv")
text lblSummary ~ 按 UTF-8 编码读取
text lblSummary !~ 完全相同
row lvPreview 1 ~ 乙
click btnImportGood
box ok "已把 2 条"
rows ListView1 2
$(import "$JOURNEY_TMP/sales.csv")
text lblSummary ~ "2 行与已保存或列表中的记录完全相同"
click btnImportGood
box ok 都已经保存过或在列表中
rows ListView1 2
click Button4
box ok 恭喜您
$(import "$JOURNEY_TMP/sales.csv")
text lblSummary ~ "2 行与已保存或列表中的记录完全相同"
click btnImportNone
rows ListView1 0
$(import "$JOURNEY_TMP/gb.csv")
text lblSummary ~ 按 UTF-8 编码读取
row lvPreview 0 !~ 原味
click btnOtherEncoding
window frmImport
text lblSummary ~ 按 GB18030 编码读取
row lvPreview 0 ~ 原味
click btnImportGood
box ok "已把 1 条"
rows ListView1 1
row ListView1 0 ~ 原味
close frmMain
STEPS
