#!/usr/bin/env bash
# bench/run.sh [--quick]: Bumple's benchmarks in one command. Builds Release in
# build-bench-release (or $BUMPLE_BENCH_BUILD) and prints, side by side with a comparison:
#   1. start-up (launch -> tray icon embedded) and peak memory, against a minimal Qt tray
#      program (bench/minimal_tray.cpp);
#   2. idle cost while armed and hidden with a 60-minute period (CPU per hour, wake-ups,
#      system calls), against the minimal program updating its tip once a second; the same
#      with "Bumple Only When Idle" on (the link's counters read at every tick), with 3
#      interfaces and again with 201;
#   3. the cost of one probe (CPU, wall, bytes), against curl in a shell loop (bench/probe.sh);
#   4. the accuracy of the schedule over 20 periods of 15 s (Debug), about 5 minutes.
# --quick: fewer runs, 20 s idle windows, 6 schedule periods (about 3 minutes in all).
# --startup: part 1 alone (start-up, memory and its instruction count), with --quick's runs.
# Everything runs inside a private network namespace (needs root) under its own Xvfb with
# openbox and tint2; every hive names only 127.0.0.1, served by bench/loopback_server.py.
# Prints figures only: nothing is asserted. Results: $BUILD/results/run-*/report.{txt,md}.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

QUICK=0 STARTUP_ONLY=0
[ "${1:-}" = --quick ] && QUICK=1
[ "${1:-}" = --startup ] && QUICK=1 STARTUP_ONLY=1
if [ $QUICK = 1 ]; then
    START_RUNS=3 IDLE_WINDOW=20 IDLE_RUNS=3 PROBE_N=200 PROBE_RUNS=3 PERIODS=6
else
    START_RUNS=7 IDLE_WINDOW=60 IDLE_RUNS=3 PROBE_N=200 PROBE_RUNS=3 PERIODS=20
fi

if [ "${BUMPLE_BENCH_NETNS:-0}" != 1 ]; then
    bench_build
fi
enter_netns "$0" "$@"
new_workdir run
trap cleanup EXIT
prog_env
install_icons
machine_info "$WORK/machine.json"
start_server "$WORK/server.log"
start_display

BUMPLE=$BUILD/bumple/bumple
MINIMAL=$BUILD/minimal_tray

# Starts a program under traywatch; sets LAUNCH_PID and LAUNCH_MS (-1: no icon in 20 s).
launch() { # cfgdir program args...
    local cfg=$1
    shift
    BUMPLE_CONFIG_DIR=$cfg "$BUILD/traywatch" 20000 "$@" >"$WORK/launch.out" 2>>"$WORK/programs.err" || true
    read -r LAUNCH_PID LAUNCH_MS <"$WORK/launch.out"
    [ -n "${LAUNCH_PID:-}" ] || die "could not launch $*"
    track "$LAUNCH_PID"
}

status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

# ---- 1. start-up and peak memory
log "start-up: $START_RUNS runs of each (after one warm-up launch of each)"
: >"$WORK/startup.tsv"
for ((r = 0; r <= START_RUNS; r++)); do
    for prog in bumple minimal; do
        case $prog in
        bumple)
            make_hive "$WORK/cfg-start" '"AutoStart"="1"' '"Often"="60"'
            launch "$WORK/cfg-start" "$BUMPLE"
            ;;
        minimal) launch "$WORK/cfg-start" "$MINIMAL" ;;
        esac
        sleep 5 # AutoStart fires 1 s after the tray icon, the first probe 1 s later
        hwm=$(status_kib "$LAUNCH_PID" VmHWM)
        rss=$(status_kib "$LAUNCH_PID" VmRSS)
        pss=$(awk '$1 == "Pss:" { print $2 }' "/proc/$LAUNCH_PID/smaps_rollup")
        priv=$(awk '$1 == "Private_Dirty:" { print $2 }' "/proc/$LAUNCH_PID/smaps_rollup")
        # resident kB per mapped file (first counted run), for the breakdown in the report
        [ $r = 1 ] && awk '/^[0-9a-f]+-[0-9a-f]+ / { name = NF >= 6 ? $6 : "[anonymous]" }
            $1 == "Rss:" { rss[name] += $2 } END { for (k in rss) print rss[k], k }' \
            "/proc/$LAUNCH_PID/smaps" | sort -rn >"$WORK/maps.$prog.txt"
        stop_pid "$LAUNCH_PID"
        [ $r = 0 ] && continue # warm-up
        printf '%s %d %s %s %s %s %s\n' $prog $r "$LAUNCH_MS" "$hwm" "$rss" "$pss" "$priv" \
            >>"$WORK/startup.tsv"
        log "  $prog run $r: tray after $LAUNCH_MS ms, VmHWM $hwm kB"
        sleep 1
    done
