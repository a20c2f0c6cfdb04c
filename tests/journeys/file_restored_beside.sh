# A window keeps typed lines while another process restores the ledger from a backup: its 完成 stores them in the
# restored ledger (never "already saved"), and the review page, which showed the ledger before, reads it again.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
on shop --backup "$JOURNEY_TMP/before.sjk" >/dev/null
sale() { printf 'type ComboBox1 %s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$1" "$2"; }
journey_start shop <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
click Label2
click Button7
rows ListView2 0
click Label1
$(sale 乙 20)
$(sale 丙 30)
rows ListView1 2
shell touch ${JOURNEY_TMP}/kept
wait-file ${JOURNEY_TMP}/restored
click Button4
box ok 恢复
rows ListView1 0
click Label2
rows ListView2 2
row ListView2 0 ~ 乙
row ListView2 1 ~ 丙
close frmMain
STEPS
for _ in $(seq 200); do [ -e "$JOURNEY_TMP/kept" ] && break; sleep 0.1; done
on shop --restore "$JOURNEY_TMP/before.sjk" --yes >/dev/null
touch "$JOURNEY_TMP/restored"
journey_wait
