#!/usr/bin/env bash
# Runs a command in the tests' sandbox: a private network namespace, where nothing but
# loopback exists (brought up here), and a mount namespace of its own in which the machine's
# host name resolves without DNS. The engine looks that name up first; when /etc/hosts does
# not name it (a fresh chroot has no /etc/hosts, a container only localhost), the namespace
# alone gets a copy that maps it to 127.0.1.1. The copy also names ipv6-only.bumple.test
# (::1 only) and dual-stack.bumple.test (127.0.0.1 and ::1). Needs root.
#
#   scripts/netns.sh COMMAND [ARGUMENT...]
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    [ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGUMENT...]" >&2; exit 2; }
    # Seen from here, the folder stays empty: what is mounted on it lives in the namespace.
    private=$(mktemp -d /tmp/bumple-netns.XXXXXX)
    trap 'rmdir "$private"' EXIT
    status=0
    unshare -n -m "$0" --inside "$private" "$@" || status=$?
    exit "$status"
fi
private=$2
shift 2
ip link set lo up
name=$(hostname)
# The tests' names of one and of both families, in this namespace alone.
lines="::1 ipv6-only.bumple.test dual-stack.bumple.test"$'\n'"127.0.0.1 dual-stack.bumple.test"
if ! getent -s files hosts "$name" | grep -qE '^([0-9]+\.){3}[0-9]+\s'; then
    lines="127.0.1.1 $name"$'\n'"$lines"
fi
mount -t tmpfs -o mode=0755 tmpfs "$private"
if [ -e /etc/hosts ]; then
    { cat /etc/hosts; echo "$lines"; } >"$private/hosts"
    mount --bind "$private/hosts" /etc/hosts
else
    # Nothing to mount a file over: the namespace sees /etc with a hosts file added.
    mkdir "$private/upper" "$private/work"
    printf '127.0.0.1 localhost\n%s\n' "$lines" >"$private/upper/hosts"
    mount -t overlay overlay \
        -o "lowerdir=/etc,upperdir=$private/upper,workdir=$private/work" /etc
fi
exec "$@"
