#!/usr/bin/env bash
# Sets everything up, checks that the code is formatted, and runs the whole test suite on the offscreen platform,
# then the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzzer for half a minute.
# The tests labelled "server" run against a throwaway PostgreSQL cluster that pg_virtualenv makes for them and drops
# afterwards. The server's journeys (the real program against a stopped or frozen server) run in the plain build only,
# to keep the run short; the sanitized build runs every other server test and the file ledger's journeys.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-format.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 600 -LE server -j "$(nproc)"
# The sanitized build compiles, at a lower priority, while the server tests run: they wait on the server more than
# they compute.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVARO_SANITIZE=ON >/dev/null
nice -n 10 cmake --build build-asan >build-asan/build.log 2>&1 &
asan_build=$!
pg_virtualenv -t ctest --test-dir build --output-on-failure --timeout 900 -L server
wait $asan_build || {
  tail -n 60 build-asan/build.log
  exit 1
}

ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 900 -LE server -j "$(nproc)"
# The fuzzers run beside the sanitized server tests, for the same reason.
fuzz_log=$(mktemp)
nice -n 10 bash scripts/fuzz.sh 30 >"$fuzz_log" 2>&1 &
fuzzers=$!
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1 \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  pg_virtualenv -t ctest --test-dir build-asan --output-on-failure --timeout 1200 -L server -LE journey
status=0
wait $fuzzers || status=$?
cat "$fuzz_log"
rm -f "$fuzz_log"
exit $status
