# The server is stopped before anyone logged in on this computer: the login says so in words (no English from the
# driver, no second stop after a Chinese one) and the program ends when the cashier gives up.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 新人 pw1
computer till
pg_ctlcluster $PG_CLUSTER stop -m immediate
journey till --database "$LEDGER" <<'STEPS'
box ok 连不上
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 新人
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
box ok 没有在这台电脑上登录过这个账本
click frmLogin/Button2
STEPS
