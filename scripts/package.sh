#!/usr/bin/env bash
# Builds the Debian package of both programs with Debian's hardening flags and checks it: its
# exact file list, the hardening of its programs, lintian, the AppStream entry, the desktop entry
# and the manual pages. Prints the package's path on the last line.
#   BUILD_DIR  build folder (default: build-deb); only the shipped programs are built there
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build-deb}

# Debian's default flags with every hardening feature on: -D_FORTIFY_SOURCE=2,
# -fstack-protector-strong, -Werror=format-security, and full RELRO with BIND_NOW
# (-z relro -z now); Debian's GCC makes position-independent executables by default. Ordinary
# builds keep CMake's flags. GCC 12 reports a false -Wrestrict overlap in std::string code inlined
# under _FORTIFY_SOURCE: that one warning is not made an error (TESSALY_WERROR, as CI sets it,
# holds for every other).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags="$(dpkg-buildflags --get CXXFLAGS) -Wno-error=restrict"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# The changelog's and the manual pages' dates are the last commit's, so a commit always builds
# the same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
  export SOURCE_DATE_EPOCH
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF -DTESSALY_WERROR="${TESSALY_WERROR:-OFF}" \
  "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" \
  "-DCMAKE_STRIP=$PWD/packaging/strip-for-debian.sh" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/tessaly_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/tessaly_*.deb)

fail() { echo "$deb: $*" >&2; exit 1; }

# Exactly these files, so nothing else (a test library, a header) slips into the package.
expected="./usr/bin/tessaly
./usr/bin/tessaly-cli
./usr/lib/udev/rules.d/60-tessaly.rules
./usr/share/applications/tessaly.desktop
./usr/share/bash-completion/completions/tessaly-cli
./usr/share/doc/tessaly/changelog.gz
./usr/share/doc/tessaly/copyright
./usr/share/icons/hicolor/scalable/apps/tessaly.svg
./usr/share/man/man1/tessaly-cli.1.gz
./usr/share/man/man1/tessaly.1.gz
./usr/share/metainfo/io.github.tessaly.Tessaly.metainfo.xml
./usr/share/mime/packages/tessaly.xml"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "$deb holds:" >&2
  echo "$actual" >&2
  echo "expected:" >&2
  echo "$expected" >&2
  exit 1
fi
dpkg-deb -I "$deb" postinst >/dev/null
dpkg-deb -f "$deb" Depends

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# Hardening, read from the programs themselves: a position-independent executable, full RELRO
# (a GNU_RELRO segment and BIND_NOW), the stack protector and fortified libc calls.
for program in tessaly tessaly-cli; do
  binary=$root/usr/bin/$program
  readelf -h "$binary" | grep -q 'Type:[[:space:]]*DYN' || fail "$program is not a PIE"
  readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program has no RELRO segment"
  readelf -dW "$binary" | grep -Eq '\(BIND_NOW\)|\(FLAGS_1\).*NOW' || fail "$program is not linked with BIND_NOW"
  symbols=$(readelf --dyn-syms -W "$binary")
  grep -q '__stack_chk_fail' <<<"$symbols" || fail "$program has no stack protector"
  grep -Eq '__[a-z_]+_chk@' <<<"$symbols" || fail "$program calls no fortified function"
done
echo "$deb: both programs hardened (PIE, full RELRO, stack protector, fortified calls)"

# lintian with every tag shown: no warning and no error.
lintian_output=$(lintian -I -E --pedantic "$deb" 2>&1 || true)
[ -n "$lintian_output" ] && echo "$lintian_output"
if grep -E '^[WE]: ' <<<"$lintian_output" >/dev/null; then
  fail "lintian reports warnings or errors"
fi
echo "$deb: lintian reports no warning and no error"

appstreamcli validate --no-net "$root"/usr/share/metainfo/io.github.tessaly.Tessaly.metainfo.xml
desktop-file-validate "$root"/usr/share/applications/tessaly.desktop
echo "$deb: AppStream entry and desktop entry valid"

for page in tessaly tessaly-cli; do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page $page(1) renders with warnings: $warnings"
done
bash -n "$root"/usr/share/bash-completion/completions/tessaly-cli || fail "the bash completion does not parse"
echo "$deb: manual pages render without warnings, bash completion parses"
echo "$deb"
