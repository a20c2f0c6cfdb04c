#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what a desktop needs from it, and starts the installed
# program the way a menu does: through the command on the PATH, from another folder, with a fresh data folder.
# Usage: install_test.sh <cmake> <build folder>
set -euo pipefail
cmake=$1
build=$2

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Width and height from a PNG's header, as "WxH".
png_size() {
  local -a b
  read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

# The value of a key in a desktop entry's main group.
desktop_key() {
  sed -n "s/^$2=//p" "$1" | head -n 1
}

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install failed"
}

app=$prefix/lib/kivaro/kivaro
template=$prefix/lib/kivaro/db.sjk.new
[ -x "$app" ] || fail "no executable at lib/kivaro/kivaro"
[ -f "$template" ] || fail "no template beside the installed executable"
[ "$(head -c 15 "$template")" = "SQLite format 3" ] || fail "the installed template is not an SQLite database"
[ -L "$prefix/bin/kivaro" ] || fail "bin/kivaro is not a symlink"
case "$(readlink "$prefix/bin/kivaro")" in
/*) fail "bin/kivaro points at an absolute path, which breaks once the tree is packaged or moved" ;;
esac
[ "$(readlink -f "$prefix/bin/kivaro")" = "$(readlink -f "$app")" ] || fail "bin/kivaro does not lead to lib/kivaro/kivaro"

icons=$prefix/share/icons/hicolor
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/kivaro.png
  [ -f "$png" ] || fail "missing $png"
  [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is $(png_size "$png"), not ${size}x${size}"
done
grep -q "<svg" "$icons/scalable/apps/kivaro.svg" || fail "missing the scalable icon"

entry=$prefix/share/applications/kivaro.desktop
[ -f "$entry" ] || fail "missing the desktop entry"
[ "$(desktop_key "$entry" Icon)" = kivaro ] || fail "the desktop entry names an icon that is not installed"
exec_command=$(desktop_key "$entry" Exec)
[ -x "$prefix/bin/${exec_command%% *}" ] || fail "the desktop entry starts '$exec_command', which is not in bin/"

shopt -s nullglob
metainfo=("$prefix"/share/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] || fail "expected one metainfo file, found ${#metainfo[@]}"
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${metainfo[0]}")
[ "$(basename "${metainfo[0]}")" = "$id.metainfo.xml" ] || fail "the metainfo file is not named after its id '$id'"
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[0]}")
[ -f "$prefix/share/applications/$launchable" ] || fail "the metainfo launches '$launchable', which is not installed"

home=$work/home
mkdir -p "$home" "$work/data"
mkdir -m 700 "$work/runtime"
env -C / HOME="$home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
  XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen PATH="$prefix/bin:$PATH" kivaro >"$work/kivaro.log" 2>&1 &
pid=$!

# The first start copies the template into the data folder and then waits in the login dialog.
db=$work/data/Kivaro/db.sjk
want=$(stat -c %s "$template")
deadline=$((SECONDS + 30))
until [ -f "$db" ] && [ "$(stat -c %s "$db")" = "$want" ]; do
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$work/kivaro.log"
    fail "the installed program ended before creating its database"
  fi
  if [ $SECONDS -ge $deadline ]; then
    cat "$work/kivaro.log"
    fail "no database after 30 s"
  fi
  sleep 0.2
done
cmp "$template" "$db" || fail "db.sjk differs from the installed template"
kill -0 "$pid" 2>/dev/null || {
  cat "$work/kivaro.log"
  fail "the installed program did not stay up in its login dialog"
}
echo "installed program started from $prefix/bin/kivaro and created its database from the installed template"
