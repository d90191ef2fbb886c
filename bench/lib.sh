# Shared by bench/run.sh and bench/probe.sh: build, network namespace, loopback server,
# display with a tray, process bookkeeping. Sourced, not run.
#
# Network safety: every phase runs inside a private network namespace (unshare -n) where
# only the loopback interface exists; each hive written here names only 127.0.0.1, and the
# loopback server owns 127.0.0.1:80 in that namespace. Nothing can leave the machine.

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TOP=$(cd "$BENCH_DIR/.." && pwd)
BUILD=${BUMPLE_BENCH_BUILD:-$TOP/build-bench-release}
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3
ANALYZE="$PY $BENCH_DIR/analyze.py"

BENCH_PIDS=()

log() { printf '[bench %s] %s\n' "$(date +%T)" "$*" >&2; }
die() { log "error: $*"; exit 1; }

bench_build() {
    log "building Release in $BUILD"
    cmake -S "$BENCH_DIR" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$BUILD.configure.log" 2>&1 ||
        { cat "$BUILD.configure.log" >&2; die "configure failed"; }
    nice cmake --build "$BUILD" -j "${BUMPLE_JOBS:-2}" --target bench_all >"$BUILD.build.log" 2>&1 ||
        { tail -40 "$BUILD.build.log" >&2; die "build failed"; }
}

# Re-runs the calling script inside a private network namespace (needs root), unless it is
# already inside one made by this function.
enter_netns() { # script args...
    if [ "${BUMPLE_BENCH_NETNS:-0}" = 1 ]; then
        ip link set lo up || die "cannot bring lo up"
        # Only the loopback interface may exist here.
        [ "$(ip -o link show | wc -l)" = 1 ] || die "not a private network namespace"
        return 0
    fi
    [ "$(id -u)" = 0 ] || die "needs root for a private network namespace (unshare -n)"
    exec unshare -n env BUMPLE_BENCH_NETNS=1 bash "$@"
}

track() { BENCH_PIDS+=("$@"); }

