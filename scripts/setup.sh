#!/usr/bin/env bash
# Installs the Debian packages Kivaro needs (when missing) and builds it into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
  libsodium-dev libsqlite3-dev fonts-arphic-uming desktop-file-utils appstream dpkg-dev file)
# The ledger on a server: QtSql's PostgreSQL driver and libpq, and the server itself with pg_virtualenv for the tests.
packages+=(libqt6sql6-psql libpq-dev postgresql postgresql-common)
# Exported spreadsheets are written with libxlsxwriter and read back in the tests with openpyxl.
packages+=(libxlsxwriter-dev python3-openpyxl)
# Qt's own dialogs and buttons in Chinese.
packages+=(qt6-translations-l10n)
# A desktop for the journeys that need real framed windows: a virtual screen, a window manager, xprop.
packages+=(xvfb openbox x11-utils)
# pdftotext reads the printed reports back in the tests.
packages+=(poppler-utils)
# clang and its runtimes build the fuzzers; clang-format keeps the code in one style.
packages+=(clang libclang-rt-14-dev clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
