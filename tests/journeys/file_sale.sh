# A first sale on a file ledger: an account made in the login dialog, two lines typed from the keyboard, one
# edited and one deleted from the pending list, 完成, and the lines on the review page.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
journey shop <<'STEPS'
window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text Label3 = 当前用户：张三
type ComboBox1 毛巾
key ComboBox1 Return
focus ComboBox2
type ComboBox2 2
key ComboBox2 Return
type ComboBox3 20.50
key ComboBox3 Return
type ComboBox4 12
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 1
row ListView1 0 ~ 毛巾 | 2 | 20.50 | 12.00
type ComboBox1 牙刷
type ComboBox2 1
type ComboBox3 3
type ComboBox4 1
click Button1
rows ListView1 2
text Label18 ~ 23.50
select ListView1 1
click Button6
box yes 真的要删除指定的记录？
rows ListView1 1
click Button4
box ok 恭喜您，售货记录已经全部成功保存到数据库！
rows ListView1 0
click Label2
click Button7
rows ListView2 1
row ListView2 0 ~ 毛巾
screenshot ${KIVARO_JOURNEY_DIR}/review.png
close frmMain
STEPS
