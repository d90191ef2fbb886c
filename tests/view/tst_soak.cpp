#include "CBumpleView.h"
#include "CNetworkSandbox.h"
#include "CViewFixture.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef __has_feature
#define __has_feature(x) 0
#endif

// Thousands of probe cycles on real loopback sockets: descriptors and memory stay put. The
// server runs in a process of its own, so that what it keeps is not counted as the engine's.
class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void init() { REQUIRE_NETWORK_SANDBOX(); }

    void thousandsOfProbes() {
        const int probes = qEnvironmentVariableIntValue("BUMPLE_SOAK_PROBES") > 0
                               ? qEnvironmentVariableIntValue("BUMPLE_SOAK_PROBES")
                               : 2000;
        QTemporaryDir dir;
        const QString ready = dir.filePath(QStringLiteral("ready"));
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral("python3"),
                     {QStringLiteral(BUMPLE_LOOPBACK_SERVER), QStringLiteral("--log"),
                      dir.filePath(QStringLiteral("server.log")), QStringLiteral("--ready"), ready,
                      QStringLiteral("--max-seconds"), QStringLiteral("600")});
        QVERIFY2(server.waitForStarted(10000), qPrintable(server.errorString()));
        QVERIFY(CViewFixture::WaitFor([&] { return QFileInfo::exists(ready); }, 10000));
        auto f = CViewFixture::OnRealSockets({QStringLiteral("127.0.0.1")});
        CBumpleView* v = f->m_pView;
        QVERIFY(f->StartAndArm());
        // A first cycle warms every cache up before the figures are taken.
        f->Tick();
        QTRY_COMPARE_WITH_TIMEOUT(v->m_nSuccesses, 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(v->m_socket == INVALID_SOCKET, 5000);
        const int descriptors = CViewFixture::OpenDescriptors();
        const long resident = CViewFixture::ResidentKiB();
        for (int i = 2; i <= probes + 1; ++i) {
            // What the scripted tray and the fixture record is the test's, not the engine's.
            f->m_tray.m_calls.clear();
            f->m_statusLog.clear();
            f->Tick(60);
            QVERIFY2(CViewFixture::WaitFor([&] { return v->m_nSuccesses == i; }),
                     qPrintable(QStringLiteral("probe %1 did not complete").arg(i)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(v->m_socket == INVALID_SOCKET, 5000);
        const int descriptorsAfter = CViewFixture::OpenDescriptors();
        const long residentAfter = CViewFixture::ResidentKiB();
        qInfo("%d probes: descriptors %d -> %d, resident %ld KiB -> %ld KiB", probes, descriptors,
              descriptorsAfter, resident, residentAfter);
        QVERIFY(descriptorsAfter <= descriptors);
#if !defined(__SANITIZE_ADDRESS__) && !__has_feature(address_sanitizer)
        // AddressSanitizer holds freed memory back, so only a plain build can tell.
        QVERIFY2(residentAfter - resident < 1024, "resident memory grew by 1 MiB or more");
#endif
        QCOMPARE(v->m_nHttpFailures + v->m_nSocketFailures + v->m_nDnsFailures, 0);
        server.kill();
        server.waitForFinished(10000);
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
