# Helpers of the journeys: each journey is a bash script that sources this file, makes its computers and ledgers,
# and plays scripts of steps in the real kivaro through the driver (tests/journey/Driver.cpp).
#
#   computer A                 a computer of its own: home, data and settings folders
#   server_ledger              a fresh database on the server the PG* variables name, in $LEDGER
#   on A ARGS...               runs the program's command line on computer A
#   journey A [ARGS] <<EOF     plays the steps in kivaro on computer A; fails the journey when the play fails
#   JOURNEY_WRAP=...           a command the program runs under (a sandbox: unshare ...)
#   desktop WxH BOTTOM         a screen of WxH with a window manager (Xvfb, openbox) whose work area leaves BOTTOM
#                              pixels to a taskbar; the program shows its windows there, framed
#   journey_start A [ARGS]     the same in the background (its steps from stdin, not from a pipe, which would run it
#                              in a subshell); journey_wait waits for all and fails when one failed
set -euo pipefail
: "${KIVARO_BIN:?the built kivaro}" "${KIVARO_JOURNEY_LIB:?the driver library}"
JOURNEY_TMP=$(mktemp -d "${TMPDIR:-/tmp}/kivaro-journey.XXXXXX")
JOURNEY_DBS=()
JOURNEY_ROLES=()
JOURNEY_PIDS=()
JOURNEY_DESKTOP_PIDS=()
JOURNEY_COUNT=0
export PG_CLUSTER="${KIVARO_TEST_CLUSTER:-${PGVERSION:-15} regress}"
export JOURNEY_TMP

