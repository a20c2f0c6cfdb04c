# Product names are written after each 添加, in the background: a window killed in the middle of twenty quick sales
# leaves a products file that is whole (some order of the names, never a torn file), the next start restores the
# twenty kept lines, and a window that ends well has written its last name first.
source "$(dirname "$0")/lib.sh"
computer shop
printf 'pw1\n' | on shop --add-user 张三 --password-stdin >/dev/null
login='window frmLogin
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return'
sales() {
  for i in $(seq 1 20); do printf 'type ComboBox1 品名%s\ntype ComboBox2 1\ntype ComboBox3 %s\ntype ComboBox4 1\nclick Button1\n' "$i" "$i"; done
}
journey_steps shop <<STEPS
$login
window frmMain
$(sales)
rows ListView1 20
shell kill -9 \$PPID
sleep 100000
STEPS
journey_play shop "$steps" >/dev/null 2>&1 || true
products=$(echo "$JOURNEY_TMP"/shop/data/Kivaro/*-products.txt)
if [ -e "$products" ]; then
  names=$(iconv -f GB18030 -t UTF-8 "$products" | tr -d '\r') || { echo "the products file is torn"; exit 1; }
  echo "$names" | grep -qvxE '品名([1-9]|1[0-9]|20)' && { echo "the products file holds: $names"; exit 1; }
fi
journey shop <<STEPS
$login
box ok 已恢复上次未保存的 20 条记录
window frmMain
rows ListView1 20
type ComboBox1 最后
type ComboBox2 1
type ComboBox3 1
type ComboBox4 1
click Button1
rows ListView1 21
close frmMain
STEPS
products=$(echo "$JOURNEY_TMP"/shop/data/Kivaro/*-products.txt)
first=$(iconv -f GB18030 -t UTF-8 "$products" | head -n 1 | tr -d '\r')
[ "$first" = 最后 ] || { echo "the last name written first is \"$first\""; exit 1; }
