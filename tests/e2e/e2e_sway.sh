#!/usr/bin/env bash
# End-to-end on a headless sway (Wayland): a second launch brings the form, which another
# window covers, to the front with the focus, as the sway tree shows.
#
# usage: e2e_sway.sh BUMPLE_BINARY
# Runs in a private network namespace (re-running itself under scripts/netns.sh as root) and,
# as sway refuses root, as nobody. Skips (exit 77) where sway cannot start.
set -euo pipefail
bumple=$(realpath "${1:?usage: $0 BUMPLE_BINARY}")
say() { echo "[e2e_sway] $*"; }
fail() { say "FAIL: $*"; exit 1; }
skip() { say "SKIP: $*"; exit 77; }
wait_for() { # seconds, description, command...
    local deadline=$(($(date +%s) + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
for tool in sway swaymsg setpriv python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh test)"
done
if [ "$(id -u)" -eq 0 ]; then
    [ -n "${BUMPLE_E2E_REEXEC:-}" ] || exec "$(dirname "$0")/../../scripts/netns.sh" \
        env BUMPLE_E2E_REEXEC=1 bash "$0" "$@"
    exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all \
        env PATH=/usr/bin:/bin bash "$0" "$bumple"
fi
[ "$(ip -o link show | wc -l)" -eq 1 ] || skip "not in a private network namespace"

work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=wayland BUMPLE_TRAY_GRACE=600
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
# Tabbed: the newest window covers the older one.
echo 'workspace_layout tabbed' >"$work/sway.cfg"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
pids+=($!)
sway_up() { compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" >/dev/null && [ -S "$XDG_RUNTIME_DIR/wayland-1" ]; }
wait_for 10 sway sway_up || skip "sway cannot start here: $(tail -n 2 "$work/sway.log")"
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*") WAYLAND_DISPLAY=wayland-1
export SWAYSOCK WAYLAND_DISPLAY
focused() { # the pid whose window has the focus
    swaymsg -t get_tree | python3 -c 'import json, sys
def walk(n):
    if n.get("focused") and n.get("pid"): print(n["pid"])
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))'
}
touch "$work/document"
launch() { # settings folder: a Bumple with loopback names only that shows its form
    mkdir -p "$work/$1"
    printf '%s\n' 'REGEDIT4' '' '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
        '"ComboName0"="127.0.0.1"' '"AutoStart"="0"' >"$work/$1/registry.reg"
    BUMPLE_CONFIG_DIR=$work/$1 "$bumple" "$work/document" >"$work/$1.log" 2>&1 &
    pids+=($!)
    wait_for 10 "$1" eval '[ "$(focused)" = "${pids[-1]}" ]' ||
        fail "no focused form of $1: $(cat "$work/$1.log")"
}
launch first
first=${pids[-1]}
launch other
BUMPLE_CONFIG_DIR=$work/first timeout 15 "$bumple" >"$work/second.log" 2>&1 ||
    fail "the second launch ended with status $?: $(cat "$work/second.log")"
wait_for 5 "the first form" eval '[ "$(focused)" = "$first" ]' ||
    fail "the covered form did not come to the front (focus on pid $(focused), first is $first)"
say "a second launch brings the covered form to the front with the focus"
