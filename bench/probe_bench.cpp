// probe_bench: N probes of the real engine (CBumpleView with its real sockets and its real
// settings file) against the loopback HTTP server on 127.0.0.1:80, printing per-probe wall
// and CPU time and the bytes sent.
//
//   BUMPLE_CONFIG_DIR=<empty folder> [BUMPLE_BENCH_NAMES=K] probe_bench [N] [--probes-only]
//
// K (default 1) is the length of the name list: 127.0.0.1, which is probed, then 127.0.x.y.
// startup_cpu_ms is the process's CPU from its start until the view's initial update is done,
// the name list loaded.
//
// The schedule is driven as the engine's own timer would drive it, but deterministically:
// the period is one minute ("Often"="1"), and each probe is 59 calls of the tick handler
// OnTimer(101) (countdown only) followed by the 60th, which runs the probe. After that call
// the event loop runs until the first reply byte has been handled (the success is counted)
// and then until the server's close has been handled (the socket is released), so every
// probe is measured from the tick that starts it to the end of its exchange.
//
// Per probe:  wall_ok     tick start -> success counted (first reply byte handled)
//             wall_close  tick start -> server's close handled
//             cpu         process CPU time (CLOCK_PROCESS_CPUTIME_ID) over wall_close
//             sync_wall / sync_cpu   the tick call itself: blocking connect, the settings
//                         writes of a successful connection, and the send
// Also the CPU of one countdown-only tick, the getrusage user/system split over the whole
// loop, and the cost of the settings writes alone: the same writes a successful connection
// makes ("Often", every "ComboName%d", "ComboNameSel"), done N times straight through the
// profile store on the same file, once with the values unchanged (as in every probe after
// the first: the store then leaves the file as it is) and once with changed values (each
// write replaces the file with fsync); both left out with --probes-only.
//
// Last, the CPU of loading the name list (LoadNameList, as at start-up and after Edit Names)
// from a hive of 5 and of 4000 names: the first load after the file changed, which parses it,
// and the median of ten more loads of the unchanged file; left out with --probes-only.
//
// The hive this program writes names only 127.0.0.1 (the load hives only 127.0.x.y, and they
// are never probed). It is meant to run inside a private
// network namespace (bench/probe.sh does that), where the server owns 127.0.0.1:80.
// Output: "key value" lines, easy to read for the scripts.

#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CComboBox.h"
#include "CMainFrame.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CQtFramework.h"
#include "CShellTray.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

double WallMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double TvMs(const timeval& tv) {
    return double(tv.tv_sec) * 1e3 + double(tv.tv_usec) / 1e3;
}

// The real framework services, except that window timers are left to this program (the
// ticks are delivered by calling the handler), the start-up pause is not slept, and a
// message box is counted instead of shown.
class CBenchFramework : public CQtFramework {
public:
    void SetTimer(QObject*, UINT, UINT) override {}
    void KillTimer(QObject*, UINT) override {}
    void Sleep(DWORD) override {}
    int MessageBox(const QString& text, MessageIcon) override {
        std::fprintf(stderr, "probe_bench: message box: %s\n", qPrintable(text));
        ++m_nMessages;
        return IDOK;
    }
    int m_nMessages = 0;
};

// A notification area that accepts every call and keeps the tip, as a tray would.
class CBenchTray : public CShellTray {
public:
    BOOL Shell_NotifyIcon(DWORD, const NOTIFYICONDATA& nid) override {
        if ((nid.uFlags & NIF_TIP) != 0)
            std::memcpy(m_szTip, nid.szTip, sizeof m_szTip);
        return TRUE;
    }
    BOOL IsIconShown(const NOTIFYICONDATA&) override { return TRUE; }
    BOOL ShowBalloon(const NOTIFYICONDATA&, const QString&, const QString&) override {
        return TRUE;
    }
    char m_szTip[64] = {};
};

