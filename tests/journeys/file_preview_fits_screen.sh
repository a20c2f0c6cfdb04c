# The print preview on a real desktop (a window manager that frames windows, a taskbar at the bottom): the whole
# window, title bar and status bar with "第 1 页 / 共 1 页" included, lies inside the work area, at 1280×800 and
# at twice the scale.
source "$(dirname "$0")/lib.sh"
desktop 1280x800 40
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
preview() {
  cat <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
click Label2
click Button7
click Button8
window frmPrint
on-screen frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
screenshot \${KIVARO_JOURNEY_DIR}/preview-$1.png
close frmPrint
gone frmPrint
close frmMain
STEPS
}
journey shop <<STEPS
window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
type ComboBox1 毛巾
type ComboBox2 1
type ComboBox3 2
type ComboBox4 1
click Button1
click Button4
box ok 恭喜您
close frmMain
STEPS
journey shop <<<"$(preview 1x)"
QT_SCALE_FACTOR=2 journey shop <<<"$(preview 2x)"