# Ends every process this run started (by pid, newest first) and waits for them, bounded.
cleanup() {
    local i pid
    for ((i = ${#BENCH_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${BENCH_PIDS[i]}
        kill "$pid" 2>/dev/null || true
    done
    for ((i = 0; i < 30; i++)); do
        local alive=0
        for pid in "${BENCH_PIDS[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ $alive = 0 ] && break
        sleep 0.1
    done
    for pid in "${BENCH_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    BENCH_PIDS=()
}

# Stops one process started here, bounded: TERM, then KILL after 3 s.
stop_pid() {
    local pid=$1 i
    kill "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 30; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

# The loopback HTTP server on 127.0.0.1:80; its log gets one JSON line per connection.
start_server() { # log
    local ready=$1.ready
    rm -f "$ready"
    $PY "$BENCH_DIR/loopback_server.py" --log "$1" --ready "$ready" --max-seconds 3600 &
    track $!
    local i
    for ((i = 0; i < 50; i++)); do
        [ -f "$ready" ] && return 0
        sleep 0.1
    done
    die "the loopback server did not start"
}

server_count() { [ -f "$1" ] && wc -l <"$1" || echo 0; }

# Waits until the server log has at least n lines, at most s seconds.
wait_probes() { # log n seconds
    local deadline=$((SECONDS + $3))
    while [ "$(server_count "$1")" -lt "$2" ]; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

# Xvfb on a free display, openbox, tint2 (an XEmbed tray); waits until the tray is up.
start_display() {
    local n
    for n in $(seq 140 199); do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
    done
    export DISPLAY=:$n
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    track $!
    local i
    for ((i = 0; i < 100; i++)); do
        [ -e /tmp/.X11-unix/X$n ] && break
        sleep 0.1
    done
    [ -e /tmp/.X11-unix/X$n ] || die "Xvfb did not start"
    openbox >/dev/null 2>&1 &
    track $!
    sleep 0.5
    tint2 >/dev/null 2>&1 &
    track $!
    "$BUILD/traywatch" --wait-tray 15000 || die "the tray did not come up"
    sleep 1 # let the panel settle before the first launch
    log "display $DISPLAY with openbox and tint2 is up"
}

# A fresh configuration folder with a hive that names only 127.0.0.1.
make_hive() { # dir, extra value lines...
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple]\n\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\n'
        printf '"ComboName0"="127.0.0.1"\n'
        local line
        for line in "$@"; do printf '%s\n' "$line"; done
    } >"$dir/registry.reg"
}

# The environment every program under test gets: no session bus (so Qt uses the XEmbed
# tray), a private runtime folder.
prog_env() {
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
    export XDG_RUNTIME_DIR=$WORK/runtime
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# The program's icons under hicolor in a data folder of the run's own, with the icon cache a
# package's trigger (gtk-update-icon-cache) makes, as on an installed system; logs whether
# each hicolor cache the programs see is current (a folder newer than its cache makes Qt
# read the folders instead).
install_icons() {
    local hicolor=$WORK/share/icons/hicolor id name dir
    mkdir -p "$hicolor/scalable/apps"
    cp /usr/share/icons/hicolor/index.theme "$hicolor/"
    for id in 128:bumple 130:bumple-stopped 131:bumple-waiting; do
        cp "$TOP/res/icons/${id%%:*}.svg" "$hicolor/scalable/apps/${id#*:}.svg"
    done
    command -v gtk-update-icon-cache >/dev/null || die "gtk-update-icon-cache is missing"
    gtk-update-icon-cache -q -f "$hicolor"
    export XDG_DATA_DIRS=$WORK/share:/usr/local/share:/usr/share
    for dir in "$hicolor" /usr/share/icons/hicolor /usr/share/icons/Adwaita; do
        name="no cache"
        if [ -f "$dir/icon-theme.cache" ]; then
            name="current cache"
            [ -z "$(find "$dir" -type d -newer "$dir/icon-theme.cache" | head -1)" ] ||
                name="stale cache (folders read instead)"
        fi
        log "icon theme $dir: $name"
    done
}

machine_info() { # json file
    local qt
    qt=$(dpkg-query -W -f '${Version}' libqt6core6 2>/dev/null || true)
    $PY - "$1" "$qt" <<'EOF'
import json, os, platform, subprocess, sys
cpu = ""
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        cpu = line.split(":", 1)[1].strip(); break
fs = subprocess.run(["findmnt", "-no", "FSTYPE", "-T", os.environ.get("WORK", "/")],
                    capture_output=True, text=True).stdout.strip()
busy = subprocess.run("ps -eo comm | grep -cE '^(cc1plus|cc1|ld|ninja|clang)'", shell=True,
                      capture_output=True, text=True).stdout.strip()
import datetime
json.dump({"date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
           "nproc": os.cpu_count(), "cpu": cpu, "kernel": platform.release(),
           "qt": sys.argv[2], "loadavg": open("/proc/loadavg").read().split()[:3],
           "compilers_running_at_start": busy, "hive_fs": fs},
          open(sys.argv[1], "w"), indent=1)
EOF
}

lo_bytes() { # rx bytes of the loopback interface (every byte sent on lo is received once)
    awk '$1 == "lo:" { print $2 }' /proc/net/dev
}

# N probes of bumple's engine (probe_bench) and N curl requests of the same bytes, RUNS
# times each, alternating; then instruction counts under callgrind unless NO_CALLGRIND=1.
probe_phase() { # n runs
    local n=$1 runs=$2 r addr
    local curl_args=(-s -o /dev/null --http1.0 -H "Connection: Keep-Alive"
        -H "User-Agent: Mozilla/3.0 (Win95; I)" -H "Accept: image/gif, image/jpeg, */*")
    for ((r = 1; r <= runs; r++)); do
        log "probe run $r/$runs: bumple engine, $n probes"
        printf 'line0 %s\nlo0 %s\n' "$(server_count "$WORK/server.log")" "$(lo_bytes)" \
            >"$WORK/probe_bench.$r.meta"
        BUMPLE_CONFIG_DIR=$WORK/probe-cfg-$r QT_QPA_PLATFORM=offscreen \
            timeout 300 "$BUILD/probe_bench" "$n" >"$WORK/probe_bench.$r.txt" 2>"$WORK/probe_bench.$r.err" ||
            { cat "$WORK/probe_bench.$r.err" >&2; die "probe_bench failed"; }
        printf 'line1 %s\nlo1 %s\n' "$(server_count "$WORK/server.log")" "$(lo_bytes)" \
            >>"$WORK/probe_bench.$r.meta"
        addr=$(awk '$1 == "local_address" { print $2 }' "$WORK/probe_bench.$r.txt")
        log "probe run $r/$runs: curl in a shell loop, $n requests (Host: $addr)"
        printf 'line0 %s\nlo0 %s\n' "$(server_count "$WORK/server.log")" "$(lo_bytes)" \
            >"$WORK/curl.$r.meta"
        CURL_N=$n CURL_HOST=$addr timeout 300 /usr/bin/time -f '%e %U %S' -o "$WORK/curl.$r.time" \
            bash -c 'for ((i = 0; i < CURL_N; i++)); do curl "$@" -H "Host: $CURL_HOST" http://127.0.0.1/; done' \
            curl-loop "${curl_args[@]}" || die "the curl loop failed"
        printf 'line1 %s\nlo1 %s\n' "$(server_count "$WORK/server.log")" "$(lo_bytes)" \
            >>"$WORK/curl.$r.meta"
    done
    $ANALYZE probe "$WORK/probe.json" "$WORK" "$runs" "$n"

    # System calls of one probe: the difference of two runs (10 and 60 probes) over 50.
    log "system calls per probe (strace -c -f, 60 minus 10 probes)"
    local k
    for k in 10 60; do
        BUMPLE_CONFIG_DIR=$WORK/probe-cfg-strace-$k QT_QPA_PLATFORM=offscreen timeout 300 \
            strace -f -c -q -o "$WORK/strace.probe.$k.txt" "$BUILD/probe_bench" $k --probes-only \
            >/dev/null 2>>"$WORK/probe_bench.strace.err" || die "probe_bench under strace failed"
    done
    $ANALYZE strace "$WORK/strace.probe10.json" 1 p="$WORK/strace.probe.10.txt"
    $ANALYZE strace "$WORK/strace.probe60.json" 1 p="$WORK/strace.probe.60.txt"

    [ "${NO_CALLGRIND:-0}" = 1 ] && return 0
    local cn=20
    log "callgrind: $cn probes of the engine (collecting only the probe loop), 3 curl requests"
    BUMPLE_CONFIG_DIR=$WORK/probe-cfg-cg QT_QPA_PLATFORM=offscreen timeout 600 \
        valgrind --tool=callgrind --toggle-collect='*RunProbeLoop*' \
        --callgrind-out-file="$WORK/callgrind.probe_bench.out" \
        "$BUILD/probe_bench" "$cn" >"$WORK/callgrind.probe_bench.txt" 2>"$WORK/callgrind.probe_bench.err" ||
        die "probe_bench under callgrind failed"
    local outs=()
    for r in 1 2 3; do
        timeout 120 valgrind --tool=callgrind --callgrind-out-file="$WORK/callgrind.curl.$r.out" \
            curl "${curl_args[@]}" -H "Host: $addr" http://127.0.0.1/ 2>>"$WORK/callgrind.curl.err" ||
            die "curl under callgrind failed"
        outs+=("$WORK/callgrind.curl.$r.out")
    done
    $ANALYZE callgrind "$WORK/callgrind.json" "$WORK/callgrind.probe_bench.out" "$cn" "${outs[@]}"
}

new_workdir() { # name
    WORK=$BUILD/results/$1-$(date +%Y%m%d-%H%M%S)
    mkdir -p "$WORK"
    log "results in $WORK"
}
