#include "CBumpleView.h"
#include "CComboBox.h"
#include "CLoopbackServer.h"
#include "CNetworkSandbox.h"
#include "CViewFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The real probe against servers that misbehave: the engine's state and counters follow
// its rules, the event loop keeps running between events, and nothing leaks.
class TestHostileServers : public QObject {
    Q_OBJECT

    // Watches the event loop from now on: a heartbeat every 10 ms notes the longest gap.
    void WatchLoop() {
        m_longestGap = 0;
        m_sinceBeat.start();
        m_heartbeat.start(10);
    }
    // The loop has kept handling events since WatchLoop: no heartbeat came a second late, as
    // one would behind a call that blocks the user-interface thread.
    bool LoopIsAlive() {
        QTest::qWait(50);
        qInfo("longest gap between heartbeats: %lld ms", m_longestGap);
        return m_longestGap < 1000;
    }

    QTimer m_heartbeat;
    QElapsedTimer m_sinceBeat;
    qint64 m_longestGap = 0;

private slots:
    void initTestCase() {
        connect(&m_heartbeat, &QTimer::timeout, this,
                [this] { m_longestGap = std::max(m_longestGap, m_sinceBeat.restart()); });
    }
    void init() { REQUIRE_NETWORK_SANDBOX(); }
    void cleanup() { m_heartbeat.stop(); }

    void neverAnswering_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("accepts and never sends") << int(CLoopbackServer::Silent);
        QTest::newRow("closes at once") << int(CLoopbackServer::CloseAtOnce);
        QTest::newRow("resets") << int(CLoopbackServer::Reset);
    }
    void neverAnswering() {
        QFETCH(int, mode);
        CLoopbackServer server{CLoopbackServer::Mode(mode)};
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        CBumpleView* v = f->m_pView;
        QVERIFY(f->StartAndArm());
        const int descriptors = CViewFixture::OpenDescriptors();
        WatchLoop();
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(server.m_received.size(), size_t(1), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(server.m_received[0].endsWith("\r\n\r\n"), 5000);
        QVERIFY(LoopIsAlive());
        if (mode != CLoopbackServer::Silent)
            QTRY_COMPARE_WITH_TIMEOUT(v->m_socket, INVALID_SOCKET, 5000);
        QCOMPARE(v->m_nSuccesses + v->m_nHttpFailures + v->m_nSocketFailures, 0);
        QVERIFY(v->m_bWaiting && v->m_bBusy);
        QVERIFY(!v->m_btnStart->isEnabled());
        QCOMPARE(f->Status(), QStringLiteral("Bumple was sent"));
        // The next period end probes again all the same.
        f->Tick(60);
        QTRY_COMPARE_WITH_TIMEOUT(server.m_received.size(), size_t(2), 5000);
        QVERIFY(v->m_staticNextLabel->isEnabled());
        // A stop closes whatever is open.
        v->StopEngine(FALSE);
        QTRY_VERIFY_WITH_TIMEOUT(CViewFixture::OpenDescriptors() <= descriptors, 5000);
    }

    void byteEveryFewSecondsCountsOnce() {
        CLoopbackServer server(CLoopbackServer::Trickle);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        CBumpleView* v = f->m_pView;
        QVERIFY(f->StartAndArm());
        WatchLoop();
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(server.m_received.size(), size_t(1), 5000);
        // Three seconds of the engine's time pass between bytes, as its timer counts them.
        for (int i = 0; i < 3; ++i) {
            server.TrickleOne();
            QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
            QVERIFY(LoopIsAlive());
            f->Tick(3);
        }
        QTest::qWait(200);
        QCOMPARE(v->m_nSuccesses, 1);
        QVERIFY(v->m_socket != INVALID_SOCKET);
        QVERIFY(!v->m_bBusy);
        f->Tick();
        QVERIFY(v->m_btnStart->isEnabled());
    }

    void tenMegabytesCountOnceAndClose() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        server.m_reply = QByteArray(10 * 1024 * 1024, 'x');
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        CBumpleView* v = f->m_pView;
        QVERIFY(f->StartAndArm());
        const int descriptors = CViewFixture::OpenDescriptors();
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(v->m_socket, INVALID_SOCKET, 60000);
        QCOMPARE(v->m_nSuccesses, 1);
        QTRY_VERIFY_WITH_TIMEOUT(CViewFixture::OpenDescriptors() <= descriptors, 5000);
    }

    void neverAccepting_data() {
        QTest::addColumn<int>("ignore");
        QTest::newRow("ignore 1") << 1;
        QTest::newRow("ignore 0") << 0;
    }
    void neverAccepting() {
        QFETCH(int, ignore);
        // The connect is pending until the network stack gives up; in this namespace it
        // gives up after one retry.
        QFile retries(QStringLiteral("/proc/sys/net/ipv4/tcp_syn_retries"));
        if (!retries.open(QIODevice::WriteOnly) || retries.write("1") != 1)
            QSKIP("the connect timeout of this network namespace cannot be shortened");
        retries.close();
        // A listener with a full backlog that never accepts.
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        // A failing row too frees port 80 for the next one.
        const auto closeListener = qScopeGuard([listener] { close(listener); });
        const int reuse = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(80);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(listen(listener, 0), 0);
        QTcpSocket filler;
        filler.connectToHost(QStringLiteral("127.0.0.1"), 80);
        QVERIFY(filler.waitForConnected(3000));

        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")}, ignore);
        CBumpleView* v = f->m_pView;
        QVERIFY(f->StartAndArm());
        const int descriptors = CViewFixture::OpenDescriptors();
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nHttpFailures, 1, 30000);
        QCOMPARE(v->m_nSocketFailures, 1);
        QCOMPARE(f->m_framework.m_messages.size(), 1 - ignore);
        if (ignore)
            QVERIFY(v->m_staticNextLabel->isEnabled());
        else
            QCOMPARE(f->Status(), QStringLiteral("NOT RUNNING"));
        QVERIFY(CViewFixture::OpenDescriptors() <= descriptors);
    }
};

QTEST_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