// Runs the event loop until done() holds or ms have passed; false on time-out.
bool PumpUntil(const std::function<bool()>& done, double ms) {
    const double deadline = WallMs() + ms;
    while (!done()) {
        if (WallMs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Probe {
    double wallOk, wallClose, cpu, syncWall, syncCpu;
};

struct Stats {
    double median, mean, p10, p90, min, max;
};

Stats Summarize(std::vector<double> v) {
    Stats s{};
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[size_t(q * double(v.size() - 1) + 0.5)]; };
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    double sum = 0;
    for (double x : v)
        sum += x;
    s.mean = sum / double(v.size());
    s.p10 = at(0.1);
    s.p90 = at(0.9);
    s.min = v.front();
    s.max = v.back();
    return s;
}

void Print(const char* key, const std::vector<double>& v) {
    const Stats s = Summarize(v);
    std::printf("%s_median_ms %.4f\n%s_mean_ms %.4f\n%s_p10_ms %.4f\n%s_p90_ms %.4f\n"
                "%s_min_ms %.4f\n%s_max_ms %.4f\n",
                key, s.median, key, s.mean, key, s.p10, key, s.p90, key, s.min, key, s.max);
}

// Kept out of line so that a profiler can collect exactly the probes:
//   valgrind --tool=callgrind --toggle-collect='*RunProbeLoop*' probe_bench 20
__attribute__((noinline)) bool RunProbeLoop(CBumpleView* pView, int n, std::vector<Probe>* pProbes,
                                            std::vector<double>* pTickCpu) {
    for (int i = 0; i < n; ++i) {
        const double tickStart = CpuMs();
        for (int t = 0; t < 59; ++t)
            pView->OnTimer(101);
        pTickCpu->push_back((CpuMs() - tickStart) / 59.0);

        const int before = pView->m_nSuccesses;
        const double w0 = WallMs();
        const double c0 = CpuMs();
        pView->OnTimer(101);
        const double w1 = WallMs();
        const double c1 = CpuMs();
        if (!PumpUntil([&] { return pView->m_nSuccesses > before; }, 5000))
            return false;
        const double w2 = WallMs();
        if (!PumpUntil([&] { return pView->m_socket == INVALID_SOCKET; }, 5000))
            return false;
        const double w3 = WallMs();
        const double c3 = CpuMs();
        pProbes->push_back({w2 - w0, w3 - w0, c3 - c0, w1 - w0, c1 - c0});
    }
    return true;
}

// The CPU of LoadNameList on a hive of count names in a folder of its own.
void MeasureLoads(CBumpleView* pView, const QByteArray& dir, int count) {
    const QString folder = QString::fromLocal8Bit(dir) + QStringLiteral("/load-%1").arg(count);
    QDir().mkpath(folder);
    QFile hive(folder + QStringLiteral("/registry.reg"));
    if (!hive.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QByteArray content =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple]\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\n";
    for (int i = 0; i < count; ++i)
        content += "\"ComboName" + QByteArray::number(i) + "\"=\"127.0." +
                   QByteArray::number(i / 256) + '.' + QByteArray::number(i % 256) + "\"\n";
    hive.write(content);
    hive.close();
    qputenv("BUMPLE_CONFIG_DIR", QFile::encodeName(folder));
    double c0 = CpuMs();
    pView->LoadNameList();
    const double cold = CpuMs() - c0;
    std::vector<double> warm;
    for (int i = 0; i < 10; ++i) {
        c0 = CpuMs();
        pView->LoadNameList();
        warm.push_back(CpuMs() - c0);
    }
    qputenv("BUMPLE_CONFIG_DIR", dir);
    std::printf("load_%d_names_items %d\n", count, pView->m_comboName->GetCount());
    std::printf("load_%d_names_cold_cpu_ms %.4f\n", count, cold);
    std::printf("load_%d_names_warm_cpu_ms %.4f\n", count, Summarize(warm).median);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int n = 200;
    bool probesOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::atoi(argv[i]) > 0)
            n = std::atoi(argv[i]);
        else if (std::strcmp(argv[i], "--probes-only") == 0)
            probesOnly = true;
    }

    const QByteArray dir = qgetenv("BUMPLE_CONFIG_DIR");
    if (dir.isEmpty()) {
        std::fprintf(stderr, "probe_bench: set BUMPLE_CONFIG_DIR to an empty folder\n");
        return 2;
    }
    QDir().mkpath(QString::fromLocal8Bit(dir));
    {
        QFile hive(QString::fromLocal8Bit(dir) + QStringLiteral("/registry.reg"));
        if (!hive.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "probe_bench: cannot write the hive\n");
            return 2;
        }
        // Only the loopback address is ever named.
        hive.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple]\n\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\n"
                   "\"AutoStart\"=\"0\"\n\"Often\"=\"1\"\n\"Ignore\"=\"1\"\n"
                   "\"ComboName0\"=\"127.0.0.1\"\n");
        const int names = std::max(qEnvironmentVariableIntValue("BUMPLE_BENCH_NAMES"), 1);
        for (int i = 1; i < names; ++i)
            hive.write("\"ComboName" + QByteArray::number(i) + "\"=\"127.0." +
                       QByteArray::number(i / 256 + 1) + '.' + QByteArray::number(i % 256) +
                       "\"\n");
    }

    QApplication application(argc, argv);
    CBenchFramework framework;
    CBenchTray tray;
    const CPlatform::Scope services(nullptr, &tray, &framework);

    CBumpleApp app;
    auto pStore = std::make_unique<CProfileStore>();
    pStore->OpenApplicationKey();
    app.m_pProfileStore = pStore.get();

    auto pFrame = std::make_unique<CMainFrame>();
    auto* pView = new CBumpleView(pFrame.get());
    pFrame->setCentralWidget(pView);
    pFrame->SetActiveView(pView);
    pView->OnInitialUpdate();
    const double startupCpu = CpuMs();

    // Wakes the loop now and then, so that every wait above stays bounded.
    QTimer wake;
    wake.start(100);

    pView->OnStartOrApply();
    if (!PumpUntil([&] { return pView->m_staticNextLabel->isEnabled(); }, 10000)) {
        std::fprintf(stderr, "probe_bench: the engine did not arm\n");
        return 1;
    }
    // The first tick after arming is the first probe: a warm-up, not counted.
    pView->OnTimer(101);
    if (!PumpUntil([&] { return pView->m_nSuccesses == 1 && pView->m_socket == INVALID_SOCKET; },
                   5000)) {
        std::fprintf(stderr, "probe_bench: no reply from 127.0.0.1:80 (is the server up?)\n");
        return 1;
    }

    std::vector<Probe> probes;
    std::vector<double> tickCpu;
    probes.reserve(size_t(n));
    rusage r0{};
    getrusage(RUSAGE_SELF, &r0);
    const double loopStart = WallMs();
    const bool ok = RunProbeLoop(pView, n, &probes, &tickCpu);
    const double loopWall = WallMs() - loopStart;
    rusage r1{};
    getrusage(RUSAGE_SELF, &r1);
    if (!ok || pView->m_nSuccesses != n + 1) {
        std::fprintf(stderr, "probe_bench: a probe did not complete (%d of %d)\n",
                     pView->m_nSuccesses - 1, n);
        return 1;
    }

    // The settings writes of one successful connection, alone, on the same file.
    CProfileStore& store = *pStore;
    const QString section = QStringLiteral("Settings");
    std::vector<double> writeWall, writeCpu;
    const int names = pView->m_comboName->GetCount();
    for (int i = 0; i < (probesOnly ? 0 : n); ++i) {
        const double w0 = WallMs();
        const double c0 = CpuMs();
        store.WriteProfileString(section, QStringLiteral("Often"), pView->m_strPeriod);
        for (int k = 0; k < names; ++k)
            store.WriteProfileString(section, QStringLiteral("ComboName%1").arg(k),
                                     pView->m_comboName->GetLBText(k));
        store.WriteProfileInt(section, QStringLiteral("ComboNameSel"), pView->m_nNameSel);
        writeCpu.push_back(CpuMs() - c0);
        writeWall.push_back(WallMs() - w0);
    }

    // The same writes when every value changes, so that each one really replaces the file
    // (temporary file, fsync, rename, fsync of the folder): the cost of the first probe of
    // a run or after an edit. Unchanged values leave the file untouched. The last round
    // puts the values back.
    std::vector<double> changedWall, changedCpu;
    const int rounds = probesOnly ? 0 : std::min(n, 100) | 1;
    for (int i = 0; i < rounds; ++i) {
        const bool alt = i % 2 == 0;
        const double w0 = WallMs();
        const double c0 = CpuMs();
        store.WriteProfileString(section, QStringLiteral("Often"),
                                 alt ? QStringLiteral("2") : pView->m_strPeriod);
        for (int k = 0; k < names; ++k)
            store.WriteProfileString(section, QStringLiteral("ComboName%1").arg(k),
                                     pView->m_comboName->GetLBText(k) +
                                         (alt ? QStringLiteral(" ") : QString()));
        store.WriteProfileInt(section, QStringLiteral("ComboNameSel"),
                              alt ? pView->m_nNameSel + 1 : pView->m_nNameSel);
        changedCpu.push_back(CpuMs() - c0);
        changedWall.push_back(WallMs() - w0);
    }

    std::vector<double> wallOk, wallClose, cpu, syncWall, syncCpu;
    for (const Probe& p : probes) {
        wallOk.push_back(p.wallOk);
        wallClose.push_back(p.wallClose);
        cpu.push_back(p.cpu);
        syncWall.push_back(p.syncWall);
        syncCpu.push_back(p.syncCpu);
    }
    const QByteArray request = CBumpleView::ProbeRequest(pView->m_strLocalAddress);
    std::printf("probes %d\n", n);
    std::printf("startup_cpu_ms %.3f\n", startupCpu);
    std::printf("local_address %s\n", qPrintable(pView->m_strLocalAddress));
    std::printf("bytes_sent %lld\n", static_cast<long long>(request.size()));
    std::printf("settings_writes_per_probe %d\n", names + 2);
    Print("wall_ok", wallOk);
    Print("wall_close", wallClose);
    Print("cpu", cpu);
    Print("sync_wall", syncWall);
    Print("sync_cpu", syncCpu);
    Print("tick_cpu", tickCpu);
    Print("writes_wall", writeWall);
    Print("writes_cpu", writeCpu);
    Print("changed_writes_wall", changedWall);
    Print("changed_writes_cpu", changedCpu);
    // Whole loop (N probes and their 59 countdown ticks each), from getrusage.
    std::printf("loop_wall_ms %.3f\n", loopWall);
    std::printf("loop_user_ms %.3f\nloop_sys_ms %.3f\n", TvMs(r1.ru_utime) - TvMs(r0.ru_utime),
                TvMs(r1.ru_stime) - TvMs(r0.ru_stime));
    std::printf("loop_vcsw %ld\nloop_ivcsw %ld\n", r1.ru_nvcsw - r0.ru_nvcsw,
                r1.ru_nivcsw - r0.ru_nivcsw);
    std::printf("message_boxes %d\n", framework.m_nMessages);
    if (!probesOnly) {
        MeasureLoads(pView, dir, 5);
        MeasureLoads(pView, dir, 4000);
    }
    std::fflush(stdout);

    pFrame.reset();
    app.m_pProfileStore = nullptr;
    return 0;
}
