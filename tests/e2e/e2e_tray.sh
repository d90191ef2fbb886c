#!/usr/bin/env bash
# End-to-end test of the built program on a real X display with a real XEmbed tray:
# a tray that comes up after the program, hidden start, the auto-started probe against a
# local HTTP server, the settings written after it, the tray menu on the right-button
# release, a double click that shows the form, the frame's window manager hints, restore
# from minimised, a tray restart, a second launch, the tray menu while the About box is
# open, and "Exit".
# Then without any tray: the box, the window, "Return To Tray" minimises, "Shutdown", and a
# tray that comes while the box is open closes it.
# Then a StatusNotifierItem host on a private session bus, which comes up after the
# program: the exported menu, the tooltip, Activate and the menu's "Exit". Last, "Bumple
# Only When Idle" behind a full-tunnel VPN in a second namespace: LAN traffic holds nothing
# back, tunnel traffic holds the probes, and the tooltip says why while it lasts.
#
# usage: e2e_tray.sh BUMPLE_BINARY HELPER_WAITTRAY
# Runs only inside a private network namespace where the host name resolves; outside one it
# re-runs itself under scripts/netns.sh when it can, else skips (exit 77), or fails when
# BUMPLE_REQUIRE_NETNS is set.
# With BUMPLE_E2E_SCREENSHOTS=DIR it also saves form.png and traymenu.png into DIR.
set -euo pipefail

bumple=${1:?usage: $0 BUMPLE_BINARY HELPER_WAITTRAY}
waittray=${2:?usage: $0 BUMPLE_BINARY HELPER_WAITTRAY}
bumple=$(realpath "$bumple")
waittray=$(realpath "$waittray")

t0=$(date +%s%N)
say() { printf '[e2e %6.2fs] %s\n' "$(( ($(date +%s%N) - t0) / 10000000 ))e-2" "$*"; }
fail() { say "FAIL: $*"; exit 1; }
skip() {
    if [ -n "${BUMPLE_REQUIRE_NETNS:-}" ]; then fail "$* (BUMPLE_REQUIRE_NETNS is set)"; fi
    say "SKIP: $*"
    exit 77
}

# --- Isolation: nothing may leave the machine, so only loopback may exist. -----------------
only_loopback() { [ "$(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')" = "lo " ]; }
command -v ip >/dev/null || skip "the ip command (iproute2) is missing"
if ! only_loopback; then
    if [ -n "${BUMPLE_E2E_REEXEC:-}" ]; then
        fail "still not in a private network namespace after unshare -n"
    fi
    if [ "$(id -u)" -eq 0 ] && unshare -n -m true 2>/dev/null; then
        say "not in a private network namespace: running again under scripts/netns.sh"
        exec "$(dirname "$0")/../../scripts/netns.sh" env BUMPLE_E2E_REEXEC=1 bash "$0" "$@"
    fi
    skip "not in a private network namespace and unshare -n is not permitted"
fi
ip link set lo up 2>/dev/null || true
ip -o link show lo | grep -q 'UP' || fail "loopback is down and cannot be brought up"
say "private network namespace: $(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')"
# The engine looks the host name up first, and the Host header carries what it resolves to,
# its first IPv4 address; without DNS here only /etc/hosts can answer.
local_address=$(getent hosts "$(hostname)" |
    awk '$1 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ {print $1; exit}' || true)
[ -n "$local_address" ] ||
    skip "the host name $(hostname) does not resolve here (scripts/netns.sh gives it one)"

for tool in Xvfb openbox tint2 xdotool xwininfo xprop import python3 dbus-daemon; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh test)"
done
# The Debian packages python3-dbus and python3-gi serve the system's own interpreter.
sys_python=/usr/bin/python3
"$sys_python" -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus or python3-gi is not installed"

