// history_bench: the cost of the History window with a full history (100,000 entries):
// one probe's update (the entry, the table row, the chart's update request) and one paint
// of the chart, at the window's first size. Offscreen; no network, no settings.
//
//   QT_QPA_PLATFORM=offscreen history_bench [rounds]
//
// Output: "key value" lines (milliseconds of the thread's CPU time, so that other load on
// the machine does not count), the median and the worst of the rounds.

#include "CHistoryChart.h"
#include "CHistoryWnd.h"
#include "CPlatform.h"
#include "CProbeHistory.h"
#include "CQtFramework.h"

#include <QApplication>
#include <QImage>
#include <QTableWidget>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void Report(const char* key, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s_median_ms %.3f\n%s_worst_ms %.3f\n", key, ms[ms.size() / 2], key, ms.back());
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    CQtFramework framework;
    const CPlatform::Scope platform(nullptr, nullptr, &framework);
    CProbeHistory history;
    // Six names, answers of 5-400 ms, and now and then a refused name that does not fold
    // (an answer of another name comes between its failures).
    const char* names[] = {"a.test", "b.test", "c.test", "d.test", "e.test", "f.test"};
    for (size_t i = 0; history.Entries().size() < CProbeHistory::kMaxEntries; ++i) {
        const uint64_t probe = history.ProbeStarted(QString::fromLatin1(names[i % 6]));
        if (i % 7 == 3) {
            history.ProbeFailed(probe, CProbeHistory::ConnectFailure);
        } else {
            history.ProbeConnected(probe);
            history.ProbeAnswered();
        }
    }
    CHistoryWnd wnd(&history);
    wnd.ShowBeside(nullptr);
    app.processEvents();
    QImage image(wnd.m_pChart->size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> update;
    std::vector<double> paint;
    for (int i = 0; i < rounds; ++i) {
        double start = CpuMs();
        const uint64_t probe = history.ProbeStarted(QString::fromLatin1(names[i % 6]));
        history.ProbeConnected(probe);
        history.ProbeAnswered();
        update.push_back(CpuMs() - start);
        start = CpuMs();
        wnd.m_pChart->render(&image);
        paint.push_back(CpuMs() - start);
    }
    std::printf("entries %zu\nchart_width %d\n", history.Entries().size(), wnd.m_pChart->width());
    Report("probe_update", update);
    Report("chart_paint", paint);
    return 0;
}
