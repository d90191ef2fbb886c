#include "CBumpleView.h"
#include "CComboBox.h"
#include "CEdit.h"
#include "CPosixWinsock.h"
#include "CViewFixture.h"
#include "Resources.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <arpa/inet.h>

namespace {
const QStringList kThreeNames = {
    QStringLiteral("\"AutoStart\"=\"0\""),           QStringLiteral("\"Often\"=\"1\""),
    QStringLiteral("\"ComboName0\"=\"alpha.test\""), QStringLiteral("\"ComboName1\"=\"beta.test\""),
    QStringLiteral("\"ComboName2\"=\"gamma.test\""),
};

QStringList WithSettings(QStringList more) {
    return kThreeNames + more;
}

// The address of a connect as text, IPv4 or IPv6.
QString Address(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(address.ss_family,
              address.ss_family == AF_INET6 ? static_cast<const void*>(&v6.sin6_addr)
                                            : &v4.sin_addr,
              text, sizeof text);
    return QString::fromLatin1(text);
}

const QString kNameNotFound = QStringLiteral(
    "Bumple: Name %1 Not Found.\n\n(The \"Ignore Connection Failures\" option in the Options "
    "Dialog might help prevent this in the future.)");
const QString kCannotConnect = QStringLiteral(
    "Bumple: Cannot connect to %1 on port 80.\n\n(The \"Ignore Connection Failures\" option in "
    "the Options Dialog might help prevent this in the future.)");
const QString kFooter =
    QStringLiteral("\n\nBumple launched at time 08:15:02\nThis message created at time 09:01:44");
} // namespace

class TestEngine : public QObject {
    Q_OBJECT

