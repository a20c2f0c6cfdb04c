#!/usr/bin/env bash
# Sets everything up, builds the Debian package of Kivaro and installs it with apt-get, which also brings in the
# packages it depends on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -f build/kivaro_*.deb
(cd build && cpack -G DEB)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y ./build/kivaro_*.deb
