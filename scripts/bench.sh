#!/usr/bin/env bash
# Builds the benchmark with optimisation into build-bench/ and runs it in full. The table goes to the terminal and to
# build-bench/bench-results.md; arguments go to kivaro_bench (for example --runs 9 or --only 2,3,s1).
# The generated database is kept in build-bench/bench-data/ for the next run. The backup cases (b1, b2) write copies of
# the 318 MB ledger into a temporary folder, about 1.3 GB at a time, removed when each case ends. The server cases
# (s1-s3) run on a throwaway PostgreSQL cluster that pg_virtualenv makes for this run and drops after it, so the
# server's copy of the data is loaded every time; KIVARO_BENCH_SERVER=0 leaves them out, and their rows then say why.
set -euo pipefail
cd "$(dirname "$0")/.."

# Setting up builds the whole program besides, so it runs only when something the benchmark needs is missing.
needed=(build-essential cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev libsodium-dev libpq-dev)
for p in "${needed[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    bash scripts/setup.sh
    break
  fi
done
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-bench --target kivaro_bench

export QT_QPA_PLATFORM=offscreen
bench=(build-bench/bin/kivaro_bench --markdown build-bench/bench-results.md)
if [ "${KIVARO_BENCH_SERVER:-1}" = 0 ]; then
  "${bench[@]}" --no-server "not wanted (KIVARO_BENCH_SERVER=0)" "$@"
elif ! command -v pg_virtualenv >/dev/null; then
  "${bench[@]}" --no-server "pg_virtualenv is not installed (Debian package postgresql-common)" "$@"
elif ! compgen -G "/usr/lib/postgresql/*/bin/postgres" >/dev/null; then
  "${bench[@]}" --no-server "no PostgreSQL server is installed (Debian package postgresql)" "$@"
else
  # -t: the cluster lives in a temporary folder of its own, also as root, beside any other throwaway cluster.
  # pg_virtualenv turns fsync off; a shop's server commits durably, as the file store does.
  pg_virtualenv -t -o fsync=on "${bench[@]}" --server "$@"
fi
