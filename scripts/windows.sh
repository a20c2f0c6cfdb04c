#!/usr/bin/env bash
# Kivaro for Windows 10 and 11 (x64), built on Debian 12 from Debian's own packages and source packages.
#
# First it makes the toolchain, once, into a cache folder keyed by the versions of its sources: SQLite, zlib,
# libsodium, OpenSSL, libpq and libxlsxwriter, then Qt's base modules, each cross-built with mingw-w64 (posix
# threads). Nothing is downloaded from anywhere but Debian's archive, and every source package is checked against
# the SHA-256 of its .dsc pinned below (dpkg-source then checks the tarballs against the .dsc).
#
# Then it builds Kivaro with that toolchain and makes, in build-windows/ (KIVARO_WINDOWS_OUT):
#   Kivaro-<version>-setup.exe    the installer (NSIS): for the current user or all users, Start-menu entry, uninstaller
#   Kivaro-<version>-windows.zip  the same program to unpack and run anywhere
#
#   bash scripts/windows.sh           the toolchain (once, in ~/.cache/kivaro-windows, or KIVARO_WINDOWS_CACHE), then
#                                     the program, the installer and the zip
#   bash scripts/windows.sh --test    the same, then the tests under Wine (docs/windows.md lists them) and the
#                                     installer's silent install, first start and uninstall in a Wine prefix
#   bash scripts/windows.sh --test-installer   the same without the tests
#
# Cold, the toolchain takes most of an hour on two cores; warm, nothing of it is rebuilt.
set -euo pipefail
TEST=0
for argument in "$@"; do
  case "$argument" in
  --test) TEST=1 ;;
  --test-installer) TEST=2 ;;
  *)
    echo "usage: bash scripts/windows.sh [--test | --test-installer]" >&2
    exit 2
    ;;
  esac
done
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
  "icu 72.1-3+deb12u1 8fd50a21664422b2dd5df4e20175dce3396c89a3a85363db26dd4529bba62a92"
  "qt6-base 6.4.2+dfsg-10 1b4b5c8610a553d4211fa81e268b1a3b0a6339ae5444fdb7e60d7616da651970"
)
# The host's Qt tools (moc, rcc, uic) must be the version of the Qt built for Windows.
QT_VERSION=6.4.2
# Qt's translations as Debian's qt6-translations-l10n (of the same version, checked below) installs them.
QT_TRANSLATIONS=/usr/share/qt6/translations

say() { printf '\n== %s\n' "$*" >&2; }
fail() {
  printf 'windows.sh: %s\n' "$*" >&2
  exit 1
}

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools nsis wine wine64 dpkg-dev tcl cmake ninja-build
    poppler-utils pkg-config perl bison flex autoconf automake libtool zip xvfb xauth fonts-arphic-uming qt6-base-dev
    qt6-base-dev-tools python3 qt6-translations-l10n)
  # The host's build of the same sources writes the database template, which is an SQLite file on every system.
  packages+=(build-essential libqt6sql6-sqlite libsodium-dev libsqlite3-dev libpq-dev libxlsxwriter-dev)
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
  host_qt=$(dpkg-query -W -f='${Version}' qt6-translations-l10n)
  [[ $host_qt == "$QT_VERSION"* ]] || fail "Qt's translations are $host_qt; the Windows build needs $QT_VERSION"
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

