# 商品资料 on a file ledger: products added, a code refused when another product has it, one changed and one
# deleted, the catalogue exported and imported (a file with a wrong row takes nothing), and the catalogue still there
# after a backup, a restore and a copy to another computer.
source "$(dirname "$0")/lib.sh"
computer shop
computer other
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
printf '品名,条码,单价,单位成本\r\n香皂,111,3.50,2\r\n梳子,abc 1,1,\r\n' >"$JOURNEY_TMP/wrong.csv"
printf '品名,条码,单价,单位成本\r\n香皂,111,3.50,2\r\n毛巾,6901234567892,13.00,7.00\r\n' >"$JOURNEY_TMP/more.csv"
login() { printf 'window frmLogin\ntype frmLogin/Edit1 pw1\nkey frmLogin/Edit1 Return\nwindow frmMain\n'; }
products() { printf 'click LabelMore\naction actProducts\nwindow frmProducts\n'; }
add() {
  printf 'clear EditName\ntype EditName %s\nclear EditCode\ntype EditCode %s\nclear EditPrice\ntype EditPrice %s\n' "$1" "$2" "$3"
  printf 'clear EditCost\ntype EditCost %s\nclick btnAdd\n' "$4"
}
file_dialog() { printf 'type fileNameEdit %s\nkey fileNameEdit Return\n' "$1"; }
journey shop <<STEPS
$(login)
$(products)
rows ListProducts 0
$(add 毛巾 6901234567892 12.50 7)
$(add 牙刷 123 2 1)
rows ListProducts 2
row ListProducts 0 = "毛巾 | 6901234567892 | 12.50 | 7.00"
$(add 梳子 123 1 1)
box ok "条码“123”已经用于商品“牙刷”"
rows ListProducts 2
select ListProducts 0
text EditName = 毛巾
clear EditPrice
type EditPrice 12.80
click btnUpdate
row ListProducts 0 = "毛巾 | 6901234567892 | 12.80 | 7.00"
select ListProducts 1
click btnDelete
box yes 真的要从商品资料中删除“牙刷”？
rows ListProducts 1
click btnExport
$(file_dialog "$JOURNEY_TMP/exported.csv")
box ok "已把 1 个商品导出"
click btnImport
$(file_dialog "$JOURNEY_TMP/wrong.csv")
box ok "第 3 行 条码"
rows ListProducts 1
click btnImport
$(file_dialog "$JOURNEY_TMP/more.csv")
box yes "导入 2 个商品？"
box ok "商品资料现有 2 个商品"
row ListProducts 0 = "毛巾 | 6901234567892 | 13.00 | 7.00"
row ListProducts 1 = "香皂 | 111 | 3.50 | 2.00"
click btnClose
gone frmProducts
close frmMain
STEPS
grep -q '"毛巾","6901234567892",12.80,7.00' "$JOURNEY_TMP/exported.csv"
# Through a backup, a restore over a changed catalogue, and a copy to another computer's ledger.
on shop --backup "$JOURNEY_TMP/backup.sjk" >/dev/null
journey shop <<STEPS
$(login)
$(products)
select ListProducts 1
click btnDelete
box yes 香皂
rows ListProducts 1
click btnClose
close frmMain
STEPS
on shop --restore "$JOURNEY_TMP/backup.sjk" --yes >/dev/null
mkdir -p "$JOURNEY_TMP/other/data/Kivaro"
on shop --copy "$JOURNEY_TMP/shop/data/Kivaro/db.sjk" "$JOURNEY_TMP/other/data/Kivaro/db.sjk" >/dev/null
# A backup from another computer is checked and rebuilt, not copied: the catalogue comes through that way too.
restored=$(on other --restore "$JOURNEY_TMP/backup.sjk" --yes)
! grep -q 签名 <<<"$restored"
for computer in shop other; do
  journey "$computer" <<STEPS
$(login)
$(products)
rows ListProducts 2
row ListProducts 1 = "香皂 | 111 | 3.50 | 2.00"
click btnClose
close frmMain
STEPS
done
