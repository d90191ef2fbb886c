#include "CBumpleView.h"
#include "CComboBox.h"
#include "CLoopbackServer.h"
#include "CNetworkSandbox.h"
#include "CViewFixture.h"

#include <QDir>
#include <QLabel>
#include <QTest>

namespace {
int OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}
} // namespace

// The probe of the real engine against a loopback HTTP server on port 80.
class TestRealProbe : public QObject {
    Q_OBJECT

    // A view on real sockets whose list names the given targets.
    static std::unique_ptr<CViewFixture> MakeView(const QStringList& names, int ignore = 1) {
        QStringList settings = {QStringLiteral("\"AutoStart\"=\"0\""),
                                QStringLiteral("\"Often\"=\"1\""),
                                QStringLiteral("\"Ignore\"=\"%1\"").arg(ignore)};
        for (int i = 0; i < names.size(); ++i)
            settings.append(QStringLiteral("\"ComboName%1\"=\"%2\"").arg(i).arg(names[i]));
        auto f = std::make_unique<CViewFixture>(settings);
        CPlatform::Install(nullptr, &f->m_tray, &f->m_framework);
        f->Create();
        return f;
    }

    // Starts and waits (bounded) until the schedule is armed.
    static bool StartAndArm(CViewFixture& f) {
        f.m_pView->OnStartOrApply();
        return QTest::qWaitFor([&] { return f.m_pView->m_staticNextLabel->isEnabled(); }, 10000);
    }

private slots:
    void init() { REQUIRE_NETWORK_SANDBOX(); }

    void requestArrivesByteForByte() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = MakeView({QStringLiteral("localhost")});
        QVERIFY(StartAndArm(*f));
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
        QTest::newRow("10 MB") << 10 * 1024 * 1024 << 1;
    }
    void replyInSeveralReadsCountsOnce() {
        QFETCH(int, size);
        QFETCH(int, chunks);
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        server.m_reply = QByteArray(size, 'x');
        server.m_chunks = chunks;
        auto f = MakeView({QStringLiteral("127.0.0.1")});
        QVERIFY(StartAndArm(*f));
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(f->m_pView->m_socket, INVALID_SOCKET, 60000);
        QCOMPARE(f->m_pView->m_nSuccesses, 1);
    }

    void closeWithoutDataOrResetCountsNothing_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("close") << int(CLoopbackServer::CloseAtOnce);
        QTest::newRow("reset") << int(CLoopbackServer::Reset);
    }
    void closeWithoutDataOrResetCountsNothing() {
        QFETCH(int, mode);
        CLoopbackServer server{CLoopbackServer::Mode(mode)};
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = MakeView({QStringLiteral("127.0.0.1")});
        QVERIFY(StartAndArm(*f));
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(f->m_pView->m_socket, INVALID_SOCKET, 5000);
        CBumpleView* v = f->m_pView;
        QCOMPARE(v->m_nSuccesses + v->m_nHttpFailures + v->m_nSocketFailures, 0);
        QVERIFY(v->m_bWaiting && v->m_bBusy);
        QCOMPARE(f->Status(), QStringLiteral("Bumple was sent"));
    }

    void refusedConnectAdvancesToTheNextName() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        // Nothing listens on 127.0.0.2: the connect is refused at once.
        auto f = MakeView({QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1")});
        QVERIFY(StartAndArm(*f));
        f->Tick();
        CBumpleView* v = f->m_pView;
        QCOMPARE(v->m_nHttpFailures, 1);
        QCOMPARE(v->m_nSocketFailures, 1);
        QCOMPARE(v->m_strProblemName, QStringLiteral("127.0.0.2"));
        QCOMPARE(v->m_comboName->GetCurSel(), 1);
        QVERIFY(v->m_staticNextLabel->isEnabled());
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
    }

    void manyProbesLeakNoDescriptor() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        auto f = MakeView({QStringLiteral("127.0.0.1")});
        QVERIFY(StartAndArm(*f));
        CBumpleView* v = f->m_pView;
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(v->m_socket, INVALID_SOCKET, 5000);
        const int before = OpenDescriptors();
        for (int i = 2; i <= 200; ++i) {
            f->Tick(60);
            QVERIFY(QTest::qWaitFor([&] { return v->m_nSuccesses == i; }, 5000));
        }
        QTRY_VERIFY_WITH_TIMEOUT(OpenDescriptors() <= before, 5000);
    }
};

QTEST_MAIN(TestRealProbe)
#include "tst_realprobe.moc"
