#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one for a bounded time.
#   bash scripts/fuzz.sh [seconds per target, default 60] [executions per target: stop there instead] [targets...]
# Each target starts from its seed corpus in fuzz/<target>/corpus/ and keeps what it learns in
# build-fuzz/corpus/<target>/; an input that fails is saved as build-fuzz/artifacts/<target>/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
runs=${2:-}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decodetext quantity amount daytext products reportcut)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVARO_FUZZ=ON >/dev/null
cmake --build build-fuzz >build-fuzz/build.log 2>&1 || {
  cat build-fuzz/build.log
  exit 1
}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
limit=(-max_total_time="$seconds")
[ -n "$runs" ] && limit=(-runs="$runs")

failed=()
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
  log="build-fuzz/artifacts/$target/last-run.log"
  # Names, memos and lines are short; longer inputs only slow the search down without reaching new code.
  if build-fuzz/bin/fuzz_$target "${limit[@]}" -max_len=512 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target/" "build-fuzz/corpus/$target" "fuzz/$target/corpus" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$target")
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  corpus=$(find "build-fuzz/corpus/$target" -type f | wc -l)
  printf '%-11s %-6s %12s executions %6s s %6s inputs in corpus\n' "$target" "$status" "${executions:-?}" "${took:-?}" "$corpus"
done

if [ ${#failed[@]} -gt 0 ]; then
  for target in "${failed[@]}"; do
    echo "---- $target: build-fuzz/artifacts/$target/last-run.log" >&2
    tail -n 40 "build-fuzz/artifacts/$target/last-run.log" >&2
  done
  exit 1
fi
