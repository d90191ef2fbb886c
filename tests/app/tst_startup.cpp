#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CFrameWnd.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CQuitSignals.h"
#include "CRegistry.h"
#include "CScriptedFramework.h"
#include "CScriptedShellTray.h"
#include "CScriptedWinsock.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <optional>

// Start-up of the whole program on the scripted platform.
class TestStartup : public QObject {
    Q_OBJECT

    QTemporaryDir* m_pDir = nullptr;
    CScriptedWinsock m_sockets;
    CScriptedShellTray m_tray;
    CScriptedFramework m_framework;
    std::optional<CPlatform::Scope> m_twins;

    void WriteIni(const QByteArray& text) {
        QFile ini(m_pDir->filePath(QStringLiteral("Bumple.INI")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(text);
    }

    // The auto-start, both lookups answered with loopback, and ticks up to the first probe.
    void AutoStartAndProbe(CBumpleView* pView) {
        pView->OnTimer(ID_TIMER_AUTOSTART);
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            m_sockets.CompleteLookup(0, {QStringLiteral("127.0.0.1")});
            QCoreApplication::sendPostedEvents();
            pView->OnTimer(ID_TIMER_TICK);
        }
    }

private slots:
    void init() {
        m_pDir = new QTemporaryDir;
        qputenv("BUMPLE_CONFIG_DIR", m_pDir->path().toUtf8());
        m_tray = CScriptedShellTray();
        m_framework.m_messages.clear();
        m_twins.emplace(&m_sockets, &m_tray, &m_framework);
    }
    void cleanup() {
        m_twins.reset();
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
        AutoStartAndProbe(pView);
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

    // A save still pending at exit is tried once more there.
    void aPendingSaveIsWrittenAtExit() {
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        const QString hive = m_pDir->filePath(QStringLiteral("registry.reg"));
        QVERIFY(QFile::rename(hive, hive + ".saved") && QDir().mkdir(hive));
        QVERIFY(!app.m_pProfileStore->WriteProfileString("Settings", "Often", "5"));
        QVERIFY(QDir().rmdir(hive) && QFile::rename(hive + ".saved", hive));
        QCOMPARE(app.ExitInstance(), 0);
        QFile file(hive);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains("\"Often\"=\"5\""));
    }

    // Options never name a document; the first other argument does.
    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("warning");
        QTest::newRow("nothing") << QStringList() << false << QString();
        QTest::newRow("a document") << QStringList{"@doc"} << true << QString();
        QTest::newRow("unknown options")
            << QStringList{"--bogus", "-x"} << false
            << QStringLiteral("bumple: unknown options ignored: --bogus -x");
        QTest::newRow("an option, then a document")
            << QStringList{"-geometry", "@doc"} << true
            << QStringLiteral("bumple: unknown options ignored: -geometry");
        QTest::newRow("a second document is ignored")
            << QStringList{"@doc", "missing"} << true << QString();
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, shown);
        QFETCH(QString, warning);
        const QString document = m_pDir->filePath(QStringLiteral("some.bumple"));
        QFile file(document);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        arguments.replaceInStrings(QStringLiteral("@doc"), document);
        arguments.prepend(QStringLiteral("bumple"));
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        CBumpleApp app;
        QVERIFY(app.InitInstance(arguments));
        QCOMPARE(CFrameWnd::AfxGetMainWnd()->isVisible(), shown);
        QVERIFY(m_framework.m_messages.isEmpty());
        app.ExitInstance();
    }

    // A logout's SIGTERM, Ctrl+C and a closed terminal end the program as "E&xit" does, a
    // probe in flight included.
    void signalsCloseAsExitDoes_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalsCloseAsExitDoes() {
        QFETCH(int, signal);
        CQuitSignals quitSignals(ID_EXIT);
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        auto* pView = qobject_cast<CBumpleView*>(CFrameWnd::AfxGetMainWnd()->GetActiveView());
        const size_t sent = m_sockets.m_sent.size();
        AutoStartAndProbe(pView);
        QCOMPARE(m_sockets.m_sent.size(), sent + 1);
        QCOMPARE(m_sockets.m_open.size(), size_t(1));
        SendMessage(pView, WM_TRAY_NOTIFY, 129, WM_LBUTTONDBLCLK);
        QVERIFY(CFrameWnd::AfxGetMainWnd()->isVisible());

        QVERIFY(std::raise(signal) == 0);
        QTRY_VERIFY(quitSignals.Received());
        QVERIFY(!CFrameWnd::AfxGetMainWnd()->isVisible());
        QCOMPARE(app.ExitInstance(), 0);
        QVERIFY(!m_tray.m_bShown);
        QVERIFY(m_sockets.m_open.empty());
    }

    // The Help menu opens the help found beside the executable, with a beep when there is
    // none or nothing opens it.
    void helpTopics_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("beeps");
        QTest::newRow("opened") << true << true << 0;
        QTest::newRow("no opener") << true << false << 1;
        QTest::newRow("no help") << false << true << 1;
    }
    void helpTopics() {
        QFETCH(bool, exists);
        QFETCH(bool, opens);
        QFETCH(int, beeps);
        CBumpleApp app;
        QVERIFY(app.InitInstance({QStringLiteral("bumple")}));
        QCOMPARE(app.m_strHelpFilePath,
                 CBumpleApp::HelpFilePath(QCoreApplication::applicationDirPath()));
        app.m_strHelpFilePath = m_pDir->filePath(QStringLiteral("README.md"));
        if (exists) {
            QFile help(app.m_strHelpFilePath);
            QVERIFY(help.open(QIODevice::WriteOnly));
        }
        m_framework.m_bOpenSucceeds = opens;
        m_framework.m_opened.clear();
        m_framework.m_nBeeps = 0;
        SendMessage(CFrameWnd::AfxGetMainWnd(), WM_COMMAND, ID_HELP_FINDER, 0);
        QCOMPARE(m_framework.m_opened,
                 exists ? QStringList{QUrl::fromLocalFile(app.m_strHelpFilePath).toString()}
                        : QStringList());
        QCOMPARE(m_framework.m_nBeeps, beeps);
        app.ExitInstance();
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
