# A window that crashed inside a sandbox of its own (a PID namespace, where every program is process 1) gives its kept
# lines back to the next window, which runs as process 1 too: a session lives while its process holds its lock, not
# while some process has its number.
source "$(dirname "$0")/lib.sh"
unshare --pid --fork --mount-proc true 2>/dev/null || { echo "no PID namespaces here: skipped"; exit 77; }
export JOURNEY_WRAP="unshare --pid --fork --mount-proc --kill-child"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
text frmLogin/ComboBox1 = 张三
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return'
journey_steps shop <<STEPS
$login
window frmMain
type ComboBox1 乙
type ComboBox2 1
type ComboBox3 20
type ComboBox4 1
click Button1
rows ListView1 1
shell touch ${JOURNEY_TMP}/kept
timeout 120000
sleep 100000
STEPS
(journey_play shop "$steps" >/dev/null 2>&1 || true) &
player=$!
for _ in $(seq 300); do [ -e "$JOURNEY_TMP/kept" ] && break; sleep 0.1; done
[ -e "$JOURNEY_TMP/kept" ]
# The sandbox's process 1, seen from outside.
descendants() { local p; for p in $(pgrep -P "$1"); do echo "$p"; descendants "$p"; done; }
for p in $(descendants "$player"); do [ "$(cat /proc/$p/comm 2>/dev/null)" = kivaro ] && kill -9 "$p"; done
wait "$player"
journey shop <<STEPS
$login
box ok 已恢复上次未保存的 1 条记录
window frmMain
rows ListView1 1
row ListView1 0 ~ 乙
close frmMain
STEPS
