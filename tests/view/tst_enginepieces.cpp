#include "CBumpleView.h"
#include "CHistoryChart.h"
#include "CNetlinkLinkCounters.h"
#include "CNetworkSandbox.h"
#include "CPlatform.h"
#include "CScriptedFramework.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

namespace {
// Runs ip's batch commands, separated by ';', in this thread's network namespace.
bool RunIp(const QString& commands) {
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip.write(commands.split(QLatin1Char(';')).join(QLatin1Char('\n')).toLatin1() + '\n');
    ip.closeWriteChannel();
    return ip.waitForFinished(30000) && ip.exitStatus() == QProcess::NormalExit &&
           ip.exitCode() == 0;
}

sockaddr_storage Address(const QString& text) {
    sockaddr_storage address{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (inet_pton(AF_INET, qPrintable(text), &v4.sin_addr) == 1)
        v4.sin_family = AF_INET;
    else if (inet_pton(AF_INET6, qPrintable(text), &v6.sin6_addr) == 1)
        v6.sin6_family = AF_INET6;
    return address;
}
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

    // The link to a target as the kernel routes, each row in a network namespace of its own
    // with veth pairs on 198.18.0.0/15 and fd00::/8; then its counters, and a change to
    // the links ("then"), after which the route is looked up again.
    void linkOfTheTarget_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("linkThen");
        const QString pair = "link add lan type veth peer name lanp;link add tun type veth peer "
                             "name tunp;link set lan up;link set lanp up;link set tun up;link set "
                             "tunp up;addr add 198.18.0.1/24 dev lan;addr add 198.18.1.1/24 dev "
                             "tun;route add default via 198.18.0.2;";
        QTest::newRow("loopback net") << ""
                                      << "127.9.9.9"
                                      << "lo"
                                      << ""
                                      << "lo";
        QTest::newRow("default route") << pair << "198.19.0.80"
                                       << "lan"
                                       << ""
                                       << "lan";
        QTest::newRow("longest prefix") << pair + "route add 198.19.0.0/16 dev tun"
                                        << "198.19.0.80"
                                        << "tun"
                                        << ""
                                        << "tun";
        QTest::newRow("full-tunnel rules: another table")
            << pair + "route add default dev tun table 51820;rule add not fwmark 51820 table "
                      "51820;rule add table main suppress_prefixlength 0"
            << "198.19.0.80"
            << "tun"
            << "rule del table 51820"
            << "lan";
        QTest::newRow("IPv6") << pair + "addr add fd00::1/64 dev tun nodad"
                              << "fd00::5"
                              << "tun"
                              << ""
                              << "tun";
        QTest::newRow("no route") << pair << "fd00::5"
                                  << ""
                                  << ""
                                  << "";
        QTest::newRow("route moves") << pair << "198.19.0.80"
                                     << "lan"
                                     << "route add 198.19.0.0/24 dev tun"
                                     << "tun";
        QTest::newRow("gone and back")
            << pair + "route add 198.19.0.0/24 dev tun"
            << "198.19.0.80"
            << "tun"
            << "link del tun;link add tun type veth peer name tunp;link set tun up;link set tunp "
               "up;route add 198.19.0.0/24 dev tun"
            << "tun";
        QString many;
        for (int i = 0; i < 100; ++i)
            many += QStringLiteral("link add m%1 type veth peer name n%1;").arg(i);
        QTest::newRow("200 interfaces")
            << many + "link set m99 up;link set n99 up;route add 198.19.0.0/24 dev m99"
            << "198.19.0.80"
            << "m99"
            << ""
            << "m99";
    }
    void linkOfTheTarget() {
        QFETCH(QString, setup);
        QFETCH(QString, address);
        QFETCH(QString, link);
        QFETCH(QString, then);
        QFETCH(QString, linkThen);
        REQUIRE_NETWORK_SANDBOX();
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        QVERIFY2(home >= 0 && ::unshare(CLONE_NEWNET) == 0, "no network namespace of its own");
        const auto back = qScopeGuard([home] {
            ::setns(home, CLONE_NEWNET);
            ::close(home);
        });
        QVERIFY(RunIp("link set lo up;" + setup));
        CNetlinkLinkCounters links;
        QVERIFY(links.Changed());
        const int index = links.RouteInterface(Address(address));
        QCOMPARE(index, link.isEmpty() ? 0 : int(if_nametoindex(qPrintable(link))));
        uint64_t bytes = 0;
        QCOMPARE(links.ReadBytes(index, &bytes), index != 0);
        if (then.isEmpty())
            return;
        links.Changed();
        QVERIFY(RunIp(then));
        QVERIFY(links.Changed());
        const int indexThen = links.RouteInterface(Address(address));
        QCOMPARE(indexThen, int(if_nametoindex(qPrintable(linkThen))));
        char name[IF_NAMESIZE];
        QCOMPARE(links.ReadBytes(index, &bytes), if_indextoname(unsigned(index), name) != nullptr);
        QVERIFY(links.ReadBytes(indexThen, &bytes));
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
        QTest::newRow("a formula-like name is not a formula")
            << QStringList{"fail =HYPERLINK(1) lookup"} << "=HYPERLINK(1) lookup failure x1"
            << qint64(0) << QStringList{"\"'=HYPERLINK(1)\""};
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