done
$ANALYZE startup "$WORK/startup.json" "$WORK/startup.tsv"

# Instructions from launch to the embedded tray icon (repeatable where the wall clock is
# not): each program under callgrind, dumped as soon as its icon is embedded. Once more under
# GNOME's icon theme (Qt's own gnome platform theme: Adwaita) and under Plasma's (Qt's own kde
# platform theme: Breeze), where the icons are looked up by name once the icon is in the tray.
if [ "${NO_CALLGRIND:-0}" != 1 ]; then
    log "start-up: instructions until the tray icon is embedded (callgrind)"
    [ -d /usr/share/icons/breeze ] || log "  breeze-icon-theme is not installed: Qt falls back to hicolor"
    for prog in bumple minimal bumple_themed minimal_themed bumple_breeze minimal_breeze; do
        make_hive "$WORK/cfg-startcg" '"AutoStart"="1"' '"Often"="60"'
        bin=$BUMPLE theme= kde=
        [ ${prog%%_*} = minimal ] && bin=$MINIMAL
        case $prog in
        *_themed) theme=gnome ;;
        *_breeze) theme=kde kde=5 ;;
        esac
        BUMPLE_CONFIG_DIR=$WORK/cfg-startcg QT_QPA_PLATFORMTHEME=$theme KDE_SESSION_VERSION=$kde \
            "$BUILD/traywatch" 120000 \
            valgrind --tool=callgrind --callgrind-out-file="$WORK/callgrind.start.$prog" "$bin" \
            >"$WORK/launch.out" 2>>"$WORK/programs.err" || true
        read -r pid ms <"$WORK/launch.out"
        track "$pid"
        timeout 60 callgrind_control -d "$pid" >/dev/null || log "  no dump of $prog"
        stop_pid "$pid"
    done
    cg=()
    for prog in bumple minimal bumple_themed minimal_themed bumple_breeze minimal_breeze; do
        cg+=("$prog=$WORK/callgrind.start.$prog.1")
    done
    $ANALYZE startcg "$WORK/startup_callgrind.json" "${cg[@]}"
fi

if [ $STARTUP_ONLY = 1 ]; then
    echo
    $ANALYZE report "$WORK"
    exit 0
fi

# ---- 2. idle cost, both programs side by side in the same windows
log "idle: bumple armed with a 60-minute period (also with \"IdleOnly\") and minimal_tray --tick, $IDLE_RUNS windows of $IDLE_WINDOW s"
# Three interfaces first (loopback and a veth pair), 201 later: "IdleOnly" reads one of them.
ip link add bench0 type veth peer name bench1
make_hive "$WORK/cfg-idle" '"AutoStart"="1"' '"Often"="60"'
make_hive "$WORK/cfg-idleonly" '"AutoStart"="1"' '"Often"="60"' '"IdleOnly"="1"'
before=$(server_count "$WORK/server.log")
launch "$WORK/cfg-idle" "$BUMPLE"
bpid=$LAUNCH_PID
launch "$WORK/cfg-idleonly" "$BUMPLE"
ipid=$LAUNCH_PID
launch "$WORK/cfg-idle" "$MINIMAL" --tick
mpid=$LAUNCH_PID
wait_probes "$WORK/server.log" $((before + 2)) 20 || die "bumple's first probes did not arrive"
sleep 3
first=$(server_count "$WORK/server.log")
$ANALYZE idle "$WORK/idle.json" "$IDLE_WINDOW" "$IDLE_RUNS" bumple="$bpid" minimal="$mpid" \
    bumple_idleonly="$ipid"
