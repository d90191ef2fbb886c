#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CFrameWnd.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CRegistry.h"
#include "CScriptedFramework.h"
#include "CScriptedShellTray.h"
#include "CScriptedWinsock.h"
#include "CWindowMessage.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Start-up of the whole program on the scripted platform.
class TestStartup : public QObject {
    Q_OBJECT

    QTemporaryDir* m_pDir = nullptr;
    CScriptedWinsock m_sockets;
    CScriptedShellTray m_tray;
    CScriptedFramework m_framework;

    void WriteIni(const QByteArray& text) {
        QFile ini(m_pDir->filePath(QStringLiteral("Bumple.INI")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(text);
    }

private slots:
    void init() {
        m_pDir = new QTemporaryDir;
        qputenv("BUMPLE_CONFIG_DIR", m_pDir->path().toUtf8());
        m_tray = CScriptedShellTray();
        m_framework.m_messages.clear();
        CPlatform::Install(&m_sockets, &m_tray, &m_framework);
    }
    void cleanup() {
        CPlatform::Install(nullptr, nullptr, nullptr);
        delete m_pDir;
    }

    // Runs first: once any test has loaded the font database it stays loaded. A start that
    // stays hidden, auto-start and a probe included, never loads it (it costs a hidden
    // start more than everything else together); showing the window does.
    void aHiddenStartLoadsNoFont() {
        const auto fontCacheMapped = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            return maps.open(QIODevice::ReadOnly | QIODevice::Text) &&
                   QString::fromLocal8Bit(maps.readAll())
                       .contains(QRegularExpression(QStringLiteral("fontconfig/\\S+\\.cache-")));
        };
        QVERIFY(!fontCacheMapped());
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        auto* pView = qobject_cast<CBumpleView*>(CFrameWnd::AfxGetMainWnd()->GetActiveView());
        pView->OnTimer(ID_TIMER_AUTOSTART);
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            m_sockets.CompleteLookup(0, {QStringLiteral("127.0.0.1")});
            QCoreApplication::sendPostedEvents();
            pView->OnTimer(ID_TIMER_TICK);
        }
        QCOMPARE(m_sockets.m_sent.size(), size_t(1));
        m_sockets.PostEvent(m_sockets.LastSocket(), FD_READ);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pView->m_nSuccesses, 1);
        QVERIFY(!fontCacheMapped());
        SendMessage(pView, WM_TRAY_NOTIFY, 129, WM_LBUTTONDBLCLK);
        QVERIFY(CFrameWnd::AfxGetMainWnd()->isVisible());
        const bool watched = fontCacheMapped();
        app.ExitInstance();
        if (!watched)
            QSKIP("no font cache on this machine to tell a loaded font database by");
    }

    void legacyFileIsImportedOnlyOnTheFirstRun() {
        WriteIni("[Settings]\nOften=10\nComboName0=127.0.0.1\n");
        {
            CBumpleApp app;
            QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
            QCOMPARE(app.m_pProfileStore->GetProfileString("Settings", "Often"),
                     QStringLiteral("10"));
            auto* pView = qobject_cast<CBumpleView*>(CFrameWnd::AfxGetMainWnd()->GetActiveView());
            QCOMPARE(pView->m_strPeriod, QStringLiteral("10"));
            QVERIFY(CFrameWnd::AfxGetMainWnd()->isHidden());
            QVERIFY(m_tray.m_bShown);
            QCOMPARE(m_tray.m_strTip, QStringLiteral("Bumple"));
            QCOMPARE(app.ExitInstance(), 0);
            QVERIFY(!m_tray.m_bShown);
        }
        WriteIni("[Settings]\nOften=20\n");
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        QCOMPARE(app.m_pProfileStore->GetProfileString("Settings", "Often"), QStringLiteral("10"));
        app.ExitInstance();
    }

    void aFileArgumentShowsTheWindow() {
        const QString document = m_pDir->filePath(QStringLiteral("some.bumple"));
        QFile file(document);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple"), document}));
        QVERIFY(CFrameWnd::AfxGetMainWnd()->isVisible());
        app.ExitInstance();
    }

    // A settings file too large to be one: defaults, one message box, and the file untouched.
    void aHiveTooLargeIsNeitherReadNorWritten() {
        const QString hive = m_pDir->filePath(QStringLiteral("registry.reg"));
        QFile file(hive);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\"
                   "Settings]\n\"Often\"=\"10\"\n");
        QVERIFY(file.resize(CRegistry::kMaxHiveSize + 1));
        file.close();
        const QDateTime modified = QFileInfo(hive).lastModified();
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        auto* pView = qobject_cast<CBumpleView*>(CFrameWnd::AfxGetMainWnd()->GetActiveView());
        QCOMPARE(pView->m_strPeriod, QStringLiteral("25"));
        QVERIFY(!app.m_pProfileStore->WriteProfileString("Settings", "Often", "5"));
        QCOMPARE(m_framework.m_messages.size(), 1);
        QVERIFY(m_framework.m_messages.first().contains(QLatin1String("larger than 16 MiB")));
        app.ExitInstance();
        QCOMPARE(QFileInfo(hive).size(), CRegistry::kMaxHiveSize + 1);
        QCOMPARE(QFileInfo(hive).lastModified(), modified);
    }

    void anUnreadableFileArgumentEndsTheProgram() {
        CBumpleApp app;
        QVERIFY(!app.InitInstance({QStringLiteral("bumple"), m_pDir->filePath("missing")}));
        QCOMPARE(m_framework.m_messages.size(), 1);
        app.ExitInstance();
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
