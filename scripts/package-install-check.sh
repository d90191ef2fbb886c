#!/usr/bin/env bash
# Installs the package made by scripts/package.sh into a fresh chroot of the release that
# built it (this machine's, unless named) that has none of the build packages (mmdebstrap,
# then `apt-get install --no-install-recommends ./bumple_*.deb`: the Depends alone must do),
# and checks there that bumple runs: --version, one line and status 1 without a display,
# the SVG image plugin present, and under Xvfb with openbox and tint2 its icon drawn in the
# tray, then a clean end on SIGTERM with the settings file unchanged. Needs root; downloads
# about 170 MB from the mirror; the program runs in a private network namespace with only
# loopback names in its settings.
#
#   scripts/package-install-check.sh [PACKAGE [RELEASE]]
#       (default: build-package/bumple_*.deb, and VERSION_CODENAME of /etc/os-release)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$(echo "$top"/build-package/bumple_*_"$(dpkg --print-architecture)".deb)}
[ -f "$deb" ] || { echo "no package; run scripts/package.sh first" >&2; exit 1; }
release=${2:-$(. /etc/os-release && echo "${VERSION_CODENAME:?no release name in /etc/os-release}")}
"$top/scripts/install-deps.sh" package

root=$(mktemp -d /tmp/bumple-chroot.XXXXXX)
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT

echo "== a fresh $release in $root"
mmdebstrap --variant=apt --quiet "$release" "$root"
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
echo "== apt-get install --no-install-recommends ./$(basename "$deb")"
chroot "$root" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends ./tmp/$(basename "$deb") >/dev/null"
for dev in qt6-base-dev g++ cmake; do
    ! chroot "$root" dpkg -s "$dev" >/dev/null 2>&1 || { echo "$dev is installed" >&2; exit 1; }
done
chroot "$root" sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends xvfb openbox tint2 x11-utils imagemagick >/dev/null'

echo "== bumple in the chroot"
unshare -n chroot "$root" sh -e -c '
bumple --version
test -f /usr/share/applications/example.quellmoor.Bumple.desktop
test -f "$(dirname "$(readlink -f /usr/bin/bumple)")/../share/doc/bumple/docs/manual.html"
if env -u DISPLAY -u WAYLAND_DISPLAY bumple 2>/tmp/err; then exit 1; fi
cat /tmp/err
ls /usr/lib/*/qt6/plugins/imageformats/libqsvg.so
mkdir -p /tmp/cfg
printf "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\\\Software\\\\Quellmoor Software\\\\Bumple\\\\Settings]\r\n\"AutoStart\"=\"0\"\r\n\"ComboName0\"=\"127.0.0.1\"\r\n" >/tmp/cfg/registry.reg
cp /tmp/cfg/registry.reg /tmp/before
mkdir -m 700 /tmp/run
export DISPLAY=:42 BUMPLE_CONFIG_DIR=/tmp/cfg XDG_RUNTIME_DIR=/tmp/run
Xvfb :42 -screen 0 1024x768x24 >/dev/null 2>&1 & x=$!
sleep 2
openbox >/dev/null 2>&1 & o=$!
sleep 1
tint2 >/dev/null 2>&1 & t=$!
sleep 2
bumple & b=$!
sleep 4
icons=$(xwininfo -root -tree | awk "/\(\"bumple\" \"Bumple\"\)  22x22/ {print \$1}")
embedded=$(echo $icons | wc -w)
# A drawn icon has more than one colour.
colours=0
[ -z "$icons" ] || colours=$(import -window "${icons%% *}" -format %k info: || echo 0)
kill -TERM $b
status=0
wait $b || status=$?
kill $t $o $x
echo "tray icons: $embedded with $colours colours, exit status after SIGTERM: $status"
cmp /tmp/before /tmp/cfg/registry.reg
test "$embedded" = 1 && test "$colours" -gt 1 && test "$status" = 0'
echo "== installed and working"