# --- Clean-up of everything started here. -----------------------------------------------
work=$(mktemp -d /tmp/bumple-e2e.XXXXXX)
pids=() # process group leaders, started with setsid, stopped in reverse order
bumple_pid=
bumple_log=/dev/null
running() { [ -e "/proc/$1" ] && [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]; }
cleanup() {
    local rc=$?
    trap - EXIT
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
        echo "--- processes at the failure"
        local groups
        groups=$(IFS=,; echo "${pids[*]:-0}")
        ps -o pid,pgid,stat,etime,wchan:24,args -g "$groups" 2>/dev/null || true
        if [ -n "$bumple_pid" ]; then
            ps -o pid,stat,etime,wchan:24,args -p "$bumple_pid" || true
        fi
    fi
    if [ -n "$bumple_pid" ] && running "$bumple_pid"; then
        kill "$bumple_pid" 2>/dev/null || true
    fi
    local i pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM -- "-${pids[i]}" 2>/dev/null || true
    done
    for _ in $(seq 30); do
        local left=0
        for pid in "${pids[@]}" $bumple_pid; do running "$pid" && left=1; done
        [ "$left" -eq 0 ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do kill -KILL -- "-$pid" 2>/dev/null || true; done
    if [ -n "$bumple_pid" ]; then kill -KILL "$bumple_pid" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
        for log in "$work"/*.log; do
            [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; }
        done
    fi
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
start() { # log-name, command...: runs the command in its own process group
    local log=$1
    shift
    setsid bash -c '"$@"; echo "[$1 ended with status $?]"' "$log" "$@" >"$work/$log.log" 2>&1 &
    pids+=("$!")
}

# Polls a shell condition every 0.1 s until it holds or the seconds run out.
wait_for() { # seconds, description, command...
    local seconds=$1 what=$2
    shift 2
    local deadline=$(($(date +%s%N) + seconds * 1000000000))
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || fail "timed out after ${seconds}s waiting for $what"
        sleep 0.1
    done
}

# --- Settings: only 127.0.0.1, auto-start and the short debug period. ----------------------
export BUMPLE_CONFIG_DIR="$work/config"
mkdir -p "$BUMPLE_CONFIG_DIR"
hive="$BUMPLE_CONFIG_DIR/registry.reg"
printf '%s\n' 'REGEDIT4' '' \
    '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
    '"ComboName0"="127.0.0.1"' '"Debug"="1"' >"$hive"
export XDG_CONFIG_HOME="$work/xdg-config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb
# No session bus until the StatusNotifierItem part: nothing may start one on its own.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"

# --- HTTP server on 127.0.0.1:80 that keeps every request in its own file. ---------------
cat >"$work/server.py" <<'EOF'
import socket, sys
folder = sys.argv[1]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind((sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1", 80))
server.listen(8)
open(folder + "/ready", "w").close()
count = 0
while True:
    client, peer = server.accept()
    client.settimeout(5)
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            chunk = client.recv(4096)
            if not chunk:
                break
            data += chunk
        # Anything sent after the blank line counts too.
        client.settimeout(0.3)
        while True:
            chunk = client.recv(4096)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    count += 1
    with open("%s/request.%d.tmp" % (folder, count), "wb") as f:
        f.write(data)
    import os
    os.rename("%s/request.%d.tmp" % (folder, count), "%s/request.%d" % (folder, count))
    print("request %d from %s: %d bytes" % (count, peer, len(data)), flush=True)
    try:
        client.sendall(b"HTTP/1.0 200 OK\r\n\r\nok")
    except OSError:
        pass
    client.close()
EOF
mkdir "$work/http"
start server python3 "$work/server.py" "$work/http"
wait_for 10 "the HTTP server on 127.0.0.1:80" test -e "$work/http/ready"
say "HTTP server listening on 127.0.0.1:80"

# --- Display and window manager; the tray comes later. ------------------------------------
# Every X query is bounded, and one of a window whose id came back empty (a search that raced
# a closing window) fails at once: xwininfo, xprop and import would wait for a mouse click.
xwininfo() { [ "${1-}" != -id ] || [ -n "${2-}" ] || return 1; timeout 10 xwininfo "$@"; }
xprop() { [ "${1-}" != -id ] || [ -n "${2-}" ] || return 1; timeout 10 xprop "$@"; }
import() { [ "${1-}" != -window ] || [ -n "${2-}" ] || return 1; timeout 10 import "$@"; }
xdotool() { timeout 10 xdotool "$@"; }
exec 3>"$work/display"
# Abstract socket only: the display lives in this network namespace and touches no file.
# No reset when the last client leaves: a probe's disconnect would otherwise reset the server
# and refuse the next client (openbox) now and then.
start xvfb Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -nolisten unix -noreset
exec 3>&-
wait_for 15 "Xvfb to choose a display" grep -q '[0-9]' "$work/display"
export DISPLAY=":$(tr -dc '0-9' <"$work/display")"
x_up() { xwininfo -root >/dev/null 2>&1; }
wait_for 10 "the X server on $DISPLAY" x_up
say "Xvfb on $DISPLAY"

start openbox openbox
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 15 "openbox" wm_running
say "openbox running"

cat >"$work/tint2rc" <<'RC'
panel_items = S
panel_size = 100% 32
panel_position = bottom center horizontal
panel_layer = top
panel_monitor = all
systray_padding = 4 4 4
systray_icon_size = 24
systray_sort = ascending
RC
tint2_group=
start_tray() {
    start tint2 tint2 -c "$work/tint2rc"
    tint2_group=${pids[-1]}
    "$waittray" 30000 >"$work/waittray.log" 2>&1 || fail "no system tray: $(cat "$work/waittray.log")"
    say "tint2 tray ready ($(grep -o 'after.*' "$work/waittray.log"))"
}
stop_tray() {
    kill -TERM -- "-$tint2_group" 2>/dev/null || true
    tray_gone() { ! running "$tint2_group"; }
    wait_for 5 "tint2 to end" tray_gone
    say "tint2 stopped"
}

# --- The program. ---------------------------------------------------------------------
launch() { # log name: starts bumple with the environment as it stands
    launch=$(date +%s%N)
    "$bumple" >"$work/$1.log" 2>&1 &
    bumple_pid=$!
    bumple_log="$work/$1.log"
    say "bumple started (pid $bumple_pid)"
}
since_launch() { printf '%d ms' $((($(date +%s%N) - launch) / 1000000)); }
alive() { running "$bumple_pid"; }
ended_cleanly() { # what ended it
    local started
    started=$(date +%s%N)
    wait_for 10 "bumple to end after $1" eval '! alive'
    set +e
    wait "$bumple_pid"
    local code=$?
    set -e
    bumple_pid=
    say "bumple ended $((($(date +%s%N) - started) / 1000000)) ms after $1 with exit code $code"
    [ "$code" -eq 0 ] || fail "exit code $code: $(cat "$bumple_log")"
}

# The tray icon: a window of bumple's process embedded inside tint2's panel window.
tray_icon=
find_tray_icon() {
    alive || fail "bumple ended early: $(cat "$bumple_log")"
    local panel line
    panel=$(xdotool search --classname '^tint2$' 2>/dev/null | head -n 1) || return 1
    [ -n "$panel" ] || return 1
    while read -r line; do
        local id=${line%% *}
        local owner
        owner=$(xprop -id "$id" _NET_WM_PID 2>/dev/null | awk '{print $3}')
        [ "$owner" = "$bumple_pid" ] || continue
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' || continue
        tray_icon=$id
        return 0
    done < <(xwininfo -id "$panel" -tree | grep -o '0x[0-9a-f]* .*("bumple" "Bumple").*' || true)
    return 1
}
geometry() { # window id -> "x y width height" in root coordinates
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
        /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}
# A drawn icon has more than one colour; a blank one (no image plugin) is the panel's alone.
icon_colours() { import -window "$tray_icon" -format %k info: 2>/dev/null || echo 0; }
icon_drawn() { [ "$(icon_colours)" -gt 1 ]; }
wait_for_icon() {
    wait_for 10 "bumple's icon in the tray" find_tray_icon
    read -r icon_x icon_y icon_w icon_h < <(geometry "$tray_icon")
    icon_cx=$((icon_x + icon_w / 2)) icon_cy=$((icon_y + icon_h / 2))
    within 5 icon_drawn || fail "the tray icon $tray_icon is blank ($(icon_colours) colour)"
    say "tray icon $tray_icon embedded in tint2 at ${icon_x},${icon_y}" \
        "size ${icon_w}x${icon_h} after $(since_launch), $(icon_colours) colours"
}

# Visible top-level windows of the program other than its tray icon: "popup ID NAME" for
# menus, "dialog ID NAME" for boxes and dialogs, "window ID NAME" for the frame.
program_windows() {
    local id
    for id in $(xdotool search --onlyvisible --classname '^bumple$' 2>/dev/null); do
        id=$(printf '0x%x' "$id")
        [ "$id" = "$tray_icon" ] && continue
        local info
        info=$(xwininfo -id "$id")
        local name=${info#*\"}
        name=${name%%\"*}
        if grep -q 'Override Redirect State: yes' <<<"$info"; then
            echo "popup $id $name"
        elif xprop -id "$id" _NET_WM_WINDOW_TYPE | grep -q DIALOG; then
            echo "dialog $id $name"
        else
            echo "window $id $name"
        fi
    done
}
main_window() { program_windows | awk '$1 == "window" && $3 == "Bumple" {print $2; exit}'; }
popup_window() { program_windows | awk '$1 == "popup" {print $2; exit}'; }
dialogs() { program_windows | awk '$1 == "dialog" {$1 = ""; print}'; }
has_main_window() { [ -n "$(main_window)" ]; }
has_popup() { [ -n "$(popup_window)" ]; }
no_popup() { [ -z "$(popup_window)" ]; }
has_dialog() { [ -n "$(dialogs)" ]; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state/{print $3}'; }
within() { # seconds, command...: true when the command holds before the seconds run out
    local deadline=$(($(date +%s%N) + $1 * 1000000000))
    shift
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
# An icon embedded a moment ago may not take the pointer yet: the clicks are repeated.
click_icon() { # description, condition, xdotool click arguments...
    local what=$1 condition=$2 try
    shift 2
    for try in 1 2 3; do
        # From elsewhere onto the icon, as a hand would: a new icon under a pointer that
        # never moves has not been entered.
        xdotool mousemove 512 384 mousemove "$icon_cx" "$icon_cy" click "$@"
        within 2 "$condition" && return 0
        say "no $what after click $try on the icon"
    done
    fail "no $what after three clicks on the icon"
}
tray_menu() { click_icon "tray menu" has_popup 3; }
double_click() { click_icon "window" has_main_window --repeat 2 --delay 80 1; }

# --- A tray that comes up after the program. ------------------------------------------
launch bumple
# The auto-start runs while the tray is late: the first probe comes before the tray.
wait_for 10 "the first request at the HTTP server" test -e "$work/http/request.1"
say "request received $(since_launch) after launch, before any tray"
shown=$(program_windows)
[ -z "$shown" ] || fail "windows visible while the tray is late: $shown"
say "no box and no window while there is no tray yet"
start_tray
wait_for_icon

shown=$(program_windows)
[ -z "$shown" ] || fail "windows visible after the tray came: $shown"
[ -z "$(xdotool search --onlyvisible --name '^Bumple$' 2>/dev/null | while read -r id; do
    [ "$(printf '0x%x' "$id")" = "$tray_icon" ] || echo "$id"; done)" ] ||
    fail "a visible window named Bumple at start-up"
say "no visible window at start-up besides the tray icon"

# --- The auto-started probe. ------------------------------------------------------------
printf '%s\r\n' 'GET / HTTP/1.0' 'Connection: Keep-Alive' 'User-Agent: Mozilla/3.0 (Win95; I)' \
    "Host: $local_address" 'Accept: image/gif, image/jpeg, */*' '' >"$work/expected"
if ! cmp -s "$work/expected" "$work/http/request.1"; then
    echo "expected:"; od -c "$work/expected"; echo "received:"; od -c "$work/http/request.1"
    fail "the request bytes differ"
fi
say "request bytes exactly as expected (Host: $local_address, $(wc -c <"$work/expected") bytes)"
shown=$(program_windows)
[ -z "$shown" ] || fail "windows visible after the automatic start: $shown"
say "still no visible window after the automatic start"

hive_has() { grep -q "^\"$1\"=" "$hive"; }
hive_complete() { hive_has Often && hive_has ComboName0 && hive_has ComboNameSel; }
wait_for 5 "Often, ComboName0 and ComboNameSel in the hive" hive_complete
say "hive after the probe: $(grep '^"' "$hive" | tr -d '\r' | tr '\n' ' ')"

# --- The menu opens on the right-button release, not on the press. ----------------------
xdotool mousemove "$icon_cx" "$icon_cy" mousedown 3
sleep 0.5
no_popup || fail "the tray menu opened on the right-button press"
xdotool mouseup 3
wait_for 5 "the tray menu after the right-button release" has_popup
say "right button: nothing on the press, menu $(popup_window) on the release"
xdotool key Escape
wait_for 5 "the tray menu to close on Escape" no_popup

# --- Double click on the icon shows the form. -------------------------------------------
double_click
window=$(main_window)
read -r win_x win_y win_w win_h < <(geometry "$window")
xdotool search --onlyvisible --name '^Bumple$' | grep -qx "$((window))" ||
    fail "xdotool does not see the Bumple window as visible"
say "double click: window $window \"Bumple\" visible at ${win_x},${win_y} size ${win_w}x${win_h}"

# A title only: the Motif hints ask for moving alone (functions 0x4) and for a border and a
# title (decorations 0xa). Openbox never lets them take away its minimise and close buttons,
# but honours the fixed size: no resize, no maximise.
hints=$(xprop -id "$window" _MOTIF_WM_HINTS)
[ "${hints#*= }" = "0x3, 0x4, 0xa, 0x0, 0x0" ] || fail "Motif hints: $hints"
allowed=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
for action in MAXIMIZE_HORZ MAXIMIZE_VERT RESIZE; do
    ! grep -q "_NET_WM_ACTION_$action\b" <<<"$allowed" || fail "openbox allows $action: $allowed"
done
say "Motif hints ${hints#*= }; openbox allows ${allowed#*= }"

if [ -n "${BUMPLE_E2E_SCREENSHOTS:-}" ]; then
    mkdir -p "$BUMPLE_E2E_SCREENSHOTS"
    sleep 1.5 # let the countdown tick on screen
    read -r win_x win_y win_w win_h < <(geometry "$window")
    say "window now at ${win_x},${win_y} size ${win_w}x${win_h}"
    read -r fl fr ft fb < <(xprop -id "$window" _NET_FRAME_EXTENTS |
        tr -d ',' | awk '{print $3, $4, $5, $6}')
    crop="$((win_w + fl + fr))x$((win_h + ft + fb))+$((win_x - fl))+$((win_y - ft))"
    import -window root -crop "$crop" +repage "$BUMPLE_E2E_SCREENSHOTS/form.png"
    say "saved $BUMPLE_E2E_SCREENSHOTS/form.png"
fi

# --- Restore shows a minimised window. ----------------------------------------------------
xdotool windowminimize "$window"
iconic() { [ "$(wm_state "$window")" = Iconic ]; }
wait_for 5 "the window to be minimised" iconic
tray_menu
menu=$(popup_window)
read -r menu_x menu_y menu_w menu_h < <(geometry "$menu")
say "right click: menu $menu open at ${menu_x},${menu_y} size ${menu_w}x${menu_h}"
if [ -n "${BUMPLE_E2E_SCREENSHOTS:-}" ]; then
    sleep 0.3 # the menu paints after it maps
    left=$((menu_x < icon_x ? menu_x : icon_x)) top=$((menu_y < icon_y ? menu_y : icon_y))
    right=$((menu_x + menu_w > icon_x + icon_w ? menu_x + menu_w : icon_x + icon_w))
    bottom=$((menu_y + menu_h > icon_y + icon_h ? menu_y + menu_h : icon_y + icon_h))
    left=$((left > 8 ? left - 8 : 0)) top=$((top > 8 ? top - 8 : 0))
    import -window root -crop "$((right + 8 - left))x$((bottom + 8 - top))+${left}+${top}" \
        +repage "$BUMPLE_E2E_SCREENSHOTS/traymenu.png"
    say "saved $BUMPLE_E2E_SCREENSHOTS/traymenu.png"
fi
# The menu holds the keyboard while open: Down from no current item selects "Restore".
xdotool key Down Return
restored() { [ "$(wm_state "$window")" = Normal ] && has_main_window; }
wait_for 5 "Restore to show the minimised window" restored
say "minimised window shown again by Restore"

# --- A tray that restarts gets the icon back. ---------------------------------------------
stop_tray
start_tray
tray_icon=
wait_for_icon

# --- The tray's menu while the About box is open. -----------------------------------------
xdotool windowactivate --sync "$window" key Return # "Return To Tray", the default button
hidden() { ! has_main_window; }
wait_for 5 "Return To Tray to hide the window" hidden

# --- One Bumple a settings folder: a second launch shows the first one's form and ends. ---
tray_icons() { xwininfo -id "$(xdotool search --classname '^tint2$' 2>/dev/null | head -n 1)" \
    -tree 2>/dev/null | grep -c '("bumple" "Bumple")' || true; }
timeout 15 "$bumple" "$hive" >"$work/second.log" 2>&1 ||
    fail "the second launch ended with status $?: $(cat "$work/second.log")"
wait_for 5 "the form after the second launch" has_main_window
[ "$(tray_icons)" -eq 1 ] || fail "$(tray_icons) tray icons after the second launch"
say "second launch with a document: exit code 0, the form shown, one tray icon"
# A FIFO as the document is refused unopened, and the Bumple that runs still takes the next
# hand-over, with its one box in front and focused.
mkfifo "$work/fifo"
! timeout 15 "$bumple" "$work/fifo" >"$work/fifo.log" 2>&1 || fail "a FIFO was taken as a document"
grep -q 'Cannot open the document' "$work/fifo.log" || fail "FIFO launch: $(cat "$work/fifo.log")"
timeout 15 "$bumple" >"$work/third.log" 2>&1 || fail "the third launch: $(cat "$work/third.log")"
box_focused() { [ "$(dialogs | wc -l)" -eq 1 ] && [ "$(program_windows | awk '$1 == "dialog" {print $2}')" = \
    "$(printf '0x%x' "$(xdotool getactivewindow)")" ]; }
wait_for 5 "one box in front of the form, with the focus" box_focused
xdotool key Return
wait_for 5 "the box to close" eval '! has_dialog'
say "a FIFO document is refused, the next launch hands over, one box has the focus"
# Other settings run on their own, and a crash leaves nothing that blocks the next start.
mkdir -p "$work/config-other"
printf '%s\n' 'REGEDIT4' '' '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
    '"ComboName0"="127.0.0.1"' '"AutoStart"="0"' >"$work/config-other/registry.reg"
two_icons() { [ "$(tray_icons)" -eq 2 ]; }
for run in 1 2; do
    BUMPLE_CONFIG_DIR="$work/config-other" start "other$run" "$bumple"
    wait_for 10 "the icon of a Bumple with other settings (run $run)" two_icons
    kill -KILL -- "-${pids[-1]}"
    wait_for 5 "the icon of the killed Bumple to go" eval '[ "$(tray_icons)" -eq 1 ]'
done
say "other settings: a Bumple of its own, started again after a crash"
xdotool windowactivate --sync "$window" key Return
wait_for 5 "Return To Tray to hide the window again" hidden
tray_menu
xdotool key Down Down Return # "About Bumple..."
about_open() { [ "$(dialogs | grep -c 'About Bumple')" -eq 1 ]; }
wait_for 5 "the About box" about_open
tray_menu
xdotool key Down Down Return # "About Bumple..." again: the open box comes to the front
sleep 0.5
about_open || fail "a second About box or none: $(dialogs)"
say "About from the tray while the About box is open: still one About box"
double_click
about_open || fail "the About box is gone after a double click: $(program_windows)"
say "double click under the About box shows the window; the box stays open"
tray_menu
xdotool key Up Return # "Exit"
ended_cleanly "Exit with the About box open"

# --- No tray at all: the box, the window, Return To Tray minimises, Shutdown. ------------
stop_tray
# Without auto-start, so that "Start or Apply Changes" is enabled and in the tab order.
export BUMPLE_CONFIG_DIR="$work/config-notray" BUMPLE_TRAY_GRACE=2
mkdir -p "$BUMPLE_CONFIG_DIR"
printf '%s\n' 'REGEDIT4' '' '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
    '"ComboName0"="127.0.0.1"' '"AutoStart"="0"' >"$BUMPLE_CONFIG_DIR/registry.reg"
tray_icon=
launch notray
wait_for 10 "the box after the grace without a tray" has_dialog
box=$(dialogs)
say "no tray: box \"${box#* * }\" after $(since_launch)"
[ "${box#* * }" = Bumple ] || fail "the box is not Bumple's: $box"
has_main_window && fail "the window came before the box was closed"
xdotool windowactivate --sync "$(awk '{print $1}' <<<"$box")" key Return
wait_for 5 "the window after the box" has_main_window
window=$(main_window)
say "no tray: window $window shown after the box"
xdotool windowactivate --sync "$window" key Return # "Return To Tray" is the default button
wait_for 5 "Return To Tray to minimise the window without a tray" iconic
say "no tray: Return To Tray minimised the window"
# A tray that comes after the grace gets the icon, and from then on the window goes to it.
start_tray
wait_for_icon
xdotool windowactivate --sync "$window"
wait_for 5 "the window to come back" restored
xdotool key Return
withdrawn() { ! xwininfo -id "$window" | grep -q 'IsViewable'; }
wait_for 5 "Return To Tray to hide the window now that there is a tray" withdrawn
say "no tray, then a tray: Return To Tray hides the window"
double_click
wait_for 5 "the window after a double click on the late icon" restored
# The tab order of the form: "Return To Tray" (which has the focus), the period, the name,
# "Start or Apply Changes", "Shutdown Bumple".
xdotool key Tab Tab Tab Tab space
ended_cleanly "Shutdown without a tray"
stop_tray

# --- The window manager's close ends the program as Exit does. ----------------------------
export BUMPLE_TRAY_GRACE=0
tray_icon=
launch wmclose
wait_for 10 "the box without a tray" has_dialog
# A tray that comes while the box is open closes it as its OK button does.
start_tray
wait_for_icon
wait_for 5 "the box to close by itself" eval '! has_dialog'
wait_for 5 "the window after the box" has_main_window
say "a tray while the box was open: the box closed, the window came"
xdotool windowactivate --sync "$(main_window)" key alt+F4
ended_cleanly "Alt+F4 (openbox's close)"
stop_tray
unset BUMPLE_TRAY_GRACE
export BUMPLE_CONFIG_DIR="$work/config"

# --- A StatusNotifierItem host on a private session bus, late. ----------------------------
start dbus dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
wait_for 5 "the session bus" test -S "$work/bus"
sni=$(dirname "$0")/sni_host.py
launch sni
sleep 1
start watcher "$sys_python" "$sni" watch "$work/items"
wait_for 10 "bumple's item at the StatusNotifierWatcher" test -s "$work/items"
item=$(head -n 1 "$work/items")
say "StatusNotifierItem $item registered $(since_launch) after launch"
"$sys_python" "$sni" menu "$item" >"$work/menu" || fail "no menu from $item"
path=$(head -n 1 "$work/menu")
labels=$(tail -n +2 "$work/menu" | cut -d' ' -f2- | tr '\n' '|')
say "exported menu $path: $labels"
[ "$path" != /NO_DBUSMENU ] || fail "the item exports no menu"
[ "$labels" = "_Restore|-|_About Bumple...|-|E_xit|" ] || fail "menu items: $labels"
tip_counts() { "$sys_python" "$sni" tooltip "$item" | grep -q '^Bumple in '; }
wait_for 5 "the countdown in the item's tooltip" tip_counts
say "tooltip: $("$sys_python" "$sni" tooltip "$item")"
"$sys_python" "$sni" activate "$item"
wait_for 5 "the window after Activate" has_main_window
say "Activate showed the window"
"$sys_python" "$sni" click "$item" "$(awk '$2 == "E_xit" {print $1}' "$work/menu")"
ended_cleanly "the host's Exit"

# --- "Bumple Only When Idle" behind a full-tunnel VPN. -----------------------------------
# A second namespace made here is the far side of two veth pairs: lan0 (the LAN, the main
# table's default route) and tun0 (the tunnel). As wg-quick does, a default route in table
# 51820 and two rules send everything but the LAN's own net through the tunnel. Only
# 198.18.0.0/15 addresses, all inside these two namespaces.
# Started without start's wrapper, so that the process itself holds the namespace.
setsid unshare -n sleep 600 &
far=$!
pids+=("$far")
wait_for 5 "the far namespace" eval '[ "$(readlink /proc/$far/ns/net)" != "$(readlink /proc/self/ns/net)" ]'
in_far() { nsenter --net="/proc/$far/ns/net" "$@"; }
ip link add lan0 type veth peer name lan0p netns "/proc/$far/ns/net"
ip link add tun0 type veth peer name tun0p netns "/proc/$far/ns/net"
ip addr add 198.18.0.1/24 dev lan0 && ip link set lan0 up
ip addr add 198.18.1.1/24 dev tun0 && ip link set tun0 up
in_far ip addr add 198.18.0.2/24 dev lan0p && in_far ip link set lan0p up
in_far ip addr add 198.18.1.2/24 dev tun0p && in_far ip link set tun0p up
in_far ip addr add 198.19.0.80/32 dev lo && in_far ip link set lo up
ip route add default via 198.18.0.2 dev lan0
ip route add default via 198.18.1.2 dev tun0 table 51820
ip rule add not fwmark 51820 table 51820
ip rule add table main suppress_prefixlength 0
[ "$(ip -o route get 198.19.0.80 | grep -o 'dev [a-z0-9]*')" = "dev tun0" ] ||
    fail "the policy rules do not route through the tunnel: $(ip -o route get 198.19.0.80)"
mkdir "$work/http-vpn"
start vpnserver nsenter --net="/proc/$far/ns/net" python3 "$work/server.py" "$work/http-vpn" 198.19.0.80
wait_for 10 "the HTTP server behind the tunnel" test -e "$work/http-vpn/ready"
count_requests() { find "$work/http-vpn" -name 'request.[0-9]*' | wc -l; }
# 20 KB/s of datagrams to an address, for at most 60 s.
traffic() { start "traffic-$1" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
end = time.monotonic() + 60
while time.monotonic() < end:
    s.sendto(b"x" * 1000, (sys.argv[1], 9))
    time.sleep(0.05)
' "$1"; }
export BUMPLE_CONFIG_DIR="$work/idle-config"
mkdir -p "$BUMPLE_CONFIG_DIR"
printf '%s\n' 'REGEDIT4' '' \
    '[HKEY_LOCAL_MACHINE\Software\Quellmoor Software\Bumple\Settings]' \
    '"ComboName0"="198.19.0.80"' '"Debug"="1"' '"IdleOnly"="1"' >"$BUMPLE_CONFIG_DIR/registry.reg"
launch idleonly
wait_for 10 "the first probe, which goes whatever the link carries" \
    eval '[ "$(count_requests)" -gt 0 ]'
tooltip() { "$sys_python" "$sni" tooltip "$item" 2>/dev/null; }
item=
wait_for 10 "bumple's item" eval 'item=$(tail -n 1 "$work/items"); tooltip | grep -q "^Bumple in"'
traffic 198.18.0.2
lan_group=${pids[-1]}
lan_from=$(count_requests)
wait_for 20 "the probe on schedule while the LAN carries traffic" \
    eval '[ "$(count_requests)" -gt "$lan_from" ]'
tip=$(tooltip)
[[ $tip != *Link\ in\ use* ]] || fail "LAN traffic counted for the tunnel: $tip"
say "LAN traffic held nothing back: $tip"
kill -TERM -- "-$lan_group"
traffic 198.19.0.9
tunnel_group=${pids[-1]}
busy_from=$(count_requests)
wait_for 5 "\"Link in use\" with traffic through the tunnel" eval 'tooltip | grep -q "Link in use$"'
# Every busy tick starts the countdown over, so it never runs down while the traffic lasts.
for _ in 1 2 3 4 5; do
    sleep 1
    tip=$(tooltip)
    [[ $tip =~ \ 0:1[3-5]\ +Link\ in\ use$ ]] || fail "the countdown ran down while busy: $tip"
done
[ "$(count_requests)" -eq "$busy_from" ] || fail "a probe went while the tunnel was in use"
say "tooltip through 5 s of tunnel traffic: $tip"
kill -TERM -- "-$tunnel_group"
wait_for 3 "the countdown in the tip once the tunnel is quiet" eval '! tooltip | grep -q "Link in use"'
wait_for 20 "the probe once the tunnel is idle again" eval '[ "$(count_requests)" -gt "$busy_from" ]'
say "the probe went once the tunnel was idle"
kill "$bumple_pid"
ended_cleanly "SIGTERM"

requests=$(count_requests)
say "PASS ($requests request(s) served)"
