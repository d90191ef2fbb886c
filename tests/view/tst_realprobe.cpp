#include "CBumpleView.h"
#include "CComboBox.h"
#include "CLoopbackServer.h"
#include "CNetworkSandbox.h"
#include "CViewFixture.h"

#include <QLabel>
#include <QTest>

// The probe of the real engine against a loopback HTTP server on port 80.
class TestRealProbe : public QObject {
    Q_OBJECT

private slots:
    void init() { REQUIRE_NETWORK_SANDBOX(); }

    void requestArrivesByteForByte_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("listen");
        QTest::newRow("IPv4") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1");
        // The sandbox names ipv6-only.bumple.test with ::1 alone.
        QTest::newRow("IPv6 only")
            << QStringLiteral("ipv6-only.bumple.test") << QStringLiteral("::1");
    }
    void requestArrivesByteForByte() {
        QFETCH(QString, name);
        QFETCH(QString, listen);
        CLoopbackServer server(CLoopbackServer::Reply, 80, QHostAddress(listen));
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = CViewFixture::OnRealSockets({name});
        QVERIFY(f->StartAndArm());
        QVERIFY(f->m_pView->m_bLocalAddressKnown);
        f->Tick();
        QTRY_VERIFY_WITH_TIMEOUT(f->m_pView->m_nSuccesses == 1, 5000);
        const QByteArray expected = CBumpleView::ProbeRequest(f->m_pView->m_strLocalAddress);
        QCOMPARE(server.m_received.at(0), expected);
        QVERIFY(server.m_received.at(0).contains(
            "\r\nHost: " + f->m_pView->m_strLocalAddress.toUtf8() + "\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(f->m_pView->m_socket, INVALID_SOCKET, 5000);
        QVERIFY(f->Status().startsWith(QStringLiteral("Bumple completed at ")));
    }

    void replyInSeveralReadsCountsOnce_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("chunks");
        QTest::newRow("3000 bytes in 3 pieces") << 3000 << 3;
        QTest::newRow("1025 bytes") << 1025 << 1;
    }
    void replyInSeveralReadsCountsOnce() {
        QFETCH(int, size);
        QFETCH(int, chunks);
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        server.m_reply = QByteArray(size, 'x');
        server.m_chunks = chunks;
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        QVERIFY(f->StartAndArm());
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(f->m_pView->m_nSuccesses, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(f->m_pView->m_socket, INVALID_SOCKET, 5000);
        QCOMPARE(f->m_pView->m_nSuccesses, 1);
    }

    void refusedConnectAdvancesToTheNextName() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        // Nothing listens on 127.0.0.2: the connect is refused at once.
        auto f =
            CViewFixture::OnRealSockets({QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1")});
        QVERIFY(f->StartAndArm());
        f->Tick();
        CBumpleView* v = f->m_pView;
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nHttpFailures, 1, 5000);
        QCOMPARE(v->m_nSocketFailures, 1);
        QCOMPARE(v->m_strProblemName, QStringLiteral("127.0.0.2"));
        QCOMPARE(v->m_comboName->GetCurSel(), 1);
        QVERIFY(v->m_staticNextLabel->isEnabled());
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
    }

    // An empty name box: the lookup of "" is the local host, so the schedule is armed, and
    // the probe counts one socket failure with an empty problem name and shows nothing.
    void emptyNameArmsAndEachProbeCountsASocketFailure() {
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        CBumpleView* v = f->m_pView;
        v->m_comboName->SetWindowText(QString());
        QVERIFY(f->StartAndArm());
        QCOMPARE(v->m_nDnsFailures, 0);
        f->Tick();
        QCOMPARE(v->m_nSocketFailures, 1);
        QCOMPARE(v->m_nHttpFailures, 0);
        QCOMPARE(v->m_strProblemName, QString());
        QVERIFY(f->m_framework.m_messages.isEmpty());
        QVERIFY(v->m_staticNextLabel->isEnabled());
    }

    void manyProbesLeakNoDescriptor() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        QVERIFY(f->StartAndArm());
        CBumpleView* v = f->m_pView;
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(v->m_socket, INVALID_SOCKET, 5000);
        const int before = CViewFixture::OpenDescriptors();
        for (int i = 2; i <= 200; ++i) {
            f->Tick(60);
            QVERIFY(CViewFixture::WaitFor([&] { return v->m_nSuccesses == i; }));
        }
        QTRY_VERIFY_WITH_TIMEOUT(CViewFixture::OpenDescriptors() <= before, 5000);
    }
};

QTEST_MAIN(TestRealProbe)
#include "tst_realprobe.moc"
