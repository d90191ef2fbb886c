#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given set: "run" (build and run
# Bumple), "test" (build it and run every test, the fuzzers and the sanitizer build) or
# "package" (build the Debian package and run the validators on it and its metadata).
set -euo pipefail

run_packages=(cmake ninja-build g++ pkgconf qt6-base-dev qt6-svg-dev libqt6svg6 libgl-dev libxcb1-dev
    librsvg2-bin)
# libclang-rt-dev is the default clang's runtime (the sanitizers and libFuzzer) on every release.
test_packages=("${run_packages[@]}" clang clang-format libclang-rt-dev git xvfb openbox tint2 xdotool
    x11-utils imagemagick iproute2 util-linux mount python3 curl dbus-daemon python3-dbus python3-gi
    sway qt6-wayland)
package_packages=("${run_packages[@]}" dpkg-dev fakeroot file lintian desktop-file-utils appstream
    man-db mmdebstrap)

case "${1:-run}" in
run) wanted=("${run_packages[@]}") ;;
test) wanted=("${test_packages[@]}") ;;
package) wanted=("${package_packages[@]}") ;;
*) echo "usage: $0 run|test|package" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for package in "${wanted[@]}"; do
    installed "$package" || missing+=("$package")
done
# Debian 13 moved Qt's SVG image and icon plugins out of libqt6svg6 into qt6-svg-plugins;
# without them the tray icon is blank. Releases before the split have no such package.
svg_plugin() { compgen -G '/usr/lib/*/qt6/plugins/imageformats/libqsvg.so' >/dev/null; }
[ ${#missing[@]} -eq 0 ] && svg_plugin && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
if ! installed qt6-svg-plugins && apt-cache show qt6-svg-plugins >/dev/null 2>&1; then
    missing+=(qt6-svg-plugins)
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
