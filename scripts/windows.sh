#!/usr/bin/env bash
# Kivaro for Windows 10 and 11 (x64), built on Debian 12 from Debian's own packages and source packages.
#
# First it makes the toolchain, once, into a cache folder keyed by the versions of its sources: SQLite, zlib,
# libsodium, OpenSSL, libpq and libxlsxwriter, then Qt's base modules, each cross-built with mingw-w64 (posix
# threads). Nothing is downloaded from anywhere but Debian's archive, and every source package is checked against
# the SHA-256 of its .dsc pinned below (dpkg-source then checks the tarballs against the .dsc).
#
#   bash scripts/windows.sh              the toolchain, in ~/.cache/kivaro-windows (KIVARO_WINDOWS_CACHE)
#
# Cold, the toolchain takes most of an hour on two cores; warm, nothing is rebuilt.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${KIVARO_WINDOWS_CACHE:-$HOME/.cache/kivaro-windows}
JOBS=${KIVARO_WINDOWS_JOBS:-$(nproc)}
HOST=x86_64-w64-mingw32

# Source package, version, SHA-256 of its .dsc.
SOURCES=(
  "sqlite3 3.40.1-2+deb12u2 ee3459ae9d00939741c7708fc1b8ce1bde12d8c3fb1dfa005bbbc8651d884e23"
  "zlib 1:1.2.13.dfsg-1 3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8"
  "libsodium 1.0.18-1+deb12u1 2c23c57b5a9385dab5a1916014c9b5f2cdd7dadeb8a35b28c1bfb603ce7095c4"
  "openssl 3.0.20-1~deb12u2 a614474a2773c23b10c0d65f4eccbcf93fdac4749afb7c26d76e1b0340154d3d"
  "postgresql-15 15.18-0+deb12u1 d940b57dd029ef0712212164410fcb51854c883f3fc0c3a11486acdfd2ca5947"
  "libxlsxwriter 1.1.4-2 8e53fa5625ec415e16f62411036de83eed6ec93a3499c4e159d5b119dbbc81ba"
  "qt6-base 6.4.2+dfsg-10 1b4b5c8610a553d4211fa81e268b1a3b0a6339ae5444fdb7e60d7616da651970"
)
# The host's Qt tools (moc, rcc, uic) must be the version of the Qt built for Windows.
QT_VERSION=6.4.2

say() { printf '\n== %s\n' "$*" >&2; }
fail() {
  printf 'windows.sh: %s\n' "$*" >&2
  exit 1
}

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools nsis wine wine64 dpkg-dev tcl cmake ninja-build
    pkg-config perl bison flex autoconf automake libtool zip xvfb xauth fonts-arphic-uming qt6-base-dev
    qt6-base-dev-tools)
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  local host_qt
  host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev)
  [[ $host_qt == "$QT_VERSION"* ]] || fail "the host's Qt is $host_qt; the Windows build needs $QT_VERSION"
}

# The toolchain's folder: a key made of the sources' versions and of this script's build steps.
toolchain_key() {
  {
    printf '%s\n' "${SOURCES[@]}"
    sed -n '/^# --- build steps/,/^# --- end of build steps/p' "$0"
  } | sha256sum | cut -c1-16
}

