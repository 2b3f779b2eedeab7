#!/usr/bin/env bash
# The Windows build, made and tested on Debian 12: cross-builds tessaly-cli and the libraries
# without Qt (device, files, ops, sim, the Windows HID host, the registry settings) with their
# tests for 64-bit Windows with mingw-w64, runs the tests under Wine, checks tessaly-cli on the
# simulated unit, builds the NSIS installer of tessaly-cli and checks that it installs and
# uninstalls silently. Installs mingw-w64, wine and nsis (and the build tools) when missing.
#
#   BUILD_DIR   build folder (default build-windows); GoogleTest for mingw is built in it
#   WINEPREFIX  Wine's folder (default BUILD_DIR/wine, made on the first run)
#   BUILD_TYPE  default Release
#   JOBS        parallel compile and test jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build googletest mingw-w64 wine nsis nlohmann-json3-dev)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build-windows}
BUILD_TYPE=${BUILD_TYPE:-Release}
JOBS=${JOBS:-2}
mkdir -p "$BUILD_DIR"
build=$(cd "$BUILD_DIR" && pwd)
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
started=$SECONDS

# Wine: a prefix of this build's own; no Mono, no Gecko, no menu entries, no debug chatter.
export WINEPREFIX=${WINEPREFIX:-$build/wine}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
WINEPREFIX=$(cd "$WINEPREFIX" && pwd)
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
# A server that stays up between the many short runs of the tests, started before the first
# of them (a cold start takes seconds). One still up (after wineboot, or from a run stopped
# half-way) ends first.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1

echo "=== GoogleTest for mingw-w64"
gtest=$build/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$build/googletest-build" -j "$JOBS" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
fi

echo "=== cross-build ($BUILD_TYPE)"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" \
  -DTESSALY_BUILD_QT=OFF -DTESSALY_BUILD_HIDAPI=OFF -DTESSALY_BUILD_BENCH=OFF -DTESSALY_WERROR=ON \
  -DGTest_DIR="$gtest/lib/cmake/GTest" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build "$build" -j "$JOBS"

echo "=== tests under Wine"
ctest --test-dir "$build" --output-on-failure -j "$JOBS" --timeout 300

echo "=== tessaly-cli under Wine"
cli=$build/cli/tessaly-cli.exe
check=$build/cli-check
rm -rf "$check"
mkdir -p "$check/out"
wine "$cli" --version
# A new card is seeded: its maps are listed.
listing=$(wine "$cli" --simulate="$check/card" ls 'A:\Maps')
for name in Street.qxm "Track Day.qxm" Dyno.wzm; do
  grep -qF "$name" <<<"$listing" || { echo "ls 'A:\\Maps' does not list $name:" >&2; echo "$listing" >&2; exit 1; }
done
# A file with a name outside ASCII (of the unit's code page) goes to the unit and comes back byte
# for byte; a name the unit cannot store is refused before anything is sent.
refused=$'\u03a9.qxm'
head -c 100 /dev/urandom >"$check/$refused"
if wine "$cli" --simulate="$check/card" put 'A:\Maps' "$check/$refused"; then
  echo "put of $refused was not refused" >&2
  exit 1
fi
[ ! -e "$check/card/Maps/$refused" ] || { echo "$refused reached the card" >&2; exit 1; }
name=$'Stra\u00dfe Caf\u00e9.qxm'
head -c 70000 /dev/urandom >"$check/$name"
wine "$cli" --simulate="$check/card" put 'A:\Maps' "$check/$name"
wine "$cli" --simulate="$check/card" get 'A:\Maps' "$name" --to "$check/out"
cmp "$check/$name" "$check/out/$name"
cmp "$check/$name" "$check/card/Maps/$name"
# The real bus: Wine's HID devices are not the unit's; none is listed and that is no error.
wine "$cli" devices
echo "ls, put and get round trip, devices: as expected"

echo "=== installer"
rm -f "$build"/tessaly-*-win64.exe
(cd "$build" && cpack -G NSIS >/dev/null)
installer=$(echo "$build"/tessaly-*-win64.exe)
[ -f "$installer" ] || { echo "no installer in $build" >&2; exit 1; }
program_files=$WINEPREFIX/drive_c/Program\ Files/Tessaly
rm -rf "$program_files"
wine "$installer" /S
[ -f "$program_files/bin/tessaly-cli.exe" ] || { echo "the installer put no tessaly-cli.exe into $program_files/bin" >&2; exit 1; }
[ -f "$program_files/Uninstall.exe" ] || { echo "the installer made no uninstaller" >&2; exit 1; }
wine "$program_files/bin/tessaly-cli.exe" --version
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaly' >/dev/null
# The uninstaller copies itself away and runs from there: wait for the files to go.
wine "$program_files/Uninstall.exe" /S
for _ in $(seq 1 60); do
  [ -e "$program_files" ] || break
  sleep 0.5
done
if [ -e "$program_files" ]; then
  echo "the uninstaller left:" >&2
  find "$program_files" >&2
  exit 1
fi
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaly' >/dev/null 2>&1; then
  echo "the uninstaller left its entry in the list of programs" >&2
  exit 1
fi
echo "$(basename "$installer"): installs and uninstalls silently"
echo "=== Windows build and tests done in $((SECONDS - started)) s"
