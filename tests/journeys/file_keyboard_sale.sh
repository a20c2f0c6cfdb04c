# A cashier who never touches the mouse: logs in, changes the day, sells two lines with Enter from field to field,
# saves with Ctrl+S and Ctrl+Enter, answers the boxes with Enter, and reviews the day with Ctrl+2 and Enter in the
# day picker.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
export TODAY=$(date +%F) YESTERDAY=$(date -d yesterday +%F)
journey shop <<'STEPS'
window frmLogin
text frmLogin/ComboBox1 = 张三
focus Edit1
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text Label3 = 当前用户：张三
focus ComboBox1
key Ctrl+D
focus DateTimePicker1
text DateTimePicker1 = ${TODAY}
key DateTimePicker1 Left
text DateTimePicker1 = ${YESTERDAY}
key DateTimePicker1 Right
text DateTimePicker1 = ${TODAY}
key DateTimePicker1 Return
focus ComboBox1
type ComboBox1 毛巾
key ComboBox1 Return
type ComboBox2 2
key ComboBox2 Return
type ComboBox3 20.50
key ComboBox3 Return
type ComboBox4 12
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 1
focus ComboBox1
key Ctrl+S
chinese box
screenshot ${KIVARO_JOURNEY_DIR}/saved.png
box enter 恭喜您，售货记录已经全部成功保存到数据库！
rows ListView1 0
type ComboBox1 牙刷
key ComboBox1 Return
type ComboBox2 1
key ComboBox2 Return
type ComboBox3 3
key ComboBox3 Return
type ComboBox4 1
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 1
key Ctrl+Return
box enter 恭喜您，售货记录已经全部成功保存到数据库！
rows ListView1 0
key Ctrl+2
focus DateTimePicker2
key DateTimePicker2 Return
rows ListView2 2
row ListView2 0 ~ 毛巾 | 2 | 20.50 | 12.00
row ListView2 1 ~ 牙刷
key Ctrl+1
focus ComboBox1
no-mouse
close frmMain
STEPS
