#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given set: "run" (build and run
# Bumple) or "test" (build it and run every test, the fuzzers and the sanitizer build).
set -euo pipefail

run_packages=(cmake ninja-build g++ pkgconf qt6-base-dev qt6-svg-dev libqt6svg6 libgl-dev libxcb1-dev)
test_packages=("${run_packages[@]}" clang libclang-rt-14-dev xvfb openbox tint2 xdotool x11-utils
    imagemagick iproute2 util-linux python3 curl dbus-daemon python3-dbus python3-gi)

case "${1:-run}" in
run) wanted=("${run_packages[@]}") ;;
test) wanted=("${test_packages[@]}") ;;
*) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