# Qt converts GB18030, the ledger's encoding, only through ICU. ICU's build runs tools that it builds, so it is built
# for the host first, then cross-built with the host's tools.
build_icu() {
  [ -f "$PREFIX/lib/pkgconfig/icu-uc.pc" ] && return
  say "ICU"
  local dir
  dir=$(unpack icu "$(version_of icu)")
  local options=(--disable-tests --disable-samples --disable-extras --disable-layoutex)
  mkdir -p "$BUILD/icu-host" "$BUILD/icu-windows"
  (cd "$BUILD/icu-host" && "$dir/source/configure" -q "${options[@]}" >/dev/null && make -s -j"$JOBS" >/dev/null) ||
    fail "ICU's host build failed"
  (cd "$BUILD/icu-windows" && "$dir/source/configure" -q --host=$HOST --with-cross-build="$BUILD/icu-host" \
    --prefix="$PREFIX" --disable-tools "${options[@]}" CC=$HOST-gcc-posix CXX=$HOST-g++-posix >/dev/null &&
    make -s -j"$JOBS" >/dev/null && make -s install >/dev/null) || fail "ICU's Windows build failed"
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
    -DFEATURE_sql_db2=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=ON -DICU_ROOT="$PREFIX" -DFEATURE_freetype=ON \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF \
    >"$BUILD/qtbase-configure.log" 2>&1 || fail "Qt's configuration failed; see $BUILD/qtbase-configure.log"
  grep -E "Using system provided SQLite|PostgreSQL|QTabletEvent|Accessibility|ICU" "$BUILD/qtbase-configure.log" >&2 || true
  nice cmake --build "$BUILD/qtbase-build" -j"$JOBS" >"$BUILD/qtbase-build.log" 2>&1 ||
    fail "Qt's build failed; see $BUILD/qtbase-build.log"
  cmake --install "$BUILD/qtbase-build" >/dev/null
}
# --- end of build steps

