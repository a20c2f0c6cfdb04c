# A scanner at the till of a file ledger: it types a code's digits and Enter; the name comes, 数量 has 1 selected, 实收
# and 成本 follow the quantity typed over it (a return's negative too), a cashier's own amount stays, and a code the
# catalogue lacks is said and left as typed. A product without prices and a name typed by hand are as before.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
printf '品名,条码,单价,单位成本\r\n毛巾,6901234567892,12.50,7\r\n牙刷,4006381333931,,\r\n' >"$JOURNEY_TMP/catalogue.csv"
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
click LabelMore
action actProducts
window frmProducts
click btnImport
type fileNameEdit $JOURNEY_TMP/catalogue.csv
key fileNameEdit Return
box yes "导入 2 个商品？"
box ok
click btnClose
gone frmProducts
type ComboBox1 6901234567892
key ComboBox1 Return
text ComboBox1 = 毛巾
focus ComboBox2
text ComboBox2 = 1
text ComboBox3 = 12.50
text ComboBox4 = 7.00
type ComboBox2 3
text ComboBox3 = 37.50
text ComboBox4 = 21.00
key ComboBox2 Return
key ComboBox3 Return
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 1
row ListView1 0 ~ 毛巾 | 3 | 37.50 | 21.00
log a return: the quantity typed negative
type ComboBox1 6901234567892
key ComboBox1 Return
type ComboBox2 -1
text ComboBox3 = -12.50
text ComboBox4 = -7.00
log the cashier's own amount stays when the quantity changes
clear ComboBox3
type ComboBox3 10
clear ComboBox2
type ComboBox2 2
text ComboBox3 = 10
text ComboBox4 = 14.00
click Button1
rows ListView1 2
row ListView1 1 ~ 毛巾 | 2 | 10.00 | 14.00
log a product without prices: the amounts stay the cashier's to type
type ComboBox1 4006381333931
key ComboBox1 Return
text ComboBox1 = 牙刷
text ComboBox3 = ""
log an unknown code is said and left as typed
clear ComboBox1
type ComboBox1 9999999999994
key ComboBox1 Return
box ok 商品资料中没有条码“9999999999994”
text ComboBox1 = 9999999999994
focus ComboBox1
log a name typed by hand, as before
clear ComboBox1
type ComboBox1 香皂
key ComboBox1 Return
focus ComboBox2
type ComboBox2 1
text ComboBox3 = ""
type ComboBox3 3
type ComboBox4 1
click Button1
rows ListView1 3
click Button4
box ok 恭喜您
close frmMain
STEPS