    // Starts with a good local lookup (127.1.2.3) and a good target lookup (127.9.9.9).
    static void StartResolved(CViewFixture& f) {
        f.m_pView->OnStartOrApply();
        CViewFixture::Pump();
        if (!f.m_pView->m_bLocalAddressKnown) {
            QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.1.2.3")}));
            CViewFixture::Pump();
        }
        if (!f.m_sockets.m_pending.empty()) {
            QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")}));
            CViewFixture::Pump();
        }
    }

private slots:
    void constructionReadsSettingsAndStartsSockets_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QList<int>>(
            "expected"); // Ignore, RandomName, RandomTime, AutoStart, Debug
        QTest::newRow("defaults") << QStringList() << QList<int>{1, 0, 0, 1, 0};
        QTest::newRow("all set") << QStringList{"\"Ignore\"=\"0\"", "\"RandomName\"=\"1\"",
                                                "\"RandomTime\"=\"1\"", "\"AutoStart\"=\"0\"",
                                                "\"Debug\"=\"1\""}
                                 << QList<int>{0, 1, 1, 0, 1};
        QTest::newRow("text after digits")
            << QStringList{"\"Ignore\"=\"0 please\""} << QList<int>{0, 0, 0, 1, 0};
    }
    void constructionReadsSettingsAndStartsSockets() {
        QFETCH(QStringList, settings);
        QFETCH(QList<int>, expected);
        CViewFixture f(settings);
        f.m_framework.m_time = 4242;
        CBumpleView* v = f.Create();
        QCOMPARE(QList<int>({v->m_bIgnoreFailures, v->m_bRandomName, v->m_bRandomTime,
                             v->m_bAutoStart, v->m_bDebug}),
                 expected);
        QCOMPARE(f.m_framework.m_seeds, std::vector<unsigned>{4242});
        QCOMPARE(f.m_sockets.m_nStartups, 1);
        QCOMPARE(f.m_framework.m_sleeps, std::vector<DWORD>{1000});
        QCOMPARE(v->m_strLocalAddress, QStringLiteral("no address yet"));
        QCOMPARE(v->m_socket, INVALID_SOCKET);
        QCOMPARE(v->m_strLaunchTime, QStringLiteral("12:00:00"));
        QVERIFY(f.m_framework.m_messages.isEmpty());
    }

    void startupFailureIsReportedAndTheViewGoesOn() {
        CViewFixture f;
        f.m_sockets.m_nStartupResult = 10091;
        f.Create();
        QCOMPARE(f.m_framework.m_messages, QStringList{"Bumple: WSAStartup failed"});
        QCOMPARE(f.Status(), QStringLiteral("PLEASE START ME"));
    }

    void destructionStopsAndCleansUp() {
        CViewFixture f(kThreeNames);
        f.Create();
        StartResolved(f);
        f.Tick();
        const SOCKET s = f.m_sockets.LastSocket();
        QVERIFY(s != INVALID_SOCKET);
        f.m_pFrame.reset();
        QCOMPARE(f.m_sockets.m_nCleanups, 1);
        QVERIFY(f.m_sockets.m_open.empty());
        QVERIFY(!f.m_tray.m_bShown);
    }

    void firstAndSecondStartStatusSequences() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        QCOMPARE(f.m_statusLog, QStringList{"PLEASE START ME"});
        f.m_statusLog.clear();
        v->OnStartOrApply();
        QCOMPARE(f.m_statusLog,
                 QStringList({"NOT RUNNING", "Starting Connection", "Getting Local IP Address",
                              "Determining Local IP Address"}));
        QVERIFY(!v->m_btnStart->isEnabled());
        QCOMPARE(f.m_tray.m_hIcon, LoadIconResource(IDI_NORMAL));
        QCOMPARE(f.m_sockets.m_lookups, QStringList{"testhost"});
        QCOMPARE(f.m_framework.m_nWaitCursor, 1);
        f.m_statusLog.clear();
        QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.1.2.3")}));
        CViewFixture::Pump();
        QCOMPARE(f.m_statusLog, QStringList{"Validating Domain Name"});
        QCOMPARE(v->m_strLocalAddress, QStringLiteral("127.1.2.3"));
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("alpha.test"));
        QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")}));
        CViewFixture::Pump();
        QCOMPARE(f.m_framework.m_nWaitCursor, 0);
        QVERIFY(v->m_staticNextLabel->isEnabled());

        // The second start skips the local lookup.
        f.m_statusLog.clear();
        v->OnStartOrApply();
        QCOMPARE(f.m_statusLog,
                 QStringList({"NOT RUNNING", "Starting Connection", "Validating Domain Name"}));
        QCOMPARE(f.m_sockets.m_lookups.size(), 3);
    }

    void digitNameArmsWithoutLookup() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        v->m_comboName->SetWindowText(QStringLiteral("127.0.0.1 local"));
        f.m_statusLog.clear();
        v->OnStartOrApply();
        QCOMPARE(f.m_statusLog, QStringList({"NOT RUNNING", "Starting Connection"}));
        QVERIFY(f.m_sockets.m_lookups.isEmpty());
        QVERIFY(f.m_framework.IsTimerSet(101));
        f.Tick();
        QCOMPARE(f.m_sockets.m_connectAddresses.size(), size_t(1));
        QCOMPARE(Address(f.m_sockets.m_connectAddresses[0]), QStringLiteral("127.0.0.1"));
        QCOMPARE(ntohs(reinterpret_cast<sockaddr_in&>(f.m_sockets.m_connectAddresses[0]).sin_port),
                 80);
    }

    // The address family of the probe follows the lookup: IPv4 whenever the name has it.
    void probeAddressFamily_data() {
        QTest::addColumn<QString>("typed"); // "" for the list's first name
        QTest::addColumn<QStringList>("answer");
        QTest::addColumn<QString>("connected");
        const QString a = QStringLiteral("127.9.9.9");
        const QString aaaa = QStringLiteral("fd00:1::9");
        QTest::newRow("A only") << QString() << QStringList{a} << a;
        QTest::newRow("AAAA only") << QString() << QStringList{aaaa} << aaaa;
        QTest::newRow("both") << QString() << QStringList{aaaa, a} << a;
        QTest::newRow("IPv6 literal beginning with a digit")
            << QStringLiteral("2001:db8::1") << QStringList{"2001:db8::1"} << "2001:db8::1";
    }
    void probeAddressFamily() {
        QFETCH(QString, typed);
        QFETCH(QStringList, answer);
        QFETCH(QString, connected);
        CViewFixture f(WithSettings({QStringLiteral("\"Ignore\"=\"0\"")}));
        CBumpleView* v = f.Create();
        if (!typed.isEmpty())
            v->m_comboName->SetWindowText(typed);
        v->OnStartOrApply();
        QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.1.2.3")}));
        CViewFixture::Pump();
        QCOMPARE(f.m_sockets.m_lookups.last(),
                 typed.isEmpty() ? QStringLiteral("alpha.test") : typed);
        QVERIFY(f.m_sockets.CompleteLookup(0, answer));
        CViewFixture::Pump();
        f.m_sockets.m_connectResults = {SOCKET_ERROR};
        f.Tick();
        QCOMPARE(Address(f.m_sockets.m_connectAddresses.at(0)), connected);
        // The failure texts name it as typed, IPv6 or not.
        QCOMPARE(
            f.m_framework.m_messages.value(0).left(50),
            kCannotConnect.arg(typed.isEmpty() ? QStringLiteral("alpha.test") : typed).left(50));
    }

    void firstProbeOneTickAfterArmingThenEveryPeriod() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        QCOMPARE(v->m_nPeriod, 60);
        QCOMPARE(v->m_nTick, 59);
        QVERIFY(f.m_sockets.m_connected.empty());
        f.Tick();
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(1));
        QCOMPARE(Address(f.m_sockets.m_connectAddresses[0]), QStringLiteral("127.9.9.9"));
        QCOMPARE(f.Status(), QStringLiteral("Bumple was sent"));
        QCOMPARE(f.m_tray.m_hIcon, LoadIconResource(IDI_WAITING));
        QCOMPARE(f.m_sockets.m_sent.at(0), CBumpleView::ProbeRequest(QStringLiteral("127.1.2.3")));
        QCOMPARE(f.m_sockets.m_selectMasks, std::vector<long>{35});
        f.Tick(59);
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(1));
        QCOMPARE(v->m_staticCountdown->text(), QStringLiteral(" 0:01"));
        f.Tick();
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(2));
        // The replaced probe socket is closed, not leaked.
        QCOMPARE(f.m_sockets.m_open.size(), size_t(1));
    }

    void replyCompletesOnceAndCloseClosesTheSocket() {
        CViewFixture f(kThreeNames);
        f.m_framework.m_strTime = QStringLiteral("09:10:11");
        CBumpleView* v = f.Create();
        StartResolved(f);
        f.Tick();
        const SOCKET s = f.m_sockets.LastSocket();
        f.m_sockets.PostEvent(s + 1000, FD_READ);
        f.m_sockets.PostEvent(s, FD_WRITE);
        CViewFixture::Pump();
        QVERIFY(v->m_bWaiting);
        f.m_sockets.PostEvent(s, FD_READ);
        f.m_sockets.PostEvent(s, FD_READ);
        CViewFixture::Pump();
        QCOMPARE(v->m_nSuccesses, 1);
        QCOMPARE(f.Status(), QStringLiteral("Bumple completed at 09:10:11"));
        QCOMPARE(f.m_tray.m_hIcon, LoadIconResource(IDI_NORMAL));
        // Scripts read the same time of the last probe as the seconds go by.
        const QString lastAt = v->StatusObject().value(QStringLiteral("lastAt")).toString();
        f.m_framework.m_dwTicks += 1500;
        QCOMPARE(v->StatusObject().value(QStringLiteral("lastAt")).toString(), lastAt);
        QVERIFY(!v->m_btnStart->isEnabled());
        f.Tick();
        QVERIFY(v->m_btnStart->isEnabled());
        f.m_sockets.PostEvent(s, FD_CLOSE);
        CViewFixture::Pump();
        QCOMPARE(v->m_socket, INVALID_SOCKET);
        QVERIFY(f.m_sockets.m_open.empty());
        QCOMPARE(f.Setting("Often"), QStringLiteral("1"));
        QCOMPARE(f.Setting("ComboName2"), QStringLiteral("gamma.test"));
        QCOMPARE(f.Setting("ComboNameSel"), QStringLiteral("0"));
    }

    void silentServerKeepsStartDisabledAndCountsNothing() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        f.Tick();
        f.m_sockets.PostEvent(f.m_sockets.LastSocket(), FD_CLOSE);
        f.Tick(30);
        QVERIFY(!v->m_btnStart->isEnabled());
        QVERIFY(v->m_bWaiting && v->m_bBusy);
        QCOMPARE(v->m_nSuccesses + v->m_nHttpFailures + v->m_nDnsFailures + v->m_nSocketFailures,
                 0);
        f.Tick(30);
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(2));
    }

    // Every failure point with both settings of "Ignore".
    // Each row drives the engine to one failure through a list of steps: "local 0|11001" and
    // "target 0|11001" complete the lookups, "period T" and "name T" type into the form,
    // "socket" makes socket() fail, "connect" makes connect() fail, "tick" ends the period,
    // "hold" keeps connects in progress, "pending" checks that one is, "timeout" ends it.
    void failurePolicy_data() {
        QTest::addColumn<int>("ignore");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("counts");  // http, dns, socket
        QTest::addColumn<QString>("message");    // "" for none
        QTest::addColumn<bool>("stopped");       // icon 130, tip "Bumple has stopped"
        QTest::addColumn<bool>("stoppedAtBox");  // the tip already says so when the box opens
        QTest::addColumn<QString>("nextLookup"); // name looked up next, "" for none
        const QString local = QStringLiteral("Unable to get local IP address.\nHave you dialed "
                                             "your ISP?") +
                              kFooter;
        const QString period = QStringLiteral("Bumple: Time period must be between 1 and 60");
        const QString socket = QStringLiteral("Bumple: Error opening stream socket") + kFooter;
        const QStringList resolved = {"local 0", "target 0"};
        // clang-format off
        QTest::newRow("local lookup ignore 0") << 0 << QStringList{"local 11001"}
            << QList<int>{0, 0, 0} << local << true << true << "";
        QTest::newRow("local lookup ignore 1") << 1 << QStringList{"local 11001"}
            << QList<int>{0, 0, 0} << local << true << true << "";
        QTest::newRow("target lookup ignore 0") << 0 << QStringList{"local 0", "target 11001"}
            << QList<int>{0, 1, 0} << kNameNotFound.arg("alpha.test") + kFooter << true << true
            << "";
        QTest::newRow("target lookup ignore 1") << 1 << QStringList{"local 0", "target 11001"}
            << QList<int>{0, 1, 0} << "" << false << false << "beta.test";
        QTest::newRow("period ignore 0") << 0 << QStringList{"local 0", "period 61", "target 0"}
            << QList<int>{0, 0, 0} << period << true << true << "";
        QTest::newRow("period ignore 1") << 1 << QStringList{"local 0", "period 61", "target 0"}
            << QList<int>{0, 0, 0} << period << true << true << "";
        QTest::newRow("empty host ignore 0") << 0 << QStringList{"local 0", "name ", "target 0",
            "tick"} << QList<int>{0, 0, 1} << "" << true << false << "";
        QTest::newRow("empty host ignore 1") << 1 << QStringList{"local 0", "name ", "target 0",
            "tick"} << QList<int>{0, 0, 1} << "" << false << false << "";
        QTest::newRow("socket ignore 0") << 0 << resolved + QStringList{"socket", "tick"}
            << QList<int>{0, 0, 2} << socket << true << false << "";
        QTest::newRow("socket ignore 1") << 1 << resolved + QStringList{"socket", "tick"}
            << QList<int>{0, 0, 2} << "" << false << false << "";
        QTest::newRow("connect ignore 0") << 0 << resolved + QStringList{"connect", "tick"}
            << QList<int>{1, 0, 1} << kCannotConnect.arg("alpha.test") + kFooter << true << false
            << "";
        QTest::newRow("connect ignore 1") << 1 << resolved + QStringList{"connect", "tick"}
            << QList<int>{1, 0, 1} << "" << false << false << "beta.test";
        QTest::newRow("connect ignore 0, box left open") << 0 << QStringList{"name beta.test",
            "period 1", "local 0", "target 0", "connect 2", "box 60", "tick"}
            << QList<int>{2, 0, 2} << kCannotConnect.arg("beta.test") + kFooter << true << false
            << "";
        const QStringList timedOut = resolved + QStringList{"hold", "tick", "pending", "timeout"};
        QTest::newRow("connect timeout ignore 0") << 0 << timedOut << QList<int>{1, 0, 1}
            << kCannotConnect.arg("alpha.test") + kFooter << true << false << "";
        QTest::newRow("connect timeout ignore 1") << 1 << timedOut << QList<int>{1, 0, 1} << ""
            << false << false << "beta.test";
        // clang-format on
    }
    void failurePolicy() {
        QFETCH(int, ignore);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, counts);
        QFETCH(QString, message);
        QFETCH(bool, stopped);
        QFETCH(bool, stoppedAtBox);
        QFETCH(QString, nextLookup);
        CViewFixture f(WithSettings({QStringLiteral("\"Ignore\"=\"%1\"").arg(ignore)}));
        f.m_framework.m_strTime = QStringLiteral("09:01:44");
        CBumpleView* v = f.Create();
        v->m_strLaunchTime = QStringLiteral("08:15:02");
        // What the tray shows at the moment the message box appears.
        QString tipAtBox;
        int underBox = 0; // ticks while the first box is open
        f.m_framework.m_onMessageBox = [&](const QString&) {
            tipAtBox = f.m_tray.m_strTip;
            f.Tick(std::exchange(underBox, 0));
        };

        v->OnStartOrApply();
        CViewFixture::Pump();
        for (const QString& step : steps) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0);
            const QString arg = step.section(QLatin1Char(' '), 1);
            if (verb == "local")
                f.m_sockets.CompleteLookup(arg.toInt(), {QStringLiteral("127.1.2.3")});
            else if (verb == "target")
                f.m_sockets.CompleteLookup(arg.toInt(), {QStringLiteral("127.9.9.9")});
            else if (verb == "period")
                v->m_editPeriod->SetWindowText(arg);
            else if (verb == "name")
                v->m_comboName->SetWindowText(arg);
            else if (verb == "socket")
                f.m_sockets.m_bSocketFails = true;
            else if (verb == "connect")
                f.m_sockets.m_connectResults.assign(std::max(1, arg.toInt()), SOCKET_ERROR);
            else if (verb == "box")
                underBox = arg.toInt();
            else if (verb == "tick")
                f.Tick();
            else if (verb == "hold")
                f.m_sockets.m_bHoldConnects = true;
            else if (verb == "timeout")
                f.m_sockets.CompleteConnect(WSAETIMEDOUT);
            else if (verb == "pending") {
                // The window answers meanwhile; its ticks are not counted, as before.
                f.Tick(30);
                QCOMPARE(v->m_staticCountdown->text(), QStringLiteral(" 1:00"));
                QCOMPARE(f.m_sockets.m_connectAddresses.size(), size_t(1));
                QCOMPARE(v->m_nHttpFailures + v->m_nSocketFailures, 0);
                QCOMPARE(f.Status(), QStringLiteral("Validating Domain Name"));
                // Nor does a probe asked for from the command line go meanwhile.
                QVERIFY(!v->WhyNoProbeNow().isEmpty());
            }
            CViewFixture::Pump();
        }
        QCOMPARE(QList<int>({v->m_nHttpFailures, v->m_nDnsFailures, v->m_nSocketFailures}), counts);
        QStringList boxes = f.m_framework.m_messages;
        boxes.removeDuplicates();
        QCOMPARE(boxes, message.isEmpty() ? QStringList() : QStringList{message});
        // History puts every failure down to the name that failed.
        for (const CProbeHistory::NameSummary& row : v->m_history.Summaries())
            QVERIFY(row.nConnectFailures + row.nSocketFailures + row.nLookupFailures == 0 ||
                    row.strName == v->m_strProblemName);
        if (stopped) {
            QCOMPARE(f.m_tray.m_hIcon, LoadIconResource(IDI_STOPPED));
            QCOMPARE(f.m_tray.m_strTip, QStringLiteral("Bumple has stopped"));
            QCOMPARE(f.Status(), QStringLiteral("NOT RUNNING"));
            QVERIFY(v->m_btnStart->isEnabled());
            QVERIFY(!v->m_staticNextLabel->isEnabled());
        } else {
            QVERIFY(f.m_tray.m_strTip != QStringLiteral("Bumple has stopped"));
        }
        // A lookup or period failure shows its box after the stop, a connect failure before it.
        if (!message.isEmpty())
            QCOMPARE(tipAtBox == QStringLiteral("Bumple has stopped"), stoppedAtBox);
        if (!nextLookup.isEmpty()) {
            QCOMPARE(f.m_sockets.m_lookups.last(), nextLookup);
            QCOMPARE(v->m_comboName->GetCurSel(), 1);
            QCOMPARE(v->m_strProblemName, QStringLiteral("alpha.test"));
        }
        if (counts != QList<int>{0, 0, 0})
            QVERIFY(v->m_bProblemUnseen);
        QVERIFY(f.m_sockets.m_open.empty());
    }

    void rejectedPeriodKeepsTheLastAcceptedText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        for (const char* text : {"0.5", "61", "", "abc", "1e9", "-5", "nan", "0x10", "inf"})
            QTest::newRow(text) << QString::fromLatin1(text) << false;
        QTest::newRow("60.9") << QStringLiteral("60.9") << true;
    }
    void rejectedPeriodKeepsTheLastAcceptedText() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        v->m_editPeriod->SetWindowText(text);
        v->OnStartOrApply();
        CViewFixture::Pump();
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")});
        CViewFixture::Pump();
        QCOMPARE(v->m_editPeriod->GetWindowText(), accepted ? text : QStringLiteral("1"));
        QCOMPARE(v->m_strPeriod, accepted ? text : QStringLiteral("1"));
        QCOMPARE(v->m_nPeriod, accepted ? 3654 : 60);
        QCOMPARE(f.m_framework.m_messages.size(), accepted ? 0 : 1);
    }

    void wrapAroundToTheFirstName() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_comboName->SetCurSel(2);
        v->OnStartOrApply();
        CViewFixture::Pump();
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.1.2.3")});
        CViewFixture::Pump();
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("gamma.test"));
        f.m_sockets.CompleteLookup(11001);
        CViewFixture::Pump();
        QCOMPARE(v->m_comboName->GetCurSel(), 0);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("alpha.test"));
        QCOMPARE(f.m_statusLog.mid(f.m_statusLog.size() - 4),
                 QStringList({"Last domain resolution failed", "NOT RUNNING", "Starting Connection",
                              "Validating Domain Name"}));
    }

    void typedNameJoinsTheListOnlyAfterItConnects_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::newRow("new name") << QStringLiteral("delta.test") << 4 << 3;
        QTest::newRow("case only") << QStringLiteral("BETA.test") << 3 << 1;
    }
    void typedNameJoinsTheListOnlyAfterItConnects() {
        QFETCH(QString, typed);
        QFETCH(int, count);
        QFETCH(int, selected);
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_comboName->SetWindowText(typed);
        StartResolved(f);
        QCOMPARE(v->m_comboName->GetCount(), 3);
        f.Tick();
        QCOMPARE(v->m_comboName->GetCount(), count);
        QCOMPARE(v->m_comboName->GetCurSel(), selected);
        QCOMPARE(v->m_strName, typed);
        QCOMPARE(f.Setting("ComboNameSel"), QString::number(selected));
        QCOMPARE(f.Setting(QStringLiteral("ComboName%1").arg(count - 1)),
                 count == 4 ? typed : QStringLiteral("gamma.test"));
        QCOMPARE(f.Setting("ComboName4"), QStringLiteral("<missing>"));
    }

    // The save after a probe writes only what this instance changed: a name it never touched
    // keeps its bytes, and what another instance or a hand edit changed since the view read
    // the settings stays (here the probe changes nothing of the list and its selection).
    void saveKeepsWhatOthersWrote_data() {
        QTest::addColumn<QByteArrayList>("beforeStart"); // pairs replaced in the hive
        QTest::addColumn<QByteArrayList>("meanwhile");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("latin-1 name")
            << QByteArrayList{"\"beta.test\"", "\"b\xE9ta.test\""} << QByteArrayList()
            << QByteArray("\"ComboName1\"=\"b\xE9ta.test\"\n");
        QTest::newRow("name deleted by another instance")
            << QByteArrayList{"\"AutoStart\"", "\"ComboNameSel\"=\"0\"\n\"AutoStart\""}
            << QByteArrayList{"\"ComboName1\"=\"beta.test\"\n\"ComboName2\"=\"gamma.test\"",
                              "\"ComboName1\"=\"gamma.test\"\n\"ComboName2\"=\"\""}
            << QByteArray("\"ComboName1\"=\"gamma.test\"\n\"ComboName2\"=\"\"\n");
        QTest::newRow("period edited by hand")
            << QByteArrayList() << QByteArrayList{"\"Often\"=\"1\"", "\"Often\"=\"17\""}
            << QByteArray("\"Often\"=\"17\"\n");
    }
    void saveKeepsWhatOthersWrote() {
        QFETCH(QByteArrayList, beforeStart);
        QFETCH(QByteArrayList, meanwhile);
        QFETCH(QByteArray, kept);
        CViewFixture f(kThreeNames);
        const auto edit = [&f](const QByteArrayList& pair) {
            QFile hive(f.m_dir.filePath(QStringLiteral("registry.reg")));
            QVERIFY(hive.open(QIODevice::ReadWrite));
            const QByteArray bytes = hive.readAll();
            QVERIFY(bytes.contains(pair.at(0)));
            QVERIFY(hive.resize(0));
            hive.write(QByteArray(bytes).replace(pair.at(0), pair.at(1)));
        };
        if (!beforeStart.isEmpty())
            edit(beforeStart);
        CBumpleView* v = f.Create();
        StartResolved(f);
        if (!meanwhile.isEmpty())
            edit(meanwhile);
        f.Tick();
        QCOMPARE(f.Setting("ComboNameSel"), QStringLiteral("0"));
        QFile hive(f.m_dir.filePath(QStringLiteral("registry.reg")));
        QVERIFY(hive.open(QIODevice::ReadOnly));
        QVERIFY2(hive.readAll().contains(kept), qPrintable(f.HiveText()));
        QCOMPARE(v->m_comboName->GetCount(), 3);
    }

    void typedNameThatFailsToConnectIsNotAdded() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_comboName->SetWindowText(QStringLiteral("delta.test"));
        StartResolved(f);
        f.m_sockets.m_connectResults = {SOCKET_ERROR};
        f.Tick();
        QCOMPARE(v->m_comboName->GetCount(), 3);
        // Not in the list: the advance goes to the first entry.
        QCOMPARE(v->m_comboName->GetCurSel(), 0);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("alpha.test"));
    }

    void typedNameWithLeadingBlanksConnectsWithoutThem() {
        CViewFixture f(WithSettings({QStringLiteral("\"Ignore\"=\"0\"")}));
        CBumpleView* v = f.Create();
        v->m_comboName->SetWindowText(QStringLiteral("  delta.test"));
        StartResolved(f);
        f.m_sockets.m_connectResults = {SOCKET_ERROR};
        f.Tick();
        QCOMPARE(f.m_framework.m_messages.at(0).left(40),
                 kCannotConnect.arg("delta.test").left(40));
        QCOMPARE(v->m_strProblemName, QStringLiteral("  delta.test"));
    }

    void randomNamesSwitchAfterTheFirstProbe() {
        CViewFixture f(WithSettings({QStringLiteral("\"RandomName\"=\"1\"")}));
        CBumpleView* v = f.Create();
        StartResolved(f);
        f.Tick();
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(1));
        // Draw 0 is the selection itself, so it draws again.
        f.m_framework.m_draws = {0, 2};
        f.Tick(60);
        QCOMPARE(v->m_comboName->GetCurSel(), 2);
        QCOMPARE(v->m_nNameSel, 2);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("gamma.test"));
        QCOMPARE(v->m_staticCountdown->text(), QString());
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.8")});
        CViewFixture::Pump();
        f.Tick();
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(2));
        QCOMPARE(Address(f.m_sockets.m_connectAddresses.back()), QStringLiteral("127.9.9.8"));
    }

    void randomNamesWithOneItem() {
        CViewFixture f({QStringLiteral("\"AutoStart\"=\"0\""), QStringLiteral("\"Often\"=\"1\""),
                        QStringLiteral("\"RandomName\"=\"1\""),
                        QStringLiteral("\"ComboName0\"=\"127.0.0.1\"")});
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        f.Tick();
        f.m_framework.m_draws = {0, 0, 0};
        f.Tick(60);
        QCOMPARE(v->m_comboName->GetCurSel(), 0);
        QCOMPARE(f.m_framework.m_draws.size(), size_t(2));
        // A name beginning with a digit re-arms at once: one second left.
        QCOMPARE(v->m_staticCountdown->text(), QStringLiteral(" 0:01"));
    }

    void randomTimeBounds_data() {
        QTest::addColumn<QString>("period");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("1 minute") << QStringLiteral("1") << 30 << 90;
        QTest::newRow("60 minutes") << QStringLiteral("60") << 3570 << 3599;
    }
    void randomTimeBounds() {
        QFETCH(QString, period);
        QFETCH(int, low);
        QFETCH(int, high);
        CViewFixture f(WithSettings({QStringLiteral("\"RandomTime\"=\"1\"")}));
        CBumpleView* v = f.Create();
        v->m_editPeriod->SetWindowText(period);
        StartResolved(f);
        QCOMPARE(v->m_nCurPeriod, v->m_nPeriod);
        // Draws covering every residue: even lengthen, odd shorten, 0 redrawn.
        for (int r = 0; r < 64; ++r)
            f.m_framework.m_draws.push_back(r);
        int shortest = 1 << 30;
        int longest = 0;
        for (int i = 0; i < 40; ++i) {
            f.Tick(v->m_nCurPeriod - v->m_nTick);
            shortest = std::min(shortest, v->m_nCurPeriod);
            longest = std::max(longest, v->m_nCurPeriod);
        }
        QCOMPARE(shortest, low);
        QCOMPARE(longest, high);
    }

    void tipHintAppearsAndClears() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        f.m_sockets.m_bSocketFails = true;
        f.Tick();
        QCOMPARE(v->m_nSocketFailures, 2);
        f.Tick();
        QCOMPARE(f.m_tray.m_strTip,
                 QStringLiteral("Bumple in  0:59   Please check the Statistics dialog box"));
        QVERIFY(f.m_tray.m_strTip.toUtf8().size() <= 63);
        v->m_bProblemUnseen = FALSE;
        f.Tick();
        QCOMPARE(f.m_tray.m_strTip, QStringLiteral("Bumple in  0:58"));
    }

    // A probe's failed save is retried silently, at growing intervals, and the tip says so.
    void failedSaveIsRetried() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        const QString hive = f.m_dir.filePath(QStringLiteral("registry.reg"));
        QVERIFY(QFile::rename(hive, hive + ".saved") && QDir().mkdir(hive));
        f.Tick(2);
        QCOMPARE(f.m_tray.m_strTip, QStringLiteral("Bumple in  0:59   Settings not saved yet"));
        v->OnTimer(ID_TIMER_SAVE);
        QCOMPARE(f.m_framework.m_timerLog.filter("104").join(' '), "set 104 kill 104 set 104");
        QCOMPARE(f.m_framework.m_timers[ID_TIMER_SAVE], UINT(60000));
        QVERIFY(QDir().rmdir(hive) && QFile::rename(hive + ".saved", hive));
        v->OnTimer(ID_TIMER_SAVE);
        QVERIFY(!f.m_framework.IsTimerSet(ID_TIMER_SAVE) && f.m_framework.m_messages.isEmpty());
        QCOMPARE(f.Setting("ComboNameSel"), QStringLiteral("0"));
    }

    void autoStartTimerStartsOnceAndAStartCancelsIt() {
        CViewFixture f({QStringLiteral("\"ComboName0\"=\"127.0.0.1\"")});
        CBumpleView* v = f.Create();
        QVERIFY(f.m_framework.IsTimerSet(103));
        QVERIFY(v->m_bAutoStartPending);
        v->OnStartOrApply();
        QVERIFY(!f.m_framework.IsTimerSet(103));
        QCOMPARE(f.m_sockets.m_lookups.size(), 1);
        v->OnTimer(103);
        QVERIFY(!v->m_bAutoStartPending);
    }

    void localAddressChoice_data() {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("one") << QStringList{"127.1.2.3"} << "127.1.2.3";
        QTest::newRow("no zero byte: the last")
            << QStringList{"127.1.1.1", "127.2.2.2", "127.3.3.3"} << "127.3.3.3";
        QTest::newRow("a zero byte: the first")
            << QStringList{"127.0.1.1", "127.2.2.2"} << "127.0.1.1";
        QTest::newRow("IPv4 and IPv6: IPv4")
            << QStringList{"fd00:1::5", "127.1.2.3"} << "127.1.2.3";
        QTest::newRow("IPv6 only") << QStringList{"fd00:1::5", "fd00:1::6"} << "fd00:1::5";
    }
    void localAddressChoice() {
        QFETCH(QStringList, addresses);
        QFETCH(QString, chosen);
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->OnStartOrApply();
        f.m_sockets.CompleteLookup(0, addresses);
        CViewFixture::Pump();
        QCOMPARE(v->m_strLocalAddress, chosen);
        QVERIFY(v->m_bLocalAddressKnown);
    }

    void refusedLookupIsAFailedLookup() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        f.m_sockets.m_bRefuseLookups = true;
        v->OnStartOrApply();
        f.m_sockets.m_bRefuseLookups = false;
        CViewFixture::Pump();
        QCOMPARE(v->m_nDnsFailures, 1);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("beta.test"));
        QCOMPARE(f.m_framework.m_nWaitCursor, 1);
    }

    // Offline, every lookup fails at once: after a whole round of the list each restart
    // waits for the one-second retry timer, in the same order and with the same counts.
    void offlineRoundsArePacedByTheRetryTimer() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!f.m_framework.IsTimerSet(ID_TIMER_RETRY));
            QVERIFY(f.m_sockets.CompleteLookup(11001));
            CViewFixture::Pump();
        }
        QCOMPARE(f.m_sockets.m_lookups, QStringList({"alpha.test", "beta.test", "gamma.test"}));
        QVERIFY(f.m_sockets.m_pending.empty());
        QCOMPARE(f.m_framework.m_timers.at(ID_TIMER_RETRY), UINT(1000));
        QCOMPARE(f.Status(), QStringLiteral("Last domain resolution failed"));
        QCOMPARE(v->m_comboName->GetCurSel(), 0);
        QVERIFY(!v->m_btnStart->isEnabled());
        v->OnTimer(ID_TIMER_RETRY);
        CViewFixture::Pump();
        QVERIFY(!f.m_framework.IsTimerSet(ID_TIMER_RETRY));
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("alpha.test"));
        QCOMPARE(f.m_statusLog.mid(f.m_statusLog.size() - 3),
                 QStringList({"NOT RUNNING", "Starting Connection", "Validating Domain Name"}));
        QVERIFY(f.m_sockets.CompleteLookup(11001));
        CViewFixture::Pump();
        QVERIFY(f.m_framework.IsTimerSet(ID_TIMER_RETRY));
        QCOMPARE(v->m_nDnsFailures, 4);
        // A lookup that succeeds ends the pacing; the next failure restarts at once.
        v->OnTimer(ID_TIMER_RETRY);
        QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")}));
        CViewFixture::Pump();
        QVERIFY(v->m_staticNextLabel->isEnabled());
        f.m_sockets.m_connectResults = {SOCKET_ERROR};
        f.Tick();
        QVERIFY(f.m_sockets.CompleteLookup(11001));
        CViewFixture::Pump();
        QVERIFY(!f.m_framework.IsTimerSet(ID_TIMER_RETRY));
        QCOMPARE(f.m_sockets.m_pending.size(), size_t(1));
        // A stop cancels a pending restart.
        for (int i = 0; i < 2; ++i) {
            QVERIFY(f.m_sockets.CompleteLookup(11001));
            CViewFixture::Pump();
        }
        QVERIFY(f.m_framework.IsTimerSet(ID_TIMER_RETRY));
        v->StopEngine(TRUE);
        QVERIFY(!f.m_framework.IsTimerSet(ID_TIMER_RETRY));
    }

    void emptyListAdvanceDoesNotDivideByZero() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        v->m_comboName->ResetContent();
        v->m_comboName->SetWindowText(QStringLiteral("x.test"));
        v->OnStartOrApply();
        f.m_sockets.CompleteLookup(11001);
        CViewFixture::Pump();
        QCOMPARE(v->m_nDnsFailures, 1);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("x.test"));
    }

    void startDuringCountdownClosesTheProbe() {
        CViewFixture f(kThreeNames);
        CBumpleView* v = f.Create();
        StartResolved(f);
        f.Tick();
        v->OnStartOrApply();
        QVERIFY(f.m_sockets.m_open.empty());
        QCOMPARE(v->m_socket, INVALID_SOCKET);
        QVERIFY(!v->m_bWaiting);
        QVERIFY(!f.m_framework.IsTimerSet(101));
    }

    // "Bumple Only When Idle". Steps: "start", "tick N", "busy N" (ticks over which the link
    // carries 5000 bytes each), "own N" (the same, all of it the probe socket's own),
    // "answer" (the server answers and holds the connection), "reply" (it answers with 5000
    // bytes and closes), "unreadable", "no route", "on" (the option switched on), "moved"
    // (the route moves to another interface), "gone", "back", "wrap" (the counters restart).
    void idleOnly_data() {
        QTest::addColumn<int>("idleOnly");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("connects");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<bool>("reads");
        const QStringList first = {"start", "tick 1", "reply"};
        const QString inUse = "Bumple in  1:00   Link in use";
        QTest::newRow("busy ticks restart the countdown, the tip counts again after")
            << 1 << first + QStringList{"busy 3", "tick 59"} << 1 << "Bumple in  0:01" << true;
        QTest::newRow("the tip says why while busy")
            << 1 << first + QStringList{"busy 2"} << 1 << inUse << true;
        QTest::newRow("idle again: the probe goes")
            << 1 << first + QStringList{"busy 3", "tick 60"} << 2 << "Bumple in  1:00" << true;
        QTest::newRow("the first probe after arming still goes")
            << 1 << first + QStringList{"tick 5", "start", "busy 1"} << 2 << "Bumple in  1:00"
            << true;
        QTest::newRow("own exchange does not count")
            << 1 << first + QStringList{"tick 60", "reply", "tick 60"} << 3 << "Bumple in  1:00"
            << true;
        QTest::newRow("a slow reply over three ticks does not count")
            << 1 << QStringList{"start", "tick 1", "own 3", "reply", "tick 57"} << 2
            << "Bumple in  1:00" << true;
        QTest::newRow("traffic counts while an unanswered probe is open")
            << 1 << QStringList{"start", "tick 1", "busy 3", "tick 59"} << 1 << "Bumple in  0:01"
            << true;
        QTest::newRow("a held connection plus traffic holds the probe")
            << 1 << QStringList{"start", "tick 1", "own 1", "answer", "busy 3", "tick 59"} << 1
            << "Bumple in  0:01" << true;
        QTest::newRow("switched on mid-countdown: read from the next tick")
            << 0 << first + QStringList{"tick 10", "on", "tick 1", "busy 1"} << 1 << inUse << true;
        QTest::newRow("the route moves")
            << 1 << first + QStringList{"moved", "tick 1", "busy 1"} << 1 << inUse << true;
        QTest::newRow("the interface gone and back")
            << 1 << first + QStringList{"gone", "tick 1", "back", "tick 1", "busy 1"} << 1 << inUse
            << true;
        QTest::newRow("counters that restart do not count")
            << 1 << first + QStringList{"tick 1", "busy 1", "wrap", "tick 1"} << 1
            << "Bumple in  0:59" << true;
        QTest::newRow("unreadable counters: on schedule")
            << 1 << QStringList{"unreadable"} + first + QStringList{"busy 60"} << 2
            << "Bumple in  1:00" << true;
        QTest::newRow("no route: on schedule")
            << 1 << QStringList{"no route"} + first + QStringList{"busy 60"} << 2
            << "Bumple in  1:00" << false;
        QTest::newRow("option off reads nothing")
            << 0 << first + QStringList{"busy 60"} << 2 << "Bumple in  1:00" << false;
    }
    void idleOnly() {
        QFETCH(int, idleOnly);
        QFETCH(QStringList, steps);
        QFETCH(int, connects);
        QFETCH(QString, tip);
        QFETCH(bool, reads);
        CViewFixture f(WithSettings({QStringLiteral("\"IdleOnly\"=\"%1\"").arg(idleOnly)}));
        CBumpleView* v = f.Create();
        CScriptedLinkCounters& links = f.m_links;
        const auto carry = [&](bool own) {
            links.m_bytes[links.m_nInterface] += 5000;
            if (own)
                f.m_sockets.m_ownCounts[f.m_sockets.LastSocket()] += 5000;
        };
        for (const QString& step : steps) {
            const int count = step.section(QLatin1Char(' '), 1).toInt();
            if (step == QLatin1String("start")) {
                StartResolved(f);
            } else if (step.startsWith(QLatin1String("tick"))) {
                f.Tick(count);
            } else if (step.startsWith(QLatin1String("busy")) ||
                       step.startsWith(QLatin1String("own"))) {
                for (int i = 0; i < count; ++i) {
                    carry(step.startsWith(QLatin1String("own")));
                    f.Tick();
                }
            } else if (step == QLatin1String("answer") || step == QLatin1String("reply")) {
                if (step == QLatin1String("reply"))
                    carry(true);
                f.m_sockets.PostEvent(f.m_sockets.LastSocket(), FD_READ);
                if (step == QLatin1String("reply"))
                    f.m_sockets.PostEvent(f.m_sockets.LastSocket(), FD_CLOSE);
                CViewFixture::Pump();
            } else if (step == QLatin1String("unreadable")) {
                links.m_bReadable = false;
            } else if (step == QLatin1String("on")) {
                v->m_bIdleOnly = TRUE;
            } else if (step == QLatin1String("moved")) {
                links.m_nInterface = 2;
                links.m_bytes[2] = 7;
                links.m_bChanged = true;
            } else if (step == QLatin1String("gone")) {
                links.m_bytes.erase(1);
            } else if (step == QLatin1String("back") || step == QLatin1String("wrap")) {
                links.m_bytes[1] = 0;
            } else {
                links.m_nInterface = 0;
            }
        }
        QCOMPARE(int(f.m_sockets.m_connected.size()), connects);
        QCOMPARE(f.m_tray.m_strTip, tip);
        QCOMPARE(!links.m_reads.isEmpty(), reads);
        QCOMPARE(links.m_nRouteLookups > 0, bool(v->m_bIdleOnly));
        QCOMPARE(links.m_bOpen, bool(v->m_bIdleOnly)); // off: no kernel socket at all
        QCOMPARE(v->m_history.Summaries().at(0).nProbes, connects);
    }

    // "Notify When Link Goes Down". Steps: "fail" (the next lookup fails; a stopped engine is
    // started and a pending retry is run first), "up" (a lookup, a probe and its reply),
    // "wait S" (S seconds pass).
    void notifyWhenLinkGoesDown_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<bool>("down");
        const QString down = QStringLiteral(
            "The link is down\nSince 12:00:00, 3 probes in a row failed:\nalpha.test: lookup "
            "failure\nbeta.test: lookup failure\ngamma.test: lookup failure");
        const QStringList on = {"\"Notify\"=\"1\""};
        const QStringList fail3 = {"fail", "fail", "fail"};
        QTest::newRow("down after 3 failures") << on << fail3 << QStringList{down} << true;
        QTest::newRow("no second notification while down")
            << on << fail3 + QStringList{"fail", "fail", "fail", "fail"} << QStringList{down}
            << true;
        QTest::newRow("up with the duration and the count")
            << on << fail3 + QStringList{"wait 60", "fail", "wait 65", "up", "fail"}
            << QStringList{down, "The link is back\nIt was down for 2 min 05 s; 4 probes failed."}
            << false;
        QTest::newRow("option off sends nothing")
            << QStringList() << fail3 + QStringList{"up"} << QStringList() << false;
        QTest::newRow("ignore off, form hidden: box and notification")
            << on + QStringList{"\"Ignore\"=\"0\""} << fail3
            << QStringList{QString(down).replace("beta", "alpha").replace("gamma", "alpha")}
            << true;
    }
    void notifyWhenLinkGoesDown() {
        QFETCH(QStringList, settings);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, notices);
        QFETCH(bool, down);
        CViewFixture f(WithSettings(settings));
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        for (const QString& step : steps) {
            if (step.startsWith(QLatin1String("wait"))) {
                f.m_framework.m_dwTicks += 1000 * step.section(QLatin1Char(' '), 1).toUInt();
                continue;
            }
            if (f.m_framework.IsTimerSet(ID_TIMER_RETRY))
                v->OnTimer(ID_TIMER_RETRY);
            if (f.m_sockets.m_pending.empty())
                v->OnStartOrApply();
            if (step == QLatin1String("fail")) {
                QVERIFY(f.m_sockets.CompleteLookup(11001));
                CViewFixture::Pump();
                continue;
            }
            QVERIFY(f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")}));
            CViewFixture::Pump();
            f.Tick();
            f.m_sockets.PostEvent(f.m_sockets.LastSocket(), FD_READ);
            CViewFixture::Pump();
        }
        QCOMPARE(f.m_notifier.m_notices, notices);
        QCOMPARE(v->m_linkState.IsDown(), down);
        if (!notices.isEmpty())
            QCOMPARE(f.m_notifier.m_nCommand, UINT(ID_HISTORY));
        // The option never on leaves the settings as they were.
        QCOMPARE(f.HiveText().contains(QLatin1String("Notify")), !settings.isEmpty());
    }
};

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
