#!/usr/bin/env bash
# End-to-end on a headless sway: a second launch brings the form that another window covers
# to the front with the focus, as the sway tree shows. usage: e2e_sway.sh BUMPLE_BINARY
# As root it re-runs itself in a private network namespace and, as sway refuses root, as
# nobody. Skips (exit 77) where sway cannot start.
set -euo pipefail
bumple=$(realpath "${1:?usage: $0 BUMPLE_BINARY}")
fail() { echo "[e2e_sway] FAIL: $*"; exit 1; }
skip() { echo "[e2e_sway] SKIP: $*"; exit 77; }
within() { # seconds, command...: polls until the command holds or the seconds run out
    local deadline=$(($(date +%s) + $1))
    shift
    until "$@"; do [ "$(date +%s)" -lt "$deadline" ] || return 1; sleep 0.1; done
}
for tool in sway swaymsg setpriv python3; do command -v "$tool" >/dev/null || skip "no $tool"; done
if [ "$(id -u)" -eq 0 ]; then
    [ -n "${BUMPLE_E2E_REEXEC:-}" ] ||
        exec "$(dirname "$0")/../../scripts/netns.sh" env BUMPLE_E2E_REEXEC=1 bash "$0" "$@"
    exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all \
        env PATH=/usr/bin:/bin bash "$0" "$bumple"
fi
[ "$(ip -o link show | wc -l)" -eq 1 ] || skip "not in a private network namespace"
[ -x "$bumple" ] || skip "$(id -un) cannot run $bumple"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=wayland BUMPLE_TRAY_GRACE=600
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
echo >"$work/sway.cfg"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
pids+=($!)
within 10 compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*" >/dev/null && [ -S "$XDG_RUNTIME_DIR/wayland-1" ] ||
    skip "sway cannot start here: $(tail -n 2 "$work/sway.log")"
export SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*") WAYLAND_DISPLAY=wayland-1
focused_is() { swaymsg -t get_tree | python3 -c 'import json, sys
def pids(n): return [n.get("pid")] * n["focused"] + sum(map(pids, n["nodes"] + n["floating_nodes"]), [])
sys.exit(pids(json.load(sys.stdin)) != [int(sys.argv[1])])' "$1"; }
touch "$work/document"
for name in first other; do # each with loopback names only, its form shown at launch
    mkdir "$work/$name"
    printf '%s\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
        '"ComboName0"="127.0.0.1"' '"AutoStart"="0"' >"$work/$name/registry.reg"
    BUMPLE_CONFIG_DIR=$work/$name "$bumple" "$work/document" >"$work/$name.log" 2>&1 &
    pids+=($!)
    within 10 focused_is "${pids[-1]}" || fail "no form of $name in front: $(cat "$work/$name.log")"
done
BUMPLE_CONFIG_DIR=$work/first timeout 15 "$bumple" >"$work/second.log" 2>&1 ||
    fail "the second launch ended with status $?: $(cat "$work/second.log")"
within 5 focused_is "${pids[1]}" || fail "the covered form did not come to the front"
echo "[e2e_sway] a second launch brings the covered form to the front with the focus"
