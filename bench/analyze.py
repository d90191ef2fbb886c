#!/usr/bin/env python3
"""Measurement helpers and the report of bench/run.sh and bench/probe.sh.

  analyze.py idle OUT WINDOW RUNS name=pid ...   idle windows, sampled from /proc
  analyze.py strace OUT SECONDS name=file ...    strace -c summaries -> calls per second
  analyze.py startup OUT TSV                     start-up runs -> medians
  analyze.py startcg OUT name=callgrind-file ...  instructions until the tray icon
  analyze.py probe OUT WORKDIR RUNS N            probe_bench and curl runs -> medians
  analyze.py idlecg OUT name=callgrind-file@seconds ...  idle instructions per second
  analyze.py callgrind OUT BUMPLE_OUT N CURL_OUT ...  instruction counts
  analyze.py schedule OUT SERVERLOG FIRSTLINE PERIODS PERIOD_S
  analyze.py report WORKDIR                      prints the side-by-side table, writes report.md
"""
import glob
import json
import os
import re
import statistics
import subprocess
import sys
import time

HZ = os.sysconf("SC_CLK_TCK")


def med(v):
    return statistics.median(v) if v else float("nan")


def spread(v):
    return [min(v), max(v)] if v else [float("nan"), float("nan")]


def dump(path, obj):
    with open(path, "w") as f:
        json.dump(obj, f, indent=1)


def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


# ---------------------------------------------------------------- idle