# --- the program, its installer and its tests (not part of the toolchain's key)
OUT=${KIVARO_WINDOWS_OUT:-$ROOT/build-windows}
VERSION=$(sed -n 's/^project(Kivaro VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
# The compiler's runtime DLLs. Their folder is named by the compiler's version, so they are looked up once the
# compiler is installed, never before (a pattern that matches nothing would stay a pattern).
MINGW_RUNTIME=()
find_mingw_runtime() {
  local dll
  for dll in /usr/lib/gcc/$HOST/*-posix/libstdc++-6.dll /usr/lib/gcc/$HOST/*-posix/libgcc_s_seh-1.dll \
    /usr/$HOST/lib/libwinpthread-1.dll; do
    [ -f "$dll" ] || fail "the compiler's runtime has no $dll; is g++-mingw-w64-x86-64-posix installed?"
    MINGW_RUNTIME+=("$dll")
  done
}

# The PNG icons as one .ico (each size stored as PNG, as Windows Vista and later read them).
make_icon() {
  python3 - "$ROOT/packaging/icons" "$OUT/kivaro.ico" <<'PY'
import struct, sys
sizes = [16, 32, 48, 64, 128, 256]
images = [open(f"{sys.argv[1]}/kivaro-{size}.png", "rb").read() for size in sizes]
offset = 6 + 16 * len(images)
header = struct.pack("<HHH", 0, 1, len(images))
entries = b""
for size, data in zip(sizes, images):
    entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open(sys.argv[2], "wb").write(header + entries + b"".join(images))
PY
}

build_program() {
  say "Kivaro $VERSION for Windows"
  mkdir -p "$OUT"
  cmake -S "$ROOT" -B "$OUT/host" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$OUT/host.log" 2>&1 &&
    cmake --build "$OUT/host" --target kivaro_template >>"$OUT/host.log" 2>&1 ||
    fail "the host's build of the template failed; see $OUT/host.log"
  make_icon
  # A build made with another toolchain keeps that toolchain's Qt in its cache: it starts anew.
  [ "$(cat "$OUT/build/toolchain.txt" 2>/dev/null)" = "$PREFIX" ] || rm -rf "$OUT/build"
  # libsodium is linked statically: its header must not ask for a DLL.
  PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig" "$PREFIX/bin/qt-cmake" -S "$ROOT" -B "$OUT/build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-DSODIUM_STATIC" \
    -DKIVARO_HOST_TEMPLATE="$OUT/host/bin/db.sjk.new" -DKIVARO_WINDOWS_ICON="$OUT/kivaro.ico" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine >"$OUT/build.log" 2>&1 ||
    fail "the Windows build did not configure; see $OUT/build.log"
  echo "$PREFIX" >"$OUT/build/toolchain.txt"
  cmake --build "$OUT/build" -j"$JOBS" >>"$OUT/build.log" 2>&1 || fail "the Windows build failed; see $OUT/build.log"
  # The program and the tests find Qt's translations beside them, as the installed program does.
  copy_translations "$OUT/build/bin/translations"
}

# Qt's own texts (buttons, file and print dialogs) in Chinese: Debian's files of the same Qt version, which are the
# same on every system.
copy_translations() {
  mkdir -p "$1"
  local qm
  for qm in qtbase_zh_CN.qm qtbase_zh_TW.qm; do
    [ -f "$QT_TRANSLATIONS/$qm" ] || fail "no $QT_TRANSLATIONS/$qm; is qt6-translations-l10n installed?"
    cp "$QT_TRANSLATIONS/$qm" "$1/"
  done
}

# The DLLs a PE file imports.
imports() {
  $HOST-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'
}

# The program with everything it loads: Qt's libraries and plugins, SQLite, libpq with OpenSSL and the compiler's
# runtime. Every DLL any of them imports is either here or one of Windows' own.
stage_program() {
  local stage=$OUT/stage/Kivaro
  rm -rf "$OUT/stage"
  cmake --install "$OUT/build" --prefix "$stage" >/dev/null
  cp "$OUT/kivaro.ico" "$stage/"
  local module
  for module in Core Gui Widgets Sql PrintSupport Concurrent; do
    cp "$PREFIX/bin/Qt6$module.dll" "$stage/"
  done
  cp "$PREFIX/bin/libsqlite3-0.dll" "$PREFIX/bin/libpq.dll" "$PREFIX/bin/libssl-3-x64.dll" \
    "$PREFIX/bin/libcrypto-3-x64.dll" "$PREFIX"/bin/icu{uc,in,dt}[0-9]*.dll "${MINGW_RUNTIME[@]}" "$stage/"
  local plugin
  # Printing on Windows is part of Qt6PrintSupport itself, without a plugin.
  for plugin in platforms/qwindows.dll platforms/qoffscreen.dll sqldrivers/qsqlite.dll sqldrivers/qsqlpsql.dll \
    styles/qwindowsvistastyle.dll; do
    [ -f "$PREFIX/plugins/$plugin" ] || fail "Qt's build has no plugin $plugin"
    mkdir -p "$stage/plugins/$(dirname "$plugin")"
    cp "$PREFIX/plugins/$plugin" "$stage/plugins/$plugin"
  done
  copy_translations "$stage/translations"
  printf '[Paths]\nPlugins = plugins\nTranslations = translations\n' >"$stage/qt.conf"
  find "$stage" -name '*.dll' -o -name '*.exe' | while read -r file; do $HOST-strip --strip-unneeded "$file"; done
  local missing=()
  while read -r file; do
    while read -r dll; do
      [ -n "$(find "$stage" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
      case "${dll,,}" in
      kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | ole32.dll | oleaut32.dll | comdlg32.dll | \
        winspool.drv | ws2_32.dll | secur32.dll | crypt32.dll | bcrypt.dll | imm32.dll | winmm.dll | version.dll | \
        netapi32.dll | userenv.dll | uxtheme.dll | dwmapi.dll | shlwapi.dll | mpr.dll | msvcrt.dll | setupapi.dll | \
        wtsapi32.dll | d3d9.dll | d3d11.dll | dxgi.dll | dwrite.dll | d2d1.dll | opengl32.dll | authz.dll | \
        ntdll.dll | rpcrt4.dll | uiautomationcore.dll | shcore.dll | api-ms-win-*) ;;
      *) missing+=("$(basename "$file"): $dll") ;;
      esac
    done < <(imports "$file")
  done < <(find "$stage" -name '*.dll' -o -name '*.exe')
  [ ${#missing[@]} -eq 0 ] || fail "DLLs nobody ships: ${missing[*]}"
}

package_program() {
  local stage=$OUT/stage/Kivaro setup=$OUT/Kivaro-$VERSION-setup.exe zip=$OUT/Kivaro-$VERSION-windows.zip
  say "the installer and the zip"
  # What the installer puts down, and (deepest first) what its uninstaller takes away.
  python3 - "$stage" "$OUT/files.nsh" "$OUT/unfiles.nsh" <<'PY'
import os, sys
stage, files, unfiles = sys.argv[1:]
put, taken, folders = [], [], []
for top, dirs, names in sorted(os.walk(stage)):
    dirs.sort()
    relative = os.path.relpath(top, stage).replace("/", "\\")
    inside = "$INSTDIR" if relative == "." else "$INSTDIR\\" + relative
    put.append(f'SetOutPath "{inside}"')
    for name in sorted(names):
        put.append(f'File "{os.path.join(top, name)}"')
        taken.append(f'Delete "{inside}\\{name}"')
    if relative != ".":
        folders.append(f'RMDir "{inside}"')
open(files, "w").write("\n".join(put) + "\n")
open(unfiles, "w").write("\n".join(taken + sorted(folders, key=len, reverse=True)) + "\n")
PY
  rm -f "$setup" "$zip"
  makensis -V2 -DVERSION="$VERSION" -DSTAGE="$stage" -DOUTFILE="$setup" -DFILES="$OUT/files.nsh" \
    -DUNFILES="$OUT/unfiles.nsh" "$ROOT/packaging/windows/kivaro.nsi" >"$OUT/nsis.log" 2>&1 ||
    fail "makensis failed; see $OUT/nsis.log"
  (cd "$OUT/stage" && zip -q -r -9 "$zip" Kivaro)
  say "$(basename "$setup") ($(du -h "$setup" | cut -f1)) and $(basename "$zip") ($(du -h "$zip" | cut -f1)) in $OUT"
}

# Ends every program of the prefix, and Wine's server with them.
stop_wine() {
  "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
}

# A user's journey in the installed program under Wine, played by the journey driver (tests/journey/Driver.cpp),
# which the program loads as a Qt plugin: log in, sell two lines from the keyboard, save, review, preview the
# printout and export it as a PDF, with every message box and the file dialog in Chinese. The screenshots stay in
# $OUT/wine-journey.
journey_under_wine() {
  local installed=$1 dir=$OUT/wine-journey
  say "a user's journey under Wine"
  rm -rf "$dir"
  mkdir -p "$dir"
  # The installed program with the driver beside it: the install itself stays as its uninstaller knows it.
  cp -r "$(dirname "$installed")" "$dir/Kivaro"
  local driver
  driver=$(find "$OUT/build" -name '*kivaro_journey*.dll' -print -quit)
  [ -n "$driver" ] || fail "the journey driver was not built for Windows"
  mkdir -p "$dir/Kivaro/plugins/generic"
  cp "$driver" "$dir/Kivaro/plugins/generic/"
  cp "$PREFIX/bin/Qt6Test.dll" "$dir/Kivaro/"
  # A ledger of its own: the installed program's stays empty for the command line's copy that comes after.
  local ledger
  ledger=$(winepath -w "$dir/journey.sjk")
  echo pw1 | KIVARO_DATABASE=$ledger wine "$dir/Kivaro/kivaro.exe" --add-user 王五 --password-stdin \
    >"$dir/add-user.log" 2>&1 ||
    fail "the program did not add the journey's account; see $dir/add-user.log"
  local here pdf
  here=$(winepath -w "$dir")
  # Forward slashes: a quoted step takes a backslash as an escape, and Qt's file dialog takes either.
  pdf=$(winepath -w "$dir/review.pdf")
  pdf=${pdf//\\//}
  cat >"$dir/sale.steps" <<STEPS
window frmLogin
text frmLogin/ComboBox1 = 王五
type frmLogin/Edit1 pw1
key frmLogin/Edit1 Return
window frmMain
text Label3 = 当前用户：王五
focus ComboBox1
type ComboBox1 毛巾
key ComboBox1 Return
type ComboBox2 2
key ComboBox2 Return
type ComboBox3 20.50
key ComboBox3 Return
type ComboBox4 12
key ComboBox4 Return
key ComboBox5 Return
type ComboBox1 牙刷
key ComboBox1 Return
type ComboBox2 1
key ComboBox2 Return
type ComboBox3 3
key ComboBox3 Return
type ComboBox4 1
key ComboBox4 Return
key ComboBox5 Return
rows ListView1 2
screenshot $here\\sale.png
key Ctrl+S
chinese box
box enter 恭喜您，售货记录已经全部成功保存到数据库！
key Ctrl+2
focus DateTimePicker2
key DateTimePicker2 Return
rows ListView2 2
row ListView2 1 ~ 牙刷 | 1 | 3.00 | 1.00
screenshot $here\\review.png
click Button8
window frmPrint
text StatusPanel = "第 1 页 / 共 1 页"
screenshot $here\\preview.png
click btnExportPdf
chinese fileNameEdit
screenshot $here\\file-dialog.png
type fileNameEdit "$pdf"
key fileNameEdit Return
chinese box
box ok
close frmPrint
gone frmPrint
close frmMain
STEPS
  KIVARO_DATABASE=$ledger KIVARO_JOURNEY=$(winepath -w "$dir/sale.steps") KIVARO_JOURNEY_DIR=$here timeout 600 \
    wine "$dir/Kivaro/kivaro.exe" -plugin kivarojourney >"$dir/journey.log" 2>&1 || true
  stop_wine
  [ "$(cat "$dir/sale.steps.result" 2>/dev/null)" = passed ] || {
    tail -n 30 "$dir/journey.log" >&2
    fail "the journey under Wine: $(cat "$dir/sale.steps.result" 2>/dev/null || echo 'no result'); see $dir"
  }
  pdftotext "$dir/review.pdf" - | grep -q 牙刷 || fail "the PDF exported under Wine does not hold the lines"
}

# The tests under Wine: those that need no server, no real printer and no Linux tool (docs/windows.md), then the
# installer as a user meets it: silent install, first start, silent uninstall that leaves the data.
test_under_wine() {
  say "tests under Wine"
  export WINEPREFIX=$OUT/wine WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/system.reg" ] || wine wineboot --init >/dev/null 2>&1 || fail "Wine did not make its prefix"
  # Wine has no Chinese font of its own.
  cp /usr/share/fonts/truetype/arphic/uming.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
  # Wine leaves out of a program's environment every variable that starts with QT_, so Qt's settings go into the
  # prefix's own environment. On Windows the offscreen platform reads fonts from one folder only.
  local name value
  for name in QT_QPA_PLATFORM=offscreen 'QT_QPA_FONTDIR=C:\windows\Fonts'; do
    value=${name#*=}
    wine reg add 'HKCU\Environment' /v "${name%%=*}" /d "$value" /f >/dev/null 2>&1 || fail "Wine's registry refused $name"
  done
  local folders=("$PREFIX/bin" "$(dirname "${MINGW_RUNTIME[0]}")" "$(dirname "${MINGW_RUNTIME[2]}")") path=""
  for folder in "${folders[@]}"; do path+="$(winepath -w "$folder" 2>/dev/null);"; done
  if [ $TEST = 1 ]; then
    # Under Wine a test process now and then stays after its last test has passed (its output says so); one that
    # timed out runs once more.
    WINEPATH=$path ctest --test-dir "$OUT/build" -LE server --timeout 300 --repeat after-timeout:2 --output-on-failure \
      >"$OUT/wine-tests.log" 2>&1 || {
      tail -n 60 "$OUT/wine-tests.log" >&2
      fail "tests failed under Wine; see $OUT/wine-tests.log"
    }
    grep -E "tests passed|Total Test time" "$OUT/wine-tests.log" >&2
  fi

  say "the installer under Wine"
  # Wine's user is the Unix user; a per-user install goes to %LOCALAPPDATA%\Programs.
  local profile=$WINEPREFIX/drive_c/users/$(id -un)
  local appdata=$profile/AppData/Roaming installed=$profile/AppData/Local/Programs/Kivaro/kivaro.exe
  local shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kivaro/Kivaro.lnk"
  rm -rf "$appdata/Kivaro" "$(dirname "$installed")"
  wine "$OUT/Kivaro-$VERSION-setup.exe" /S /CurrentUser || fail "the silent install failed"
  [ -f "$installed" ] || fail "the installer put no kivaro.exe into the user's programs"
  [ -f "$(dirname "$installed")/uninstall.exe" ] || fail "no uninstaller beside the program"
  [ -f "$(dirname "$installed")/translations/qtbase_zh_CN.qm" ] || fail "no Chinese for Qt's dialogs beside the program"
  [ -f "$shortcut" ] || fail "no Start-menu entry"
  # The first start copies the template into %APPDATA%\Kivaro and waits in the login dialog.
  wine "$installed" >"$OUT/first-start.log" 2>&1 &
  local pid=$! deadline=$((SECONDS + 60))
  until [ -f "$appdata/Kivaro/db.sjk" ] && cmp -s "$appdata/Kivaro/db.sjk" "$(dirname "$installed")/db.sjk.new"; do
    kill -0 $pid 2>/dev/null || fail "the installed program ended before making its database; see $OUT/first-start.log"
    [ $SECONDS -lt $deadline ] || fail "no database after 60 s; see $OUT/first-start.log"
    sleep 1
  done
  kill -0 $pid 2>/dev/null || fail "the installed program did not stay in its login dialog"
  kill $pid
  stop_wine
  journey_under_wine "$installed"
  # Then its command line, on the ledger it made: lines typed elsewhere come in through --copy (the fresh ledger is
  # empty), an account is added, and the lines go out as printed pages, a PDF read back here.
  local source=$OUT/wine-source.sjk pdf=$OUT/wine-pages.pdf
  rm -f "$source" "$pdf"
  local helper=("$OUT/build/bin/kivaro-testchild.exe")
  WINEPATH=$path KIVARO_DATABASE=$(winepath -w "$source") wine "${helper[@]}" adduser 张三 pw >/dev/null 2>&1 &&
    WINEPATH=$path KIVARO_DATABASE=$(winepath -w "$source") wine "${helper[@]}" save 张三 60 installed >/dev/null 2>&1 ||
    fail "the test helper could not make a ledger to copy"
  wine "$installed" --copy "$(winepath -w "$source")" "$(winepath -w "$appdata/Kivaro/db.sjk")" >"$OUT/cli.log" 2>&1 ||
    fail "the installed program did not copy a ledger into its own; see $OUT/cli.log"
  echo 新密码 | wine "$installed" --add-user 李四 --password-stdin >>"$OUT/cli.log" 2>&1 ||
    fail "the installed program did not add an account; see $OUT/cli.log"
  echo pw | wine "$installed" --export detail 2024-01-01 2024-12-31 "$(winepath -w "$pdf")" --user 张三 \
    --password-stdin >>"$OUT/cli.log" 2>&1 || fail "the installed program did not print to PDF; see $OUT/cli.log"
  pdftotext "$pdf" - | grep -q "installed-59" || fail "the PDF does not hold the lines; see $pdf"
  # _? runs the uninstaller in place and waits for it (it then leaves itself and its folder).
  wine "$(dirname "$installed")/uninstall.exe" /S /CurrentUser "_?=$(winepath -w "$(dirname "$installed")")" ||
    fail "the silent uninstall failed"
  [ ! -f "$installed" ] && [ ! -f "$shortcut" ] || fail "the uninstaller left the program or its Start-menu entry"
  [ -f "$appdata/Kivaro/db.sjk" ] || fail "the uninstaller took the ledger"
  say "installed, started (db.sjk made from the template), used from its command line (a ledger copied in, an" \
    "account added, pages printed to PDF) and uninstalled (db.sjk kept) under Wine"
}

install_packages
find_mingw_runtime
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
build_icu
build_qtbase
say "toolchain ready in $PREFIX ($((SECONDS - started)) s)"
build_program
stage_program
package_program
[ $TEST = 0 ] || test_under_wine
say "done in $((SECONDS - started)) s"