# Debian's source packages through an apt state of our own: the system's sources stay as they are.
fetch_sources() {
  local apt="$CACHE/apt" src="$CACHE/src"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$src"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$apt/sources.sources"
  local options=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt/parts"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "Debug::NoLocking=1")
  mkdir -p "$apt/parts"
  cp "$apt/sources.sources" "$apt/parts/debian-src.sources"
  local need=0
  for entry in "${SOURCES[@]}"; do
    read -r name version sum <<<"$entry"
    local plain=${version#*:}
    [ -f "$src/${name}_${plain}.dsc" ] || need=1
  done
  if [ $need = 1 ]; then
    say "fetching Debian's source packages"
    apt-get "${options[@]}" update -qq
    for entry in "${SOURCES[@]}"; do
      read -r name version sum <<<"$entry"
      local plain=${version#*:}
      [ -f "$src/${name}_${plain}.dsc" ] && continue
      (cd "$src" && apt-get "${options[@]}" source --download-only -qq "$name=$version") ||
        fail "Debian's archive did not give the source of $name $version"
    done
  fi
  for entry in "${SOURCES[@]}"; do
    read -r name version sum <<<"$entry"
    local plain=${version#*:}
    echo "$sum  $src/${name}_${plain}.dsc" | sha256sum --quiet -c - ||
      fail "${name}_${plain}.dsc is not the one this script was written for"
  done
}

# Unpacks a source package (checking its tarballs against the .dsc) into the build folder; prints the folder.
unpack() {
  local name=$1 version=$2 plain=${2#*:}
  local into="$BUILD/$name"
  if [ ! -d "$into" ]; then
    # The pinned .dsc is the trust: dpkg-source refuses a tarball whose checksum is not the .dsc's (and only warns
    # that no Debian keyring is there to check the .dsc's signature).
    dpkg-source -x "$CACHE/src/${name}_${plain}.dsc" "$into" >/dev/null 2>"$BUILD/$name-unpack.log" ||
      fail "$name did not unpack; see $BUILD/$name-unpack.log"
  fi
  echo "$into"
}

version_of() {
  local entry
  for entry in "${SOURCES[@]}"; do
    read -r name version sum <<<"$entry"
    [ "$name" = "$1" ] && echo "$version" && return
  done
}

# --- build steps (their text is part of the toolchain's key)
write_cmake_toolchain() {
  cat >"$PREFIX/win64.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $HOST-gcc-posix)
set(CMAKE_CXX_COMPILER $HOST-g++-posix)
set(CMAKE_RC_COMPILER $HOST-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$HOST $PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
EOF
}

build_sqlite() {
  [ -f "$PREFIX/bin/libsqlite3-0.dll" ] && return
  say "SQLite"
  local dir
  dir=$(unpack sqlite3 "$(version_of sqlite3)")
  # The amalgamation is generated on the host (it needs tclsh and a host compiler), then cross-compiled as one DLL
  # that the program and Qt's SQLite driver share: two copies would be two engines on one connection.
  mkdir -p "$BUILD/sqlite-host"
  (cd "$BUILD/sqlite-host" && "$dir/configure" --disable-tcl >/dev/null && make -s sqlite3.c sqlite3.h >/dev/null)
  local flags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3
    -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_RTREE -DSQLITE_ENABLE_JSON1
    -DSQLITE_SECURE_DELETE -DSQLITE_USE_URI=1 -DSQLITE_ENABLE_DBSTAT_VTAB)
  mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
  $HOST-gcc-posix "${flags[@]}" -shared -o "$PREFIX/bin/libsqlite3-0.dll" "$BUILD/sqlite-host/sqlite3.c" \
    -Wl,--out-implib,"$PREFIX/lib/libsqlite3.dll.a"
  cp "$BUILD/sqlite-host/sqlite3.h" "$dir/src/sqlite3ext.h" "$PREFIX/include/"
  printf 'prefix=%s\nName: sqlite3\nDescription: SQLite\nVersion: 3.40.1\nLibs: -L${prefix}/lib -lsqlite3\nCflags: -I${prefix}/include\n' \
    "$PREFIX" >"$PREFIX/lib/pkgconfig/sqlite3.pc"
}

build_zlib() {
  [ -f "$PREFIX/lib/libz.a" ] && return
  say "zlib"
  local dir
  dir=$(unpack zlib "$(version_of zlib)")
  (cd "$dir" && CHOST=$HOST CC=$HOST-gcc-posix AR=$HOST-ar RANLIB=$HOST-ranlib ./configure --static --prefix="$PREFIX" >/dev/null &&
    make -s -j"$JOBS" >/dev/null && make -s install >/dev/null)
}

build_sodium() {
  [ -f "$PREFIX/lib/libsodium.a" ] && return
  say "libsodium"
  local dir
  dir=$(unpack libsodium "$(version_of libsodium)")
  # Debian's source keeps only what configure is made from.
  [ -x "$dir/configure" ] || (cd "$dir" && autoreconf -fi >/dev/null 2>&1)
  (cd "$dir" && ./configure -q --host=$HOST CC=$HOST-gcc-posix --prefix="$PREFIX" --disable-shared \
    --enable-static >/dev/null && make -s -j"$JOBS" >/dev/null && make -s install >/dev/null)
}

build_openssl() {
  [ -f "$PREFIX/lib/libssl.dll.a" ] && return
  say "OpenSSL"
  local dir
  dir=$(unpack openssl "$(version_of openssl)")
  (cd "$dir" && CC=gcc-posix ./Configure mingw64 --cross-compile-prefix=$HOST- --prefix="$PREFIX" --libdir=lib \
    shared no-tests >/dev/null && make -s -j"$JOBS" >/dev/null && make -s install_sw >/dev/null)
}

build_libpq() {
  [ -f "$PREFIX/bin/libpq.dll" ] && return
  say "libpq"
  local dir
  dir=$(unpack postgresql-15 "$(version_of postgresql-15)")
  (cd "$dir" && ./configure -q --host=$HOST CC=$HOST-gcc-posix --prefix="$PREFIX" --with-openssl \
    --without-readline --without-zlib --without-icu --without-gssapi --without-ldap --without-perl \
    --without-python --without-tcl CPPFLAGS="-I$PREFIX/include" LDFLAGS="-L$PREFIX/lib" >/dev/null &&
    make -s -C src/include install >/dev/null && make -s -C src/interfaces/libpq -j"$JOBS" install >/dev/null)
}

build_xlsxwriter() {
  [ -f "$PREFIX/lib/libxlsxwriter.a" ] && return
  say "libxlsxwriter"
  local dir
  dir=$(unpack libxlsxwriter "$(version_of libxlsxwriter)")
  cmake -S "$dir" -B "$BUILD/xlsxwriter-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PREFIX/win64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF -DZLIB_ROOT="$PREFIX" \
    >/dev/null
  cmake --build "$BUILD/xlsxwriter-build" -j"$JOBS" >/dev/null
  cmake --install "$BUILD/xlsxwriter-build" >/dev/null
}

build_qtbase() {
  [ -f "$PREFIX/bin/qt-cmake" ] && return
  say "Qt $QT_VERSION (base modules; the longest step)"
  local dir
  dir=$(unpack qt6-base "$(version_of qt6-base)")
  # Debian's source leaves out Qt's own SQLite, wintab and iaccessible2: SQLite is ours, tablets are off, and
  # UI Automation (accessibility) needs none of them.
  cmake -S "$dir" -B "$BUILD/qtbase-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PREFIX/win64.cmake" -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_accessibility=ON -DFEATURE_opengl_desktop=ON \
    -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON \
    -DSQLite3_INCLUDE_DIR="$PREFIX/include" -DSQLite3_LIBRARY="$PREFIX/lib/libsqlite3.dll.a" \
    -DFEATURE_sql_psql=ON -DPostgreSQL_INCLUDE_DIR="$PREFIX/include" -DPostgreSQL_LIBRARY="$PREFIX/lib/libpq.a" \
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF \
    -DFEATURE_sql_db2=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=OFF -DFEATURE_freetype=ON \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF \
    >"$BUILD/qtbase-configure.log" 2>&1 || fail "Qt's configuration failed; see $BUILD/qtbase-configure.log"
  grep -E "Using system provided SQLite|PostgreSQL|QTabletEvent|Accessibility" "$BUILD/qtbase-configure.log" >&2 || true
  nice cmake --build "$BUILD/qtbase-build" -j"$JOBS" >"$BUILD/qtbase-build.log" 2>&1 ||
    fail "Qt's build failed; see $BUILD/qtbase-build.log"
  cmake --install "$BUILD/qtbase-build" >/dev/null
}
# --- end of build steps

install_packages
KEY=$(toolchain_key)
PREFIX="$CACHE/toolchain-$KEY"
BUILD="$CACHE/build-$KEY"
mkdir -p "$PREFIX" "$BUILD"
fetch_sources
started=$SECONDS
write_cmake_toolchain
build_sqlite
build_zlib
build_sodium
build_openssl
build_libpq
build_xlsxwriter
build_qtbase
say "toolchain ready in $PREFIX ($((SECONDS - started)) s)"