journey_cleanup() {
  local status=$?
  for pid in "${JOURNEY_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  for pid in "${JOURNEY_DESKTOP_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A server a journey froze or stopped is brought back for the tests after it.
  if [ ${#JOURNEY_DBS[@]} -gt 0 ]; then
    "$SERVER_CTL" thaw 2>/dev/null || true
    pg_ctlcluster $PG_CLUSTER start 2>/dev/null || true
    for db in "${JOURNEY_DBS[@]}"; do
      dropdb --if-exists --force "$db" 2>/dev/null || true
      psql -X -q -d postgres -c "DROP ROLE IF EXISTS \"${db}_accounts\"" 2>/dev/null || true
    done
    # Roles belong to the whole server: the next test must not meet this journey's accounts.
    for role in "${JOURNEY_ROLES[@]}"; do
      psql -X -q -d postgres -c "DROP ROLE IF EXISTS \"$role\"" 2>/dev/null || true
    done
  fi
  # KIVARO_JOURNEY_KEEP=1 keeps a passing journey's files too (its screenshots, to look at).
  if [ $status -eq 0 ] && [ -z "${KIVARO_JOURNEY_KEEP:-}" ]; then rm -rf "$JOURNEY_TMP"; else echo "journey: its files are in $JOURNEY_TMP" >&2; fi
}
trap journey_cleanup EXIT

# The driver goes into the process before anything else; a sanitized build wants its runtime first.
JOURNEY_PRELOAD="$KIVARO_JOURNEY_LIB"
if asan=$(ldd "$KIVARO_BIN" | awk '/libasan/ {print $3}') && [ -n "$asan" ]; then
  JOURNEY_PRELOAD="$asan $JOURNEY_PRELOAD"
fi

desktop() {
  command -v Xvfb >/dev/null && command -v openbox >/dev/null || {
    echo "journey: needs Xvfb and openbox (scripts/setup.sh installs them)" >&2
    exit 77
  }
  # Xvfb picks a free display itself and writes its number back: two journeys started at once never meet.
  local display
  exec {display_fd}<> <(:)
  Xvfb -displayfd "$display_fd" -screen 0 "${1}x24" -nolisten tcp >"$JOURNEY_TMP/xvfb.log" 2>&1 &
  JOURNEY_DESKTOP_PIDS+=($!)
  read -r -t 60 display <&"$display_fd" || {
    echo "journey: the X server did not start" >&2
    cat "$JOURNEY_TMP/xvfb.log" >&2
    exit 1
  }
  exec {display_fd}<&-
  export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
  # A sanitized build reports what the desktop's own libraries keep until the end as leaks: scripts/lsan.supp names them.
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/lsan.supp"
  mkdir -p "$JOURNEY_TMP/openbox"
  cat >"$JOURNEY_TMP/openbox/rc.xml" <<XML
<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><margins><top>0</top><bottom>$2</bottom><left>0</left>
<right>0</right></margins></openbox_config>
XML
  openbox --config-file "$JOURNEY_TMP/openbox/rc.xml" >"$JOURNEY_TMP/openbox.log" 2>&1 &
  JOURNEY_DESKTOP_PIDS+=($!)
  # The window manager is up when it has set the root window's work area.
  # A loaded machine (the sanitized pass beside other tests) can take a while.
  for _ in $(seq 600); do xprop -root _NET_WORKAREA 2>/dev/null | grep -q = && return; sleep 0.1; done
  echo "journey: the window manager did not start" >&2
  cat "$JOURNEY_TMP/xvfb.log" "$JOURNEY_TMP/openbox.log" >&2
  exit 1
}

computer() {
  mkdir -p "$JOURNEY_TMP/$1/home" "$JOURNEY_TMP/$1/data" "$JOURNEY_TMP/$1/config" "$JOURNEY_TMP/$1/runtime"
  chmod 700 "$JOURNEY_TMP/$1/runtime"
}

# The environment of a user on computer $1.
computer_env() {
  echo "HOME=$JOURNEY_TMP/$1/home" "XDG_DATA_HOME=$JOURNEY_TMP/$1/data" "XDG_CONFIG_HOME=$JOURNEY_TMP/$1/config" \
    "XDG_RUNTIME_DIR=$JOURNEY_TMP/$1/runtime"
}

on() {
  local name=$1
  shift
  env $(computer_env "$name") "$KIVARO_BIN" "$@"
}

server_ledger() {
  local db="kivaro_journey_$$_${#JOURNEY_DBS[@]}"
  createdb "$db"
  JOURNEY_DBS+=("$db")
  export LEDGER="dbname=$db"
}

# An account of the server ledger with its password, made by the administrator's command line.
server_account() {
  JOURNEY_ROLES+=("$1")
  printf '%s\n' "$2" | "$KIVARO_BIN" --database "$LEDGER" --add-user "$1" --password-stdin >/dev/null
}

# `shell ${SERVER_CTL} freeze` stops every process of the test's cluster as a frozen server (SIGSTOP), `thaw` lets
# them go on; nothing else on the machine is touched.
export SERVER_CTL="$JOURNEY_TMP/server-ctl.sh"
cat >"$SERVER_CTL" <<'CTL'
#!/bin/sh
set -e
dir=$(pg_conftool $PG_CLUSTER show data_directory | sed "s/.*= *//; s/'//g")
main=$(head -1 "$dir/postmaster.pid")
case "$1" in
  freeze) kill -STOP $(pgrep -P "$main") "$main" ;;
  thaw) kill -CONT "$main" $(pgrep -P "$main") ;;
esac
CTL
chmod +x "$SERVER_CTL"

journey_play() {
  local name=$1 steps=$2
  shift 2
  local result="$steps.result"
  rm -f "$result"
  local status=0
  ${JOURNEY_WRAP:-} env $(computer_env "$name") QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" LD_PRELOAD="$JOURNEY_PRELOAD" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" KIVARO_JOURNEY="$steps" KIVARO_JOURNEY_RESULT="$result" \
    KIVARO_JOURNEY_DIR="$(dirname "$steps")" "$KIVARO_BIN" "$@" || status=$?
  if [ ! -s "$result" ]; then
    echo "journey $steps: the program ended with status $status before the driver could report (a crash?)" >&2
    return 1
  fi
  if [ "$(cat "$result")" != passed ] || [ $status -ne 0 ]; then
    echo "journey $steps: $(cat "$result") (exit status $status)" >&2
    return 1
  fi
  # The program started itself again (切换用户, a restore) with the script the journey named: it must pass too.
  local next
  next=$(sed -n 's/^after-restart *//p' "$steps" | tail -1)
  if [ -n "$next" ]; then
    next=$(eval echo "$next")
    for _ in $(seq 1200); do [ -s "$next.result" ] && break; sleep 0.1; done
    if [ "$(cat "$next.result" 2>/dev/null)" != passed ]; then
      echo "journey $next (after the restart): $(cat "$next.result" 2>/dev/null || echo 'no result')" >&2
      return 1
    fi
  fi
}

# Reads the steps from stdin into the next script file of computer $1, named in $steps.
journey_steps() {
  JOURNEY_COUNT=$((JOURNEY_COUNT + 1))
  steps="$JOURNEY_TMP/$1-$JOURNEY_COUNT.steps"
  cat >"$steps"
}

journey() {
  local name=$1
  shift
  local steps
  journey_steps "$name"
  journey_play "$name" "$steps" "$@"
}

journey_start() {
  local name=$1
  shift
  local steps
  journey_steps "$name"
  journey_play "$name" "$steps" "$@" &
  JOURNEY_PIDS+=($!)
}

journey_wait() {
  local failed=0
  for pid in "${JOURNEY_PIDS[@]}"; do wait "$pid" || failed=1; done
  JOURNEY_PIDS=()
  return $failed
}