probes_in_window=$(($(server_count "$WORK/server.log") - first))
log "  probes during the idle windows: $probes_in_window (expected 0)"
log "idle: system calls over 10 s (strace -c -f, both programs)"
timeout -s INT 10 strace -f -c -q -o "$WORK/strace.bumple.txt" -p "$bpid" 2>/dev/null &
s1=$!
timeout -s INT 10 strace -f -c -q -o "$WORK/strace.minimal.txt" -p "$mpid" 2>/dev/null &
s2=$!
timeout -s INT 10 strace -f -c -q -o "$WORK/strace.idleonly.txt" -p "$ipid" 2>/dev/null &
s3=$!
wait $s1 $s2 $s3 || true
$ANALYZE strace "$WORK/strace.json" 10 bumple="$WORK/strace.bumple.txt" \
    minimal="$WORK/strace.minimal.txt" bumple_idleonly="$WORK/strace.idleonly.txt"
log "idle: the same with 201 interfaces (99 more veth pairs)"
for i in $(seq 2 2 197); do echo "link add bench$i type veth peer name bench$((i + 1))"; done |
    ip -batch -
sleep 3
$ANALYZE idle "$WORK/idle200.json" "$IDLE_WINDOW" "$IDLE_RUNS" bumple="$bpid" minimal="$mpid" \
    bumple_idleonly="$ipid"
stop_pid "$bpid"
stop_pid "$ipid"
stop_pid "$mpid"

# Instruction counts of the same idle state: both programs under callgrind, counters zeroed
# once bumple is armed and its first probe is done, dumped 30 s later.
if [ "${NO_CALLGRIND:-0}" != 1 ]; then
    log "idle: instructions over 30 s under callgrind (both programs)"
    make_hive "$WORK/cfg-idlecg" '"AutoStart"="1"' '"Often"="60"'
    before=$(server_count "$WORK/server.log")
    BUMPLE_CONFIG_DIR=$WORK/cfg-idlecg valgrind --tool=callgrind \
        --callgrind-out-file="$WORK/callgrind.idle.bumple" "$BUMPLE" 2>>"$WORK/programs.err" &
    bpid=$!
    track $bpid
    valgrind --tool=callgrind --callgrind-out-file="$WORK/callgrind.idle.minimal" \
        "$MINIMAL" --tick 2>>"$WORK/programs.err" &
    mpid=$!
    track $mpid
    wait_probes "$WORK/server.log" $((before + 1)) 90 || die "bumple under callgrind did not probe"
    sleep 5
    timeout 30 callgrind_control -z $bpid >/dev/null
    tb=$(date +%s.%N)
    timeout 30 callgrind_control -z $mpid >/dev/null
    tm=$(date +%s.%N)
    sleep 30
    timeout 30 callgrind_control -d $bpid >/dev/null
    tb=$(awk -v a="$tb" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    timeout 30 callgrind_control -d $mpid >/dev/null
    tm=$(awk -v a="$tm" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    stop_pid $bpid
    stop_pid $mpid
    $ANALYZE idlecg "$WORK/idle_callgrind.json" bumple="$WORK/callgrind.idle.bumple.1@$tb" \
        minimal="$WORK/callgrind.idle.minimal.1@$tm"
fi

# ---- 3. probe cost
probe_phase "$PROBE_N" "$PROBE_RUNS"

# ---- 4. schedule accuracy
log "schedule: $PERIODS periods of 15 s (Debug), about $((PERIODS * 15 / 60 + 1)) min"
make_hive "$WORK/cfg-sched" '"AutoStart"="1"' '"Debug"="1"'
first=$(server_count "$WORK/server.log")
launch "$WORK/cfg-sched" "$BUMPLE"
wait_probes "$WORK/server.log" $((first + PERIODS + 1)) $((PERIODS * 15 + 30)) ||
    log "  not every probe arrived in time"
stop_pid "$LAUNCH_PID"
$ANALYZE schedule "$WORK/schedule.json" "$WORK/server.log" "$first" "$PERIODS" 15

echo
$ANALYZE report "$WORK"
echo
echo "Results and raw data: $WORK"
