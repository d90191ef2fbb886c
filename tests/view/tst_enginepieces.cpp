#include "CBumpleView.h"
#include "CHistoryChart.h"
#include "CPlatform.h"
#include "CProcLinkCounters.h"
#include "CScriptedFramework.h"

#include <QTest>

#include <arpa/inet.h>

namespace {
const QByteArray kRoute =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
    "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
    "tun0\t00000A0A\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
    "eth1\t00000B0A\t00000000\t0000\t0\t0\t0\t0000FFFF\t0\t0\t0\n";
const QByteArray kDev =
    "Inter-|   Receive                            |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n"
    "    lo:  123456     100    0    0    0     0          0         0   654321     100    0 "
    "   0    0     0       0          0\n"
    " wlan0: 4294967296 9 0 0 0 0 0 0 1 9 0 0 0 0 0 0\n"
    "wlan01: 5 0 0 0 0 0 0 0 5 0 0 0 0 0 0 0\n"
    "  eth0: 12 34\n";
} // namespace

// The pure pieces of the engine: period conversion, countdown text, request bytes.
class TestEnginePieces : public QObject {
    Q_OBJECT
private slots:
    void periodSeconds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("debug");
        QTest::addColumn<int>("seconds"); // -1: rejected
        QTest::newRow("1") << "1" << 0 << 60;
        QTest::newRow("2.5") << "2.5" << 0 << 150;
        QTest::newRow("1.3 single precision") << "1.3" << 0 << 77;
        QTest::newRow("60.9") << "60.9" << 0 << 3654;
        QTest::newRow("60.5") << "60.5" << 0 << 3630;
        QTest::newRow("blanks and letters") << "  7 min" << 0 << 420;
        QTest::newRow("+3") << "+3" << 0 << 180;
        QTest::newRow("1e1") << "1e1" << 0 << 600;
        QTest::newRow("exponent without digits") << "2e" << 0 << 120;
        QTest::newRow("0.5") << "0.5" << 0 << -1;
        QTest::newRow("61") << "61" << 0 << -1;
        QTest::newRow("empty") << "" << 0 << -1;
        QTest::newRow("abc") << "abc" << 0 << -1;
        QTest::newRow("1e9") << "1e9" << 0 << -1;
        QTest::newRow("1e99") << "1e99" << 0 << -1;
        QTest::newRow("-5") << "-5" << 0 << -1;
        QTest::newRow("nan") << "nan" << 0 << -1;
        QTest::newRow("inf") << "inf" << 0 << -1;
        QTest::newRow("0x10") << "0x10" << 0 << -1;
        QTest::newRow("percent") << "%s%n" << 0 << -1;
        QTest::newRow("debug 0") << "0" << 1 << 15;
        QTest::newRow("debug 999") << "999" << 1 << 15;
        QTest::newRow("debug abc") << "abc" << 1 << 15;
    }
    void periodSeconds() {
        QFETCH(QString, text);
        QFETCH(int, debug);
        QFETCH(int, seconds);
        int result = -1;
        const bool accepted = CBumpleView::PeriodSeconds(text, debug, &result);
        QCOMPARE(accepted, seconds >= 0);
        if (accepted)
            QCOMPARE(result, seconds);
    }

    void timeLeft_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("303") << 303 << " 5:03";
        QTest::newRow("59") << 59 << " 0:59";
        QTest::newRow("1") << 1 << " 0:01";
        QTest::newRow("3600") << 3600 << "60:00";
        QTest::newRow("3599") << 3599 << "59:59";
        QTest::newRow("610") << 610 << "10:10";
    }
    void timeLeft() {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(CBumpleView::FormatTimeLeft(seconds), text);
    }

    void requestBytes() {
        const QByteArray request = CBumpleView::ProbeRequest(QStringLiteral("10.0.0.5"));
        QCOMPARE(request.size(), 130);
        QCOMPARE(request, QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: "
                                     "Mozilla/3.0 (Win95; I)\r\nHost: 10.0.0.5\r\nAccept: "
                                     "image/gif, image/jpeg, */*\r\n\r\n"));
        QCOMPARE(request.indexOf("Host: 10.0.0.5\r\n"), 76);
        QCOMPARE(CBumpleView::ProbeRequest(QString()).size(), 122);
        // An IPv6 address goes in brackets, as HTTP requires; nothing else changes.
        QCOMPARE(CBumpleView::ProbeRequest(QStringLiteral("fd00:1::5")),
                 QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: "
                            "Mozilla/3.0 (Win95; I)\r\nHost: [fd00:1::5]\r\nAccept: "
                            "image/gif, image/jpeg, */*\r\n\r\n"));
    }

    // The link to a target from sample routing tables, its bytes from sample counters.
    void linkOfTheTarget_data() {
        QTest::addColumn<QByteArray>("route");
        QTest::addColumn<QString>("addressAndLink");
        const QByteArray down =
            kRoute.left(kRoute.indexOf("wlan0")) + kRoute.mid(kRoute.indexOf("tun0"));
        QTest::newRow("loopback net") << QByteArray() << "127.9.9.9 lo";
        QTest::newRow("default route") << kRoute << "8.8.4.4 wlan0";
        QTest::newRow("local net beats default") << kRoute << "192.168.1.7 wlan0";
        QTest::newRow("longest prefix") << kRoute << "10.10.3.4 tun0";
        QTest::newRow("route down, no default") << down << "10.11.0.1 ";
        QTest::newRow("no table") << QByteArray("x\ny z\n") << "10.0.0.5 ";
    }
    void linkOfTheTarget() {
        QFETCH(QByteArray, route);
        QFETCH(QString, addressAndLink);
        const QStringList parts = addressAndLink.split(QLatin1Char(' '));
        QCOMPARE(CProcLinkCounters::RouteFromText(route, inet_addr(qPrintable(parts[0]))),
                 parts[1]);
    }

    void bytesOfTheLink_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<qint64>("bytes"); // -1: unreadable
        QTest::newRow("loopback") << "lo" << qint64(777777);
        QTest::newRow("past 32 bits") << "wlan0" << qint64(4294967297);
        QTest::newRow("name is not a prefix") << "wlan01" << qint64(10);
        QTest::newRow("gone") << "ppp0" << qint64(-1);
        QTest::newRow("short line") << "eth0" << qint64(-1);
    }
    void bytesOfTheLink() {
        QFETCH(QString, link);
        QFETCH(qint64, bytes);
        uint64_t read = 0;
        QCOMPARE(CProcLinkCounters::BytesFromText(kDev, link, &read), bytes >= 0);
        if (bytes >= 0)
            QCOMPARE(read, uint64_t(bytes));
    }

    // Per name: every outcome counted, median and worst over the answered ones only.
    void historyPerName() {
        CScriptedFramework framework;
        const CPlatform::Scope twins(nullptr, nullptr, &framework);
        CProbeHistory history;
        const auto probe = [&](const char* name, int ms) {
            history.ProbeConnected(history.ProbeStarted(QLatin1String(name)));
            framework.m_dwTicks += DWORD(ms);
            history.ProbeAnswered();
        };
        framework.m_time = 5000;
        probe("a.test", 30);
        probe("a.test", 10);
        history.ProbeFailed(history.ProbeStarted(QStringLiteral("b.test")),
                            CProbeHistory::SocketFailure);
        framework.m_time = 6000;
        probe("a.test", 20);
        probe("a.test", 90);
        history.ProbeStarted(QStringLiteral("a.test")); // no reply yet
        history.LookupFailed(QStringLiteral("b.test"));
        history.Skip();
        const std::vector<CProbeHistory::NameSummary> rows = history.Summaries();
        QCOMPARE(rows.size(), size_t(2));
        const CProbeHistory::NameSummary& a = rows[0];
        QCOMPARE(QList<int>({a.nProbes, a.nAnswered, a.nLookupFailures, a.nSocketFailures,
                             a.nNoReply, a.nMedianMs, a.nWorstMs}),
                 QList<int>({5, 4, 0, 0, 1, 20, 90}));
        QCOMPARE(a.nLastAnswered, 6000);
        const CProbeHistory::NameSummary& b = rows[1];
        QCOMPARE(QList<int>({b.nProbes, b.nAnswered, b.nLookupFailures, b.nSocketFailures,
                             b.nNoReply, b.nMedianMs}),
                 QList<int>({2, 0, 1, 1, 0, -1}));
        QVERIFY2(history.Description().startsWith(QStringLiteral(
                     "7 probes, 4 answered, last failure: lookup failure with b.test")),
                 qPrintable(history.Description()));
    }

    // A long run step by step: "probe N MS" answered after MS, "fail N KIND",
    // "open N" then "close" a probe that fails after others (as under a message box), "wait
    // MS", "sleep MS", "cycle K" K answers of n.test each with a refused r.test. Expected:
    // the entries, the span in ms, texts in the sentence and CSV.
    void historyModel_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<qint64>("spanMs");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("failure under an open box")
            << QStringList{"open a.test", "fail b.test connect", "close"}
            << "a.test connect failure x1, b.test connect failure x1" << qint64(0)
            << QStringList{"2 probes, 0 answered, last failure: connect failure"};
        QTest::newRow("consecutive failures fold")
            << QStringList{"fail r.test connect", "wait 2000",           "fail r.test connect",
                           "probe g.test 20",     "fail r.test connect", "fail r.test lookup"}
            << "r.test connect failure x3, g.test answered x1, r.test lookup failure x1"
            << qint64(2020)
            << QStringList{"5 probes, 1 answered",
                           "1970-01-01T00:16:40Z,1970-01-01T00:16:42Z,"
                           "\"r.test\",\"127.0.0.9\",\"connect failure\",3,\r\n"};
        QTest::newRow("64-bit span past 50 days, sleep, dates")
            << QStringList{"probe a.test 10", "sleep 90000000", "wait 4320000000",
                           "probe a.test 30"}
            << "a.test answered x1,  asleep x0, a.test answered x1" << qint64(4410000010)
            << QStringList{"2 probes, 2 answered, no failure. Asleep 1 times for 1 d 1 h.",
                           ",30\r\n"};
        QTest::newRow("the bound with folded entries")
            << QStringList{"cycle 100010"} << "99999 entries, 100009 probes" << qint64(-1)
            << QStringList{"100009 probes"};
    }
    void historyModel() {
        QFETCH(QStringList, steps);
        QFETCH(QString, entries);
        QFETCH(qint64, spanMs);
        QFETCH(QStringList, texts);
        qputenv("TZ", "UTC");
        CScriptedFramework framework;
        const CPlatform::Scope twins(nullptr, nullptr, &framework);
        CProbeHistory history;
        const auto fail = [&](const QString& name, const QString& how) {
            if (how == "lookup")
                return history.LookupFailed(name);
            const uint64_t probe = history.ProbeStarted(name);
            history.ProbeAddress(probe, QStringLiteral("127.0.0.9"));
            history.ProbeFailed(probe, CProbeHistory::ConnectFailure);
        };
        const auto probe = [&](const QString& name, int ms) {
            history.ProbeConnected(history.ProbeStarted(name));
            framework.m_nTicksHigh += ms;
            history.ProbeAnswered();
        };
        uint64_t open = 0;
        for (const QString& step : steps) {
            const QStringList w = step.split(' ');
            if (w[0] == "probe")
                probe(w[1], w[2].toInt());
            else if (w[0] == "fail")
                fail(w[1], w[2]);
            else if (w[0] == "open")
                open = history.ProbeStarted(w[1]);
            else if (w[0] == "close")
                history.ProbeFailed(open, CProbeHistory::ConnectFailure);
            for (int i = 0; w[0] == "cycle" && i < w[1].toInt(); ++i) {
                probe(QStringLiteral("n.test"), 1);
                fail(QStringLiteral("r.test"), QStringLiteral("connect"));
            }
            if (w[0] == "wait" || w[0] == "sleep") {
                (w[0] == "sleep" ? framework.m_nAsleepMs : framework.m_nTicksHigh) +=
                    w[1].toLongLong();
                framework.m_time += w[1].toLongLong() / 1000;
            }
        }
        const std::deque<CProbeHistory::Entry>& all = history.Entries();
        QStringList seen;
        uint64_t probes = 0;
        for (const CProbeHistory::Entry& entry : all) {
            seen.append(QStringLiteral("%1 %2 x%3")
                            .arg(history.Text(entry.nName), CProbeHistory::KindText(entry.nKind))
                            .arg(entry.nCount));
            probes += entry.nCount;
        }
        QCOMPARE(seen.size() > 6
                     ? QStringLiteral("%1 entries, %2 probes").arg(all.size()).arg(probes)
                     : seen.join(", "),
                 entries);
        if (spanMs >= 0)
            QCOMPARE(all.back().nAt - all.front().nAt, spanMs);
        for (const QString& text : texts)
            QVERIFY2((history.Description() + history.Csv()).contains(text),
                     qPrintable(history.Description()));
        // Past a day the chart's times carry the date.
        QCOMPARE(CHistoryChart::AxisText(all.front().nClock, spanMs).startsWith("1970-01-01"),
                 spanMs > 86400000);
    }

    // At most the bound, the oldest dropped first; a probe in flight keeps its place.
    void historyBound() {
        CScriptedFramework framework;
        const CPlatform::Scope twins(nullptr, nullptr, &framework);
        CProbeHistory history;
        history.ProbeStarted(QStringLiteral("first.test"));
        for (size_t i = 0; i < CProbeHistory::kMaxEntries + 4; ++i) {
            framework.m_dwTicks = DWORD(i);
            history.ProbeConnected(history.ProbeStarted(QStringLiteral("n.test")));
            if (i == CProbeHistory::kMaxEntries)
                history.ProbeAnswered();
        }
        const std::deque<CProbeHistory::Entry>& entries = history.Entries();
        QCOMPARE(entries.size(), CProbeHistory::kMaxEntries);
        QCOMPARE(entries.front().nAt, 4);
        QCOMPARE(history.Summaries().size(), size_t(1));
        QCOMPARE(history.Summaries()[0].nAnswered, 1);
        QCOMPARE(int(entries[entries.size() - 4].nKind), int(CProbeHistory::Answered));
    }
};

QTEST_APPLESS_MAIN(TestEnginePieces)
#include "tst_enginepieces.moc"
