#include "CBumpleApp.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
// Every wait on the program is bounded: a program that hangs fails the test.
constexpr int kWaitMs = 20000;

const QByteArray kHive = "REGEDIT4\r\n"
                         "\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\r\n"
                         "\"AutoStart\"=\"0\"\r\n"
                         "\"ComboName0\"=\"127.0.0.1\"\r\n"
                         "\"ComboNameSel\"=\"0\"\r\n"
                         "\"Often\"=\"3\"\r\n";

QString Binary() {
    return qEnvironmentVariable("BUMPLE_BINARY");
}
} // namespace

// The built program as a user starts it: its command line, its end by a signal, and the
// place its help is found after an install.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The environment of a desktop session that has no display at all.
    static QProcessEnvironment Environment(const QString& display, const QString& configDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("BUMPLE_CONFIG_DIR"), configDir);
        return env;
    }

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(Binary()));
        QVERIFY(m_dir.isValid());
    }

    // Answers that need no display, and the one line when there is none.
    void withoutADisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const QByteArray usage = "Usage: bumple [options] [document]\n";
        QTest::newRow("--help") << QStringList{"--help"} << "" << 0 << usage << QByteArray();
        QTest::newRow("-h") << QStringList{"-h"} << "" << 0 << usage << QByteArray();
        QTest::newRow("--version") << QStringList{"--version"} << "" << 0
                                   << QByteArray("Bumple " BUMPLE_VERSION "\n") << QByteArray();
        QTest::newRow("help wins, after a document")
            << QStringList{"some.file", "--version", "--help"} << "" << 0 << usage << QByteArray();
        QTest::newRow("no display")
            << QStringList() << "" << 1 << QByteArray()
            << QByteArray("bumple: no display to open: neither DISPLAY nor WAYLAND_DISPLAY is "
                          "set\n");
        QTest::newRow("a display nobody serves")
            << QStringList{"--bogus"} << ":97" << 1 << QByteArray()
            << QByteArray("bumple: cannot open the display (DISPLAY=:97, WAYLAND_DISPLAY unset)\n");
    }
    void withoutADisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        const QTemporaryDir configDir;
        QProcess program;
        program.setProcessEnvironment(Environment(display, configDir.path()));
        program.start(Binary(), arguments);
        QVERIFY(program.waitForFinished(kWaitMs));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QByteArray stdOut = program.readAllStandardOutput();
        QVERIFY2(stdOut.startsWith(out), stdOut.constData());
        QCOMPARE(stdOut.isEmpty(), out.isEmpty());
        QCOMPARE(program.readAllStandardError(), err);
        // Nothing is read or written before there is a display.
        QVERIFY(QDir(configDir.path()).isEmpty());
    }

    // A running program, its unknown options warned about, ends cleanly on each signal and
    // leaves its settings byte for byte as they were.
    void signalsEndTheProgramCleanly_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalsEndTheProgramCleanly() {
        QFETCH(int, signal);
        const QString hivePath = m_dir.filePath(QStringLiteral("registry.reg"));
        QFile hive(hivePath);
        QVERIFY(hive.open(QIODevice::WriteOnly | QIODevice::Truncate));
        hive.write(kHive);
        hive.close();
        QProcess program;
        program.setProcessEnvironment(Environment(QString(), m_dir.path()));
        program.setReadChannel(QProcess::StandardError);
        // Qt's own options are Qt's: neither warned about nor taken for a document.
        program.start(Binary(), {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                 QStringLiteral("--bogus"), QStringLiteral("-x")});
        QVERIFY(program.waitForStarted(kWaitMs));
        // The warning comes from the start-up, after the handlers are in place.
        const QByteArray warning = "bumple: unknown options ignored: --bogus -x\n";
        QByteArray err;
        while (!err.contains(warning) && program.waitForReadyRead(kWaitMs))
            err += program.readAllStandardError();
        QVERIFY2(err.contains(warning), err.constData());
        QVERIFY(::kill(pid_t(program.processId()), signal) == 0);
        QVERIFY(program.waitForFinished(kWaitMs));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(hive.open(QIODevice::ReadOnly));
        QCOMPARE(hive.readAll(), kHive);
    }

    // After an install into any prefix the program finds its help, and the menu entry, the
    // icons and the manual page are where the desktop looks for them.
    void anInstallFindsItsHelp() {
        QTemporaryDir prefix;
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(qEnvironmentVariable("CMAKE_COMMAND"),
                      {QStringLiteral("--install"), qEnvironmentVariable("BUMPLE_BUILD_DIR"),
                       QStringLiteral("--prefix"), prefix.path()});
        QVERIFY(install.waitForFinished(kWaitMs));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());

        const QString help = CBumpleApp::HelpFilePath(prefix.filePath(QStringLiteral("bin")));
        QCOMPARE(help, prefix.filePath(QStringLiteral("share/doc/bumple/docs/manual.html")));
        QFile installed(help);
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QFile source(QStringLiteral(BUMPLE_SOURCE_DIR "/docs/manual.html"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), source.readAll());
        for (const char* path :
             {"bin/bumple", "share/applications/example.quellmoor.Bumple.desktop",
              "share/metainfo/example.quellmoor.Bumple.metainfo.xml",
              "share/icons/hicolor/48x48/apps/bumple.png",
              "share/icons/hicolor/16x16/apps/bumple-stopped.png",
              "share/icons/hicolor/scalable/apps/bumple-waiting.svg", "share/man/man1/bumple.1.gz",
              "share/doc/bumple/README.md", "share/doc/bumple/LICENSE",
              "share/doc/bumple/copyright", "share/doc/bumple/docs/screenshots/form.png"})
            QVERIFY2(QFile::exists(prefix.filePath(QString::fromLatin1(path))), path);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
