# Another computer restores the server ledger from a backup while a till works: the till's next 添加 says so and goes
# back to the login, its typed lines are kept and offered again, and they are saved into the restored ledger.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
computer till
computer office
on office --database "$LEDGER" --backup "$JOURNEY_TMP/backup.sjk" >/dev/null
export OFFICE_RESTORE="env $(computer_env office) $KIVARO_BIN --database $LEDGER --restore $JOURNEY_TMP/backup.sjk --yes"
cat >"$JOURNEY_TMP/after.steps" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
box ok 已恢复上次未保存的
window frmMain
rows ListView1 1
row ListView1 0 ~ 甲
click Button4
box ok 恭喜您
close frmMain
STEPS
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
shell ${OFFICE_RESTORE} >/dev/null
after-restart ${JOURNEY_TMP}/after.steps
type ComboBox1 乙
type ComboBox2 2
type ComboBox3 20
type ComboBox4 2
click Button1
box ok 恢复
STEPS
stored=$(psql -d "${LEDGER#dbname=}" -tAc "SELECT string_agg(product_name, ',') FROM records")
[ "$stored" = "甲" ] || { echo "stored: $stored" >&2; exit 1; }
