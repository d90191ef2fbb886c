#!/usr/bin/env bash
# Builds the Debian package bumple_<version>_<arch>.deb in build-package/ (Release, the
# program only, with Debian's standard hardening flags) and checks it: lintian without
# errors or warnings, the menu entry, the AppStream metadata and the manual page through
# their validators, the dependencies, a stripped binary, and a program that runs from the
# unpacked package and finds its help there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
# bindnow and PIE too: the package is what users run.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
"$top/scripts/install-deps.sh" package

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "${BUMPLE_JOBS:-2}" -- --quiet
rm -f "$build"/bumple_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/bumple_*_"$(dpkg --print-architecture)".deb)
[ -f "$deb" ] || { echo "no package in $build" >&2; exit 1; }

echo "== validators"
desktop-file-validate "$top/res/example.quellmoor.Bumple.desktop"
appstreamcli validate --no-net "$build/packaging/example.quellmoor.Bumple.metainfo.xml"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$build/packaging/bumple.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings" >&2; exit 1; }
echo "manual page: no warnings"

echo "== lintian"
lintian --fail-on error,warning --display-info --pedantic "$deb"

echo "== control"
dpkg-deb --info "$deb" control
depends=$(dpkg-deb --field "$deb" Depends)
for wanted in qt6-qpa-plugins libqt6svg6 hicolor-icon-theme libqt6widgets6 libc6; do
    grep -qw "$wanted" <<<"$depends" || { echo "Depends lacks $wanted" >&2; exit 1; }
done
# The SVG plugins wherever they are a package of their own.
grep -qF 'qt6-svg-plugins | libqt6svg6 (<< 6.7.2-5~)' <<<"$depends" ||
    { echo "Depends lacks the SVG plugins: $depends" >&2; exit 1; }
recommends=$(dpkg-deb --field "$deb" Recommends)
[ "$recommends" = "xdg-utils, qt6-wayland" ] || { echo "Recommends: $recommends" >&2; exit 1; }

echo "== unpacked"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
file "$unpacked/usr/bin/bumple" | grep -q ', stripped' || { echo "bumple is not stripped" >&2; exit 1; }
for path in usr/share/applications/example.quellmoor.Bumple.desktop \
    usr/share/doc/bumple/README.md usr/share/doc/bumple/docs/manual.html \
    usr/share/doc/bumple/copyright usr/share/man/man1/bumple.1.gz \
    usr/share/metainfo/example.quellmoor.Bumple.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/bumple.png usr/share/icons/hicolor/scalable/apps/bumple.svg; do
    [ -f "$unpacked/$path" ] || { echo "missing /$path" >&2; exit 1; }
done
if ldd "$unpacked/usr/bin/bumple" | grep -q 'not found'; then
    ldd "$unpacked/usr/bin/bumple" >&2
    exit 1
fi
"$unpacked/usr/bin/bumple" --version
echo "== $deb ($(du -k "$deb" | cut -f1) KiB)"
