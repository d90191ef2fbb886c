#!/usr/bin/env bash
# Runs the README's test command in its quick form (BUMPLE_QUICK=1 scripts/test.sh) in a
# fresh chroot of a Debian release, as a new user of that release would: mmdebstrap makes
# the bare system, the sources (tracked and new files, as they are in the working tree) are
# copied in, and scripts/test.sh installs what it needs there, builds and runs the suite.
# Needs root; downloads about 320 MB from the Debian mirror and builds Bumple from scratch in
# the chroot (tens of minutes), so `.ci/run` does not run it.
#
#   scripts/chroot-test.sh [RELEASE]    (default: trixie, Debian 13)
#   BUMPLE_QUICK=0 scripts/chroot-test.sh    the whole command: fuzzers and sanitizer pass too
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
release=${1:-trixie}
[ "$(id -u)" -eq 0 ] || { echo "needs root (chroot, mounts and namespaces)" >&2; exit 1; }
command -v mmdebstrap >/dev/null || "$top/scripts/install-deps.sh" package

# /var/tmp rather than /tmp: the build there takes about a gigabyte.
root=$(mktemp -d /var/tmp/bumple-chroot.XXXXXX)
# The mounts below live in a namespace of their own; --one-file-system guards against any
# that did not go with it.
trap 'rm -rf --one-file-system "$root"' EXIT

echo "== a fresh $release in $root"
mmdebstrap --variant=apt --quiet "$release" "$root"

echo "== the sources in $root/src"
mkdir "$root/src"
(cd "$top" && git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf -) | tar -C "$root/src" -xf -
# scripts/check-format.sh lists the files with git: the copy is a repository of its own.
git -C "$root/src" init -q
git -C "$root/src" add -A

echo "== BUMPLE_QUICK=${BUMPLE_QUICK:-1} scripts/test.sh in the $release chroot"
started=$(date +%s)
# The chroot's root is made a mount point, so that unshare -m (scripts/netns.sh) works inside.
unshare -m --propagation private sh -e -c '
mount --bind "$0" "$0"
mount -t proc proc "$0/proc"
mount --rbind /dev "$0/dev"
mount --rbind /sys "$0/sys"
exec chroot "$0" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 BUMPLE_QUICK="$2" BUMPLE_JOBS="$1" sh -c "cd /src && scripts/test.sh"' \
    "$root" "${BUMPLE_JOBS:-2}" "${BUMPLE_QUICK:-1}"
echo "== the test command passed on $release in $(($(date +%s) - started)) s"
