#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests, the fuzzers and the Debian package
# (cpack -G DEB: dpkg-shlibdeps from dpkg-dev, and file; scdoc for the manual pages; the checks
# of scripts/package.sh: lintian, appstreamcli, desktop-file-validate, man; bash-completion for
# the completion's test) need, when any is missing. Run as root (or with sudo available).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libhidapi-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth
  dpkg-dev file
  scdoc man-db lintian appstream desktop-file-utils bash-completion
  python3-numpy python3-pandas
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