def sample(pid):
    """CPU and context switches of a process, summed over its threads."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime + stime, whole process
    run_ns = 0
    vcsw = ivcsw = 0
    threads = 0
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(task + "/schedstat") as f:
                run_ns += int(f.read().split()[0])
            with open(task + "/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        vcsw += int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches"):
                        ivcsw += int(line.split()[1])
            threads += 1
        except OSError:
            pass  # a thread that ended meanwhile
    return {"t": time.monotonic(), "ticks": ticks, "run_ns": run_ns, "vcsw": vcsw,
            "ivcsw": ivcsw, "threads": threads}


def cmd_idle(out, window, runs, *pairs):
    procs = dict(p.split("=") for p in pairs)
    res = {name: [] for name in procs}
    for _ in range(int(runs)):
        start = {n: sample(p) for n, p in procs.items()}
        time.sleep(float(window))
        end = {n: sample(p) for n, p in procs.items()}
        for n in procs:
            a, b = start[n], end[n]
            dt = b["t"] - a["t"]
            res[n].append({
                "window_s": dt,
                "cpu_s_per_h_stat": (b["ticks"] - a["ticks"]) / HZ / dt * 3600,
                "cpu_s_per_h": (b["run_ns"] - a["run_ns"]) / 1e9 / dt * 3600,
                "wakeups_per_s": ((b["vcsw"] - a["vcsw"]) + (b["ivcsw"] - a["ivcsw"])) / dt,
                "voluntary_per_s": (b["vcsw"] - a["vcsw"]) / dt,
                "threads": b["threads"],
            })
    summary = {}
    for n, rows in res.items():
        summary[n] = {k: med([r[k] for r in rows]) for k in rows[0]}
        summary[n]["spread"] = {k: spread([r[k] for r in rows]) for k in rows[0]}
        summary[n]["runs"] = rows
    dump(out, summary)


def cmd_strace(out, seconds, *pairs):
    res = {}
    for pair in pairs:
        name, path = pair.split("=")
        calls = {}
        try:
            for line in open(path):
                m = re.match(r"\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?(\w+)\s*$", line)
                if m and m.group(2) != "total":
                    calls[m.group(2)] = int(m.group(1))
        except OSError:
            pass
        s = float(seconds)
        res[name] = {"per_s": {k: round(v / s, 2) for k, v in
                               sorted(calls.items(), key=lambda kv: -kv[1])},
                     "total_per_s": round(sum(calls.values()) / s, 2)}
    dump(out, res)


def cmd_idlecg(out, *pairs):
    """Instructions per second of each program between a zero and a dump of callgrind."""
    watch = ["CQtFramework::timerEvent", "CBumpleView::OnTimer", "CBumpleView::ShowTimeLeft",
             "CTrayNotifyIcon::SetTooltipText", "QSystemTrayIcon::setToolTip", "QLabel::setText",
             "QTimer::timerEvent", "CProfileStore::", "CRegistry", "QEventDispatcherUNIX::processEvents"]
    res = {}
    for pair in pairs:
        name, rest = pair.split("=")
        path, seconds = rest.rsplit("@", 1)
        seconds = float(seconds)
        total, funcs = annotate(path)
        res[name] = {"ir_per_s": total / seconds, "window_s": seconds,
                     "per_s": {w: pick(funcs, w) / seconds for w in watch if pick(funcs, w)}}
    dump(out, res)


# ---------------------------------------------------------------- start-up

START_PARTS = {
    "dynamic linking (_dl_start)": "_dl_start",
    "QApplication constructor": "QApplication::QApplication(",
    "CBumpleApp::InitInstance": "CBumpleApp::InitInstance",
    "  the form's controls, not laid out (CDialogBuilder::Create)": "CDialogBuilder::Create",
    "  font database set-up (ensureFontDatabase; 0: no text measured)":
        "QFontDatabasePrivate::ensureFontDatabase",
    "  main frame (CMainFrame, without its menu bar until shown)": "CMainFrame::CMainFrame",
    "  icons (LoadIconResource, SVG)": "LoadIconResource",
    "  tray icon (CTrayNotifyIcon::Create)": "CTrayNotifyIcon::Create",
}


def cmd_startcg(out, *pairs):
    res = {}
    for pair in pairs:
        name, path = pair.split("=")
        total, funcs = annotate(path)
        res[name] = {"ir": total, "parts": {k: pick(funcs, v) for k, v in START_PARTS.items()}}
    dump(out, res)


def cmd_startup(out, tsv):
    rows = [l.split() for l in open(tsv) if l.strip()]
    res = {}
    for prog in sorted({r[0] for r in rows}):
        ms = [float(r[2]) for r in rows if r[0] == prog and float(r[2]) >= 0]
        hwm = [int(r[3]) for r in rows if r[0] == prog]
        rss = [int(r[4]) for r in rows if r[0] == prog]
        pss = [int(r[5]) for r in rows if r[0] == prog]
        priv = [int(r[6]) for r in rows if r[0] == prog]
        res[prog] = {"tray_ms": med(ms), "tray_ms_spread": spread(ms), "tray_ms_runs": ms,
                     "hwm_kib": med(hwm), "hwm_kib_spread": spread(hwm),
                     "rss_kib": med(rss), "pss_kib": med(pss), "private_dirty_kib": med(priv),
                     "runs": len(ms)}
    dump(out, res)


# ---------------------------------------------------------------- probe

def kv(path):
    d = {}
    for line in open(path):
        parts = line.split()
        if len(parts) == 2:
            try:
                d[parts[0]] = float(parts[1])
            except ValueError:
                d[parts[0]] = parts[1]
    return d


def server_slice(log, a, b):
    lines = open(log).read().splitlines()[int(a):int(b)]
    return [json.loads(l) for l in lines]


def cmd_probe(out, work, runs, n):
    runs, n = int(runs), int(n)
    bumple, curl = [], []
    for r in range(1, runs + 1):
        d = kv(f"{work}/probe_bench.{r}.txt")
        meta = kv(f"{work}/probe_bench.{r}.meta")
        conns = server_slice(f"{work}/server.log", meta["line0"], meta["line1"])
        d["server_connections"] = len(conns)
        d["server_bytes_per_conn"] = med([c["bytes"] for c in conns])
        d["lo_bytes_per_probe"] = (meta["lo1"] - meta["lo0"]) / len(conns) if conns else 0
        bumple.append(d)
        t = open(f"{work}/curl.{r}.time").read().split()
        meta = kv(f"{work}/curl.{r}.meta")
        conns = server_slice(f"{work}/server.log", meta["line0"], meta["line1"])
        wall, user, sys_ = (float(x) for x in t[-3:])
        curl.append({"wall_ms": wall * 1e3 / n, "cpu_ms": (user + sys_) * 1e3 / n,
                     "user_ms": user * 1e3 / n, "sys_ms": sys_ * 1e3 / n,
                     "server_connections": len(conns),
                     "server_bytes_per_conn": med([c["bytes"] for c in conns]),
                     "lo_bytes_per_probe": (meta["lo1"] - meta["lo0"]) / len(conns) if conns else 0,
                     "head": conns[0]["head"] if conns else ""})

    def m(rows, k):
        return med([r[k] for r in rows])

    res = {"n": n, "runs": runs,
           "bumple": {k: m(bumple, k) for k in (
               "cpu_median_ms", "cpu_mean_ms", "wall_ok_median_ms", "wall_close_median_ms",
               "sync_cpu_median_ms", "sync_wall_median_ms", "tick_cpu_median_ms",
               "writes_cpu_median_ms", "writes_wall_median_ms", "changed_writes_cpu_median_ms",
               "changed_writes_wall_median_ms", "bytes_sent",
               "server_bytes_per_conn", "lo_bytes_per_probe", "settings_writes_per_probe",
               "loop_user_ms", "loop_sys_ms", "loop_wall_ms")},
           "curl": {k: m(curl, k) for k in (
               "cpu_ms", "user_ms", "sys_ms", "wall_ms", "server_bytes_per_conn",
               "lo_bytes_per_probe")},
           "spread": {"bumple_cpu": spread([r["cpu_median_ms"] for r in bumple]),
                      "bumple_wall": spread([r["wall_close_median_ms"] for r in bumple]),
                      "curl_cpu": spread([r["cpu_ms"] for r in curl]),
                      "curl_wall": spread([r["wall_ms"] for r in curl])},
           "bumple_runs": bumple, "curl_runs": curl,
           "curl_head": curl[0]["head"] if curl else ""}
    b = res["bumple"]
    # The loop's getrusage total spread over the probes (includes the 59 countdown ticks).
    b["loop_cpu_per_probe_ms"] = (b["loop_user_ms"] + b["loop_sys_ms"]) / n
    b["writes_share_cpu"] = b["writes_cpu_median_ms"] / b["cpu_median_ms"]
    b["writes_share_wall"] = b["writes_wall_median_ms"] / b["wall_close_median_ms"]
    dump(out, res)


def annotate(path):
    """Inclusive instruction counts per function from a callgrind output file."""
    txt = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", path],
                         capture_output=True, text=True).stdout
    total = 0
    funcs = {}
    for line in txt.splitlines():
        m = re.match(r"\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(?:\*\s+)?(.*)$", line)
        if not m:
            continue
        ir = int(m.group(1).replace(",", ""))
        rest = m.group(2)
        if "PROGRAM TOTALS" in rest:
            total = ir
            continue
        name = rest.split(":", 1)[1] if ":" in rest and not rest.startswith("0x") else rest
        name = re.sub(r"\s*\[.*\]$", "", name).strip()
        funcs[name] = max(funcs.get(name, 0), ir)
    return total, funcs


def pick(funcs, needle):
    return max([ir for name, ir in funcs.items() if needle in name] or [0])


def cmd_callgrind(out, bumple_out, n, *curl_outs):
    n = int(n)
    total, funcs = annotate(bumple_out)
    parts = {
        "RunTheJob (probe tick)": "CBumpleView::RunTheJob",
        "OpenTcpSocket (socket+connect)": "CBumpleView::OpenTcpSocket",
        "SaveNameList (settings writes)": "CBumpleView::SaveNameList",
        "CProfileStore::WriteProfileString": "CProfileStore::WriteProfileString",
        "CProfileStore::WriteProfileInt": "CProfileStore::WriteProfileInt",
        "SendProbeRequest": "CBumpleView::SendProbeRequest",
        "OnProbeSocket (read, close)": "CBumpleView::OnProbeSocket",
        "ShowTimeLeft (countdown+tip)": "CBumpleView::ShowTimeLeft",
        "event loop (processEvents)": "QCoreApplication::processEvents",
    }
    res = {"bumple_ir_per_probe": total / n,
           "bumple_parts_per_probe": {k: pick(funcs, v) / n for k, v in parts.items()}}
    curl_ir = []
    for c in curl_outs:
        t, _ = annotate(c)
        if t:
            curl_ir.append(t)
    res["curl_ir_per_request"] = med(curl_ir)
    res["curl_runs"] = curl_ir
    dump(out, res)


# ---------------------------------------------------------------- schedule

def cmd_schedule(out, log, first, periods, period):
    first, periods, period = int(first), int(periods), float(period)
    conns = server_slice(log, first, first + periods + 1)
    res = {"periods": periods, "period_s": period, "probes_seen": len(conns)}
    for key in ("done", "accept"):
        t = [c[key] for c in conns]
        if len(t) < 2:
            continue
        k = list(range(len(t)))
        dev = [(t[i] - (t[0] + i * period)) * 1e3 for i in k]
        step = [(t[i] - t[i - 1] - period) * 1e3 for i in k[1:]]
        def slope(ks, ts):
            km, tm = statistics.mean(ks), statistics.mean(ts)
            return sum((a - km) * (b - tm) for a, b in zip(ks, ts)) / sum((a - km) ** 2 for a in ks)
        # Least-squares slope of arrival time over the probe number. The first probe of a
        # run carries one-time costs (first wait cursor, first settings write in a new
        # folder), so the drift is fitted from the second probe on; the slope over all is
        # kept too.
        s_all = slope(k, t)
        s_rest = slope(k[1:], t[1:]) if len(t) > 2 else s_all
        res[key] = {"mean_dev_ms": statistics.mean(dev),
                    "mean_abs_dev_ms": statistics.mean(abs(d) for d in dev),
                    "worst_dev_ms": max(dev, key=abs),
                    "mean_step_dev_ms": statistics.mean(step),
                    "worst_step_dev_ms": max(step, key=abs),
                    "worst_step_dev_after_first_ms": max(step[1:] or step, key=abs),
                    "slope_s": s_rest, "drift_ms_per_period": (s_rest - period) * 1e3,
                    "drift_all_ms_per_period": (s_all - period) * 1e3,
                    "first_probe_latency_ms": (conns[0]["done"] - conns[0]["accept"]) * 1e3,
                    "later_latency_median_ms": med([(c["done"] - c["accept"]) * 1e3
                                                    for c in conns[1:]]),
                    "dev_ms": dev}
    dump(out, res)


# ---------------------------------------------------------------- report

GOALS = []


def ratio(a, b):
    return a / b if b else float("nan")


def cmd_report(work):
    mi = load(f"{work}/machine.json") or {}
    st = load(f"{work}/startup.json")
    idle = load(f"{work}/idle.json")
    strace = load(f"{work}/strace.json")
    pr = load(f"{work}/probe.json")
    cg = load(f"{work}/callgrind.json")
    sc = load(f"{work}/schedule.json")
    rows = []  # (figure, bumple, comparison, ratio, goal, met)

    def row(fig, b, c, r, goal="", met=None):
        rows.append((fig, b, c, r, goal, "" if met is None else ("met" if met else "MISSED")))

    pause = 1000.0
    if st and "bumple" in st and "minimal" in st:
        b, m = st["bumple"], st["minimal"]
        nop = b["tray_ms"] - pause
        row("start-up: launch -> tray icon embedded (ms)",
            f"{b['tray_ms']:.0f} ({b['tray_ms_spread'][0]:.0f}-{b['tray_ms_spread'][1]:.0f})",
            f"{m['tray_ms']:.0f} ({m['tray_ms_spread'][0]:.0f}-{m['tray_ms_spread'][1]:.0f})",
            f"{ratio(b['tray_ms'], m['tray_ms']):.2f}x")
        r = ratio(nop, m["tray_ms"])
        row("start-up without the 1 s pause (ms)", f"{nop:.0f}", f"{m['tray_ms']:.0f}",
            f"{r:.2f}x", "<= 1.3x", r <= 1.3)
        r = ratio(b["hwm_kib"], m["hwm_kib"])
        row("peak RSS after start-up, VmHWM (MiB)",
            f"{b['hwm_kib'] / 1024:.1f} ({b['hwm_kib_spread'][0] / 1024:.1f}-{b['hwm_kib_spread'][1] / 1024:.1f})",
            f"{m['hwm_kib'] / 1024:.1f} ({m['hwm_kib_spread'][0] / 1024:.1f}-{m['hwm_kib_spread'][1] / 1024:.1f})",
            f"{r:.2f}x", "<= 1.3x", r <= 1.3)
        row("  proportional (PSS, shared pages split with other processes) / private dirty (MiB)",
            f"{b['pss_kib'] / 1024:.1f} / {b['private_dirty_kib'] / 1024:.1f}",
            f"{m['pss_kib'] / 1024:.1f} / {m['private_dirty_kib'] / 1024:.1f}",
            f"{ratio(b['pss_kib'], m['pss_kib']):.2f}x / "
            f"{ratio(b['private_dirty_kib'], m['private_dirty_kib']):.2f}x")
    def maps(prog):
        try:
            return {l.split(None, 1)[1].strip(): int(l.split()[0])
                    for l in open(f"{work}/maps.{prog}.txt") if len(l.split()) >= 2}
        except OSError:
            return {}
    mb, mm = maps("bumple"), maps("minimal")
    if mb and mm:
        diff = sorted(((mb.get(k, 0) - mm.get(k, 0), k) for k in set(mb) | set(mm)), reverse=True)
        top = ", ".join(f"{os.path.basename(k).split('.so')[0]} +{d / 1024:.1f}" for d, k in diff[:8])
        row("  largest resident differences vs the floor (MiB)", top, "-", "")
    scg = load(f"{work}/startup_callgrind.json")
    if scg and "bumple" in scg and "minimal" in scg:
        b, m = scg["bumple"], scg["minimal"]
        row("start-up instructions until the icon is embedded (callgrind, M)",
            f"{b['ir'] / 1e6:.1f}", f"{m['ir'] / 1e6:.1f}", f"{ratio(b['ir'], m['ir']):.2f}x")
        for part, ir in b["parts"].items():
            row(f"  {part.strip()}" if not part.startswith("  ") else f"    {part.strip()}",
                f"{ir / 1e6:.1f}", f"{m['parts'].get(part, 0) / 1e6:.1f}", "")
    for key, desktop in (("themed", "GNOME's icon theme (Adwaita)"), ("breeze", "Plasma's icon theme (Breeze)")):
        if scg and f"bumple_{key}" in scg and f"minimal_{key}" in scg:
            b, m = scg[f"bumple_{key}"], scg[f"minimal_{key}"]
            row(f"  the same under {desktop} (M)",
                f"{b['ir'] / 1e6:.1f}", f"{m['ir'] / 1e6:.1f}", f"{ratio(b['ir'], m['ir']):.2f}x")
            row("    icons (LoadIconResource)",
                f"{b['parts'].get('  icons (LoadIconResource, SVG)', 0) / 1e6:.1f}", "-", "")
    if idle and "bumple" in idle and "minimal" in idle:
        b, m = idle["bumple"], idle["minimal"]
        r = ratio(b["cpu_s_per_h"], m["cpu_s_per_h"])
        row("idle CPU, armed, 60-min period (s/hour, schedstat)",
            f"{b['cpu_s_per_h']:.2f} ({b['spread']['cpu_s_per_h'][0]:.2f}-{b['spread']['cpu_s_per_h'][1]:.2f})",
            f"{m['cpu_s_per_h']:.2f} ({m['spread']['cpu_s_per_h'][0]:.2f}-{m['spread']['cpu_s_per_h'][1]:.2f})",
            f"{r:.2f}x", "<= 1.5x", r <= 1.5)
        row("idle CPU from /proc/<pid>/stat utime+stime (s/hour, 10 ms ticks)",
            f"{b['cpu_s_per_h_stat']:.2f}", f"{m['cpu_s_per_h_stat']:.2f}",
            f"{ratio(b['cpu_s_per_h_stat'], m['cpu_s_per_h_stat']):.2f}x"
            if m["cpu_s_per_h_stat"] else "-")
        row("idle wake-ups (context switches/s, all threads)",
            f"{b['wakeups_per_s']:.2f}", f"{m['wakeups_per_s']:.2f}",
            f"{ratio(b['wakeups_per_s'], m['wakeups_per_s']):.2f}x")
        if "bumple_idleonly" in idle:
            i = idle["bumple_idleonly"]
            r = ratio(i["cpu_s_per_h"], m["cpu_s_per_h"])
            row("idle CPU with \"Bumple Only When Idle\" on (s/hour, schedstat)",
                f"{i['cpu_s_per_h']:.2f} ({i['spread']['cpu_s_per_h'][0]:.2f}-{i['spread']['cpu_s_per_h'][1]:.2f})",
                f"{m['cpu_s_per_h']:.2f} ({m['spread']['cpu_s_per_h'][0]:.2f}-{m['spread']['cpu_s_per_h'][1]:.2f})",
                f"{r:.2f}x", "<= 1.5x", r <= 1.5)
    for label, data in (("3", idle), ("201", load(f"{work}/idle200.json"))):
        if data and "bumple" in data and "bumple_idleonly" in data:
            b, i = data["bumple"], data["bumple_idleonly"]
            r = ratio(i["cpu_s_per_h"], b["cpu_s_per_h"])
            row(f"idle CPU, \"Bumple Only When Idle\" on / off, {label} interfaces (s/hour)",
                f"{i['cpu_s_per_h']:.2f} ({i['spread']['cpu_s_per_h'][0]:.2f}-{i['spread']['cpu_s_per_h'][1]:.2f})",
                f"{b['cpu_s_per_h']:.2f} ({b['spread']['cpu_s_per_h'][0]:.2f}-{b['spread']['cpu_s_per_h'][1]:.2f})",
                f"{r:.2f}x", "<= 1.2x", r <= 1.2)
    if strace and "bumple" in strace and "minimal" in strace:
        b, m = strace["bumple"], strace["minimal"]
        top = lambda d: ", ".join(f"{k} {v:g}" for k, v in list(d["per_s"].items())[:5])
        row("idle system calls per second (strace -c -f)",
            f"{b['total_per_s']:g} [{top(b)}]", f"{m['total_per_s']:g} [{top(m)}]",
            f"{ratio(b['total_per_s'], m['total_per_s']):.2f}x")
        if "bumple_idleonly" in strace:
            i = strace["bumple_idleonly"]
            row("  the same with \"Bumple Only When Idle\" on",
                f"{i['total_per_s']:g} [{top(i)}]", f"{m['total_per_s']:g} [{top(m)}]",
                f"{ratio(i['total_per_s'], m['total_per_s']):.2f}x")
    icg = load(f"{work}/idle_callgrind.json")
    if icg and "bumple" in icg and "minimal" in icg:
        b, m = icg["bumple"], icg["minimal"]
        r = ratio(b["ir_per_s"], m["ir_per_s"])
        bt = b["per_s"].get("CQtFramework::timerEvent", 0)
        mt = m["per_s"].get("QTimer::timerEvent", 0)
        row("idle instructions per second (callgrind, whole process)",
            f"{b['ir_per_s'] / 1e3:.1f} k", f"{m['ir_per_s'] / 1e3:.1f} k", f"{r:.2f}x")
        row("  of which the one-second tick (timer event -> countdown text + tip)",
            f"{bt / 1e3:.1f} k", f"{mt / 1e3:.1f} k", f"{ratio(bt, mt):.2f}x")
        row("  settings-file work per idle second (CProfileStore/CRegistry)",
            f"{(b['per_s'].get('CProfileStore::', 0) + b['per_s'].get('CRegistry', 0)):.0f}",
            "-", "")
    if pr:
        b, c = pr["bumple"], pr["curl"]
        r = ratio(c["cpu_ms"], b["cpu_median_ms"])
        row(f"CPU per probe (ms), N={pr['n']}",
            f"{b['cpu_median_ms']:.3f} ({pr['spread']['bumple_cpu'][0]:.3f}-{pr['spread']['bumple_cpu'][1]:.3f})",
            f"{c['cpu_ms']:.3f} ({pr['spread']['curl_cpu'][0]:.3f}-{pr['spread']['curl_cpu'][1]:.3f})",
            f"curl/bumple {r:.1f}x", ">= 10x cheaper", r >= 10)
        row("wall per probe, tick -> close handled (ms)",
            f"{b['wall_close_median_ms']:.3f} (first reply byte {b['wall_ok_median_ms']:.3f})",
            f"{c['wall_ms']:.3f}",
            f"curl/bumple {ratio(c['wall_ms'], b['wall_close_median_ms']):.1f}x")
        row("request bytes received by the server per probe",
            f"{b['server_bytes_per_conn']:.0f} (harness says {b['bytes_sent']:.0f})",
            f"{c['server_bytes_per_conn']:.0f}",
            f"{ratio(b['server_bytes_per_conn'], c['server_bytes_per_conn']):.2f}x")
        row("loopback bytes per exchange (both ways, TCP/IP headers incl.)",
            f"{b['lo_bytes_per_probe']:.0f}", f"{c['lo_bytes_per_probe']:.0f}",
            f"{ratio(b['lo_bytes_per_probe'], c['lo_bytes_per_probe']):.2f}x")
        s10, s60 = load(f"{work}/strace.probe10.json"), load(f"{work}/strace.probe60.json")
        if s10 and s60:
            a, b2 = s10["p"]["per_s"], s60["p"]["per_s"]
            per = {k: (b2.get(k, 0) - a.get(k, 0)) / 50 for k in b2}
            per = {k: v for k, v in sorted(per.items(), key=lambda kv: -kv[1]) if v >= 0.5}
            row("system calls per probe (strace)", f"{sum(per.values()):.0f}: " +
                ", ".join(f"{k} {v:.0f}" for k, v in list(per.items())[:8]) + ", ...", "-", "")
        row("settings writes of a probe, values unchanged (CPU ms; share of probe CPU)",
            f"{b['writes_cpu_median_ms']:.3f} ({100 * b['writes_share_cpu']:.0f}%, "
            f"{b['settings_writes_per_probe']:.0f} writes)", "-", "")
        row("settings writes of a probe, values unchanged (wall ms; share of probe wall)",
            f"{b['writes_wall_median_ms']:.3f} ({100 * b['writes_share_wall']:.0f}%)", "-", "")
        row("the same writes with changed values (file replaced, fsync): CPU / wall ms",
            f"{b['changed_writes_cpu_median_ms']:.3f} / {b['changed_writes_wall_median_ms']:.3f}",
            "-", "")
        row("countdown tick (CPU ms, harness, tray stubbed)", f"{b['tick_cpu_median_ms']:.4f}",
            "-", "")
    if cg:
        r = ratio(cg["curl_ir_per_request"], cg["bumple_ir_per_probe"])
        row("instructions per probe (callgrind, user space only)",
            f"{cg['bumple_ir_per_probe'] / 1e3:.0f} k", f"{cg['curl_ir_per_request'] / 1e6:.2f} M",
            f"curl/bumple {r:.0f}x")
        sn = cg["bumple_parts_per_probe"].get("SaveNameList (settings writes)", 0)
        row("  of which SaveNameList (settings writes)",
            f"{sn / 1e3:.0f} k ({100 * ratio(sn, cg['bumple_ir_per_probe']):.0f}%)", "-", "")
    if sc:
        for key, label in (("done", "request complete"), ("accept", "connection accepted")):
            s = sc.get(key)
            if not s:
                continue
            met = abs(s["worst_dev_ms"]) < 50 and abs(s["drift_ms_per_period"]) < 1.0
            row(f"schedule, {sc['probes_seen'] - 1} periods of {sc['period_s']:.0f} s ({label}): "
                "mean abs dev / worst dev / drift",
                f"{s['mean_abs_dev_ms']:.1f} / {s['worst_dev_ms']:+.1f} ms / "
                f"{s['drift_ms_per_period']:+.2f} ms per period",
                "ideal 0", "", "< 50 ms, no drift" if key == "done" else "",
                met if key == "done" else None)
            if key == "done":
                row("  worst period-to-period step (after the first) / drift over all probes",
                    f"{s['worst_step_dev_after_first_ms']:+.1f} ms / "
                    f"{s['drift_all_ms_per_period']:+.2f} ms per period", "", "")
                row("  connect -> request complete: first probe / later probes (median)",
                    f"{s['first_probe_latency_ms']:.1f} / {s['later_latency_median_ms']:.2f} ms",
                    "", "")

    machine = (f"{mi.get('nproc')} cores, {mi.get('cpu')}, kernel {mi.get('kernel')}, "
               f"Qt {mi.get('qt')}, load at start {' '.join(mi.get('loadavg', []))}, "
               f"compiler processes at start {mi.get('compilers_running_at_start')}, "
               f"hive on {mi.get('hive_fs')}")
    head = ("figure", "bumple", "comparison", "ratio", "goal", "")
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(6)]
    lines = [f"Machine: {machine}", f"Date: {mi.get('date', '')}", ""]
    for r in [head] + rows:
        lines.append("  ".join(str(x).ljust(w) for x, w in zip(r, widths)).rstrip())
    text = "\n".join(lines)
    print(text)
    md = [f"Machine: {machine}.  Date: {mi.get('date', '')}.", "",
          "| figure | bumple | comparison | ratio | goal | |", "|---|---|---|---|---|---|"]
    for r in rows:
        md.append("| " + " | ".join(str(x).replace("|", "/") for x in r) + " |")
    with open(f"{work}/report.md", "w") as f:
        f.write("\n".join(md) + "\n")
    with open(f"{work}/report.txt", "w") as f:
        f.write(text + "\n")


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    {"idle": cmd_idle, "strace": cmd_strace, "startup": cmd_startup, "probe": cmd_probe,
     "callgrind": cmd_callgrind, "idlecg": cmd_idlecg, "startcg": cmd_startcg, "schedule": cmd_schedule, "report": cmd_report}[cmd](*args)


if __name__ == "__main__":
    main()
