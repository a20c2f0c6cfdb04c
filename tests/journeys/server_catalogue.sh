# 商品资料 on a server ledger belongs to the shop: the owner adds and imports products, a cashier sees them without
# being able to change them (in the window, or with psql and the till's password), and the catalogue comes through a
# backup and restore and copies to and from a file ledger.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
server_account 老板 pw3
"$KIVARO_BIN" --database "$LEDGER" --owner 老板 >/dev/null
database=${LEDGER#dbname=}
computer boss
computer till
computer copy
printf '品名,条码,单价,单位成本\r\n香皂,111,3.50,2\r\n' >"$JOURNEY_TMP/more.csv"
login() {
  printf 'window frmLogin\nclear frmLogin/ComboBox1\ntype frmLogin/ComboBox1 %s\ntype frmLogin/Edit1 %s\n' "$1" "$2"
  printf 'key frmLogin/Edit1 Return\nwindow frmMain\nclick LabelMore\naction actProducts\nwindow frmProducts\n'
}
journey boss --database "$LEDGER" <<STEPS
$(login 老板 pw3)
type EditName 毛巾
type EditCode 6901234567892
type EditPrice 12.50
type EditCost 7
click btnAdd
rows ListProducts 1
click btnImport
type fileNameEdit $JOURNEY_TMP/more.csv
key fileNameEdit Return
box yes "导入 1 个商品？"
box ok "商品资料现有 2 个商品"
row ListProducts 1 = "香皂 | 111 | 3.50 | 2.00"
click btnClose
close frmMain
STEPS
journey till --database "$LEDGER" <<STEPS
$(login 收银员 pw1)
rows ListProducts 2
row ListProducts 0 = "毛巾 | 6901234567892 | 12.50 | 7.00"
text LabelCount ~ 只有店主可以修改
enabled btnAdd no
enabled btnImport no
enabled btnExport yes
click btnClose
close frmMain
STEPS
# The till's credentials with psql change nothing and lock nothing.
as_till() { PGUSER=收银员 PGPASSWORD=pw1 psql -X -q -d "$database" -tAc "$1" 2>&1 || true; }
[ "$(as_till "SELECT kivaro_catalogue_put(NULL, '假货', NULL, 1, 1)")" = 0 ]
[ "$(as_till "SELECT kivaro_catalogue_remove('毛巾')")" = 0 ]
as_till "DELETE FROM catalogue" | grep -q 'permission denied'
as_till "UPDATE catalogue SET price = 1" | grep -q 'permission denied'
as_till "BEGIN; LOCK TABLE catalogue IN ACCESS EXCLUSIVE MODE" | grep -q 'permission denied'
as_till "SELECT kivaro_lock('catalogue', '', true)" | grep -q "not the account's to take"
count() { psql -X -d "$database" -tAc "SELECT count(*) || ' ' || sum(price) FROM catalogue"; }
[ "$(count)" = "2 1600" ]
# Backup, a product deleted, restore: it is back.
"$KIVARO_BIN" --database "$LEDGER" --backup "$JOURNEY_TMP/backup.sjk" >/dev/null
psql -X -q -d "$database" -c "DELETE FROM catalogue WHERE product_name = '香皂'"
"$KIVARO_BIN" --database "$LEDGER" --restore "$JOURNEY_TMP/backup.sjk" --yes >/dev/null
[ "$(count)" = "2 1600" ]
# To a file and back into a new server ledger.
mkdir -p "$JOURNEY_TMP/copy/data/Kivaro"
on copy --copy "$LEDGER" "$JOURNEY_TMP/copy/data/Kivaro/db.sjk" >/dev/null
python3 - "$JOURNEY_TMP/copy/data/Kivaro/db.sjk" <<'PY'
import sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute("SELECT Code, Price, Cost FROM Catalogue ORDER BY ID").fetchall()
# Each of the two accounts has the shop's catalogue.
assert rows == [("6901234567892", 1250, 700), ("111", 350, 200)] * 2, rows
PY
first=$database
server_ledger
database=${LEDGER#dbname=}
on copy --copy "$JOURNEY_TMP/copy/data/Kivaro/db.sjk" "$LEDGER" >/dev/null
[ "$(count)" = "2 1600" ]
JOURNEY_ROLES+=(收银员 老板)
