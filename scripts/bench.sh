#!/usr/bin/env bash
# Sets everything up, builds the benchmark with optimisation into build-bench/ and runs it in full. The table goes to
# the terminal and to build-bench/bench-results.md; arguments go to kivaro_bench (for example --runs 9 or --only 2,3).
# The generated database is kept in build-bench/bench-data/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-bench --target kivaro_bench
QT_QPA_PLATFORM=offscreen build-bench/bin/kivaro_bench --markdown build-bench/bench-results.md "$@"
