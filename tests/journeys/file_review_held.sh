# The review page keeps what 查看 read while another process of the same user changes the day: two lines deleted and
# one saved there leave every row in its place until 查看 is pressed again. Then day summaries that another program
# broke are found after a 查看, and the views come back right without another click.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain'
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
# Another program's write to the ledger: python3 break-sums.py changes every day's count of lines.
cat >"$JOURNEY_TMP/break-sums.py" <<PY
import glob, sqlite3
db = sqlite3.connect(glob.glob("$JOURNEY_TMP/shop/data/Kivaro/*.sjk")[0])
db.execute("UPDATE DaySums SET Lines = Lines + 3")
db.commit()
PY
journey_start shop <<STEPS
$login
$(for i in 1 2 3 4 5 6; do sale "品$i" "$i"; done)
rows ListView1 6
click Button4
box ok 恭喜您
click Label2
click Button7
rows ListView2 6
row ListView2 0 ~ 品1
shell touch ${JOURNEY_TMP}/first-shown
wait-file ${JOURNEY_TMP}/second-done
rows ListView2 6
row ListView2 0 ~ 品1
row ListView2 1 ~ 品2
row ListView2 5 ~ 品6
select ListView2 3
text Label19 ~ 实收：21.00
click Button7
rows ListView2 5
row ListView2 0 ~ 品3
row ListView2 4 ~ 新
shell python3 ${JOURNEY_TMP}/break-sums.py
click Button7
rows ListView2 5
row ListView2 4 ~ 新
text Label19 ~ 实收：25.00
close frmMain
STEPS
journey_start shop <<STEPS
wait-file ${JOURNEY_TMP}/first-shown
$login
click Label2
click Button7
rows ListView2 6
select ListView2 0
click Button10
box yes
rows ListView2 5
select ListView2 0
click Button10
box yes
rows ListView2 4
click Label1
$(sale 新 7)
click Button4
box ok 恭喜您
shell touch ${JOURNEY_TMP}/second-done
close frmMain
STEPS
journey_wait
