# A cashier whose server is away: logs in while it is stopped, sells 100 lines in 20 saves while it stops and starts
# twice more, sees no box but the answers to 完成, and every line reaches the server once.
source "$(dirname "$0")/lib.sh"
server_ledger
server_account 收银员 pw1
computer till
# The first login needs the server: it leaves the verifier that lets the account log in offline later.
journey till --database "$LEDGER" <<'STEPS'
window frmLogin
clear frmLogin/ComboBox1
type frmLogin/ComboBox1 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text LabelOutbox = ""
close frmMain
STEPS
pg_ctlcluster $PG_CLUSTER stop -m immediate

# Five lines a save, typed from the keyboard; the server stops after the fifth save and starts after the tenth, and
# again at the fifteenth and the twentieth.
{
  cat <<'STEPS'
window frmLogin
text frmLogin/ComboBox1 = 收银员
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text LabelOutbox ~ 离线
STEPS
  for save in $(seq 1 20); do
    for line in $(seq 1 5); do
      cat <<STEPS
type ComboBox1 商品$line
key ComboBox1 Return
type ComboBox2 $save
key ComboBox2 Return
type ComboBox3 $line.$save
key ComboBox3 Return
type ComboBox4 1
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 $line
STEPS
    done
    cat <<STEPS
click Button4
box ok
rows ListView1 0
STEPS
    case $save in
      5) echo 'shell pg_ctlcluster ${PG_CLUSTER} start' ; echo 'sleep 7000' ;;
      10) echo 'shell pg_ctlcluster ${PG_CLUSTER} stop -m immediate' ;;
      15) echo 'shell pg_ctlcluster ${PG_CLUSTER} start' ;;
    esac
  done
  cat <<'STEPS'
timeout 60
text LabelOutbox = ""
close frmMain
STEPS
} | journey till --database "$LEDGER"

stored=$(psql -d "${LEDGER#dbname=}" -tAc "SELECT count(*), count(DISTINCT (product_name, quantity, received)) FROM records")
[ "$stored" = "100|100" ] || { echo "the server holds $stored lines (all|distinct), not 100|100" >&2; exit 1; }
