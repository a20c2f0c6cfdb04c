# A server that freezes (SIGSTOP) while the cashier works: the window keeps answering, 添加 keeps the line (offline
# if need be), and once the server thaws everything reaches it once.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
computer till
journey till --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
type ComboBox1 甲
type ComboBox2 1
type ComboBox3 10
type ComboBox4 1
click Button1
rows ListView1 1
shell ${SERVER_CTL} freeze
type ComboBox1 乙
type ComboBox2 2
type ComboBox3 20
type ComboBox4 2
click Button1
log the wait shows 取消 after a moment; the cashier gives up waiting and the till goes on offline
cancel-wait
timeout 30
text LabelOutbox ~ 离线
rows ListView1 2
click Button4
box ok
rows ListView1 0
shell ${SERVER_CTL} thaw
timeout 60
text LabelOutbox = ""
close frmMain
STEPS
stored=$(psql -d "${LEDGER#dbname=}" -tAc "SELECT string_agg(product_name, ',' ORDER BY product_name) FROM records")
[ "$stored" = "乙,甲" ] || { echo "stored: $stored" >&2; exit 1; }
