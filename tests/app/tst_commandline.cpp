#include "CBumpleApp.h"
#include "CLoopbackServer.h"
#include "CNetworkSandbox.h"
#include "CViewFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

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

    static void Start(QProcess& program, const QString& configDir, QStringList arguments) {
        program.setProcessEnvironment(Environment(QString(), configDir));
        program.start(Binary(), arguments << QStringLiteral("-platform") << "offscreen");
    }
    // A command to the Bumple that runs with the settings in configDir; the test's server is
    // served meanwhile. The exit code and what it printed.
    static std::pair<int, QByteArray> Command(const QString& configDir, QStringList arguments) {
        QProcess command;
        Start(command, configDir, arguments);
        CViewFixture::WaitFor([&] { return command.state() == QProcess::NotRunning; }, kWaitMs);
        return {command.exitCode(), command.readAllStandardOutput()};
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

    // The commands of scripts and status bars against a running Bumple (Often 3 minutes: only
    // the first probe is scheduled), in each state, and once no Bumple runs.
    void commandsToTheRunningBumple_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("serve");
        QTest::addColumn<int>("status"); // exit code
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<int>("probeNow"); // exit code
        const QByteArray on = "\"AutoStart\"=\"1\"\r\n";
        // clang-format off
        QTest::newRow("stopped") << QByteArray("\"AutoStart\"=\"0\"\r\n") << true << 0
            << "stopped" << "none yet" << "stopped" << 1;
        QTest::newRow("answered") << on << true << 0 << "running" << "answered" << "running" << 0;
        QTest::newRow("failed, under its box")
            << on + "\"Ignore\"=\"0\"\r\n\"ComboName1\"=\"127.0.0.2\"\r\n" << false << 1
            << "running" << "connect failure" << "running" << 0;
        QTest::newRow("down") << on << false << 2 << "running" << "connect failure" << "down" << 0;
        // clang-format on
    }
    void commandsToTheRunningBumple() {
        QFETCH(QByteArray, settings);
        QFETCH(bool, serve);
        QFETCH(int, status);
        QFETCH(QString, state);
        QFETCH(QString, last);
        QFETCH(QString, cls);
        QFETCH(int, probeNow);
        REQUIRE_NETWORK_SANDBOX();
        // Without a server every connect is refused.
        std::optional<CLoopbackServer> server;
        if (serve)
            server.emplace(CLoopbackServer::Reply);
        QTemporaryDir dir;
        QFile hive(dir.filePath(QStringLiteral("registry.reg")));
        QVERIFY(hive.open(QIODevice::WriteOnly));
        hive.write(QByteArray(kHive).replace("\"AutoStart\"=\"0\"\r\n", settings));
        hive.close();
        QCOMPARE(Command(dir.path(), {"--status"}).first, 3);
        QProcess bumple;
        Start(bumple, dir.path(), {});
        // Once the first probe's outcome is in, or at once when none is scheduled.
        QByteArray text;
        QVERIFY(CViewFixture::WaitFor(
            [&] {
                const auto [code, out] = Command(dir.path(), {"--status"});
                text = out;
                return code == status && out.contains("Last probe: " + last.toUtf8());
            },
            kWaitMs));
        QVERIFY2(text.startsWith("State: " + state.toUtf8() + "\nNext probe in: "), text);
        // A failing name is retried every second: the JSON is compared with the text read on
        // either side of it, once the two agree.
        QJsonObject json;
        QVERIFY(CViewFixture::WaitFor(
            [&] {
                const QByteArray before = Command(dir.path(), {"--status"}).second;
                json = QJsonDocument::fromJson(Command(dir.path(), {"--status", "--json"}).second)
                           .object();
                text = Command(dir.path(), {"--status"}).second;
                return before == text;
            },
            kWaitMs));
        QCOMPARE(json.value("class").toString(), cls);
        QCOMPARE(json.value("alt").toString(), cls);
        QCOMPARE(json.value("tooltip").toString() + '\n', QString::fromUtf8(text));
        QCOMPARE(json.value("text").toString().contains(':'), state == "running");
        QProcess follow;
        Start(follow, dir.path(), {"--follow"});
        QVERIFY(CViewFixture::WaitFor([&] { return follow.canReadLine(); }, kWaitMs));
        const size_t requests = serve ? server->m_received.size() : 0;
        // Asked again only when it came in the instant a connect was pending.
        QVERIFY(CViewFixture::WaitFor(
            [&] { return Command(dir.path(), {"--probe-now"}).first == probeNow; }, kWaitMs));
        if (probeNow == 0 && serve)
            QVERIFY(CViewFixture::WaitFor([&] { return server->m_received.size() == requests + 1; },
                                          kWaitMs));
        QCOMPARE(Command(dir.path(), {"--quit"}).first, 0);
        QVERIFY(CViewFixture::WaitFor([&] { return bumple.state() == QProcess::NotRunning; }));
        QCOMPARE(bumple.exitCode(), 0);
        QVERIFY(CViewFixture::WaitFor([&] { return follow.state() == QProcess::NotRunning; }));
        QCOMPARE(follow.exitCode(), 3);
        // One line for each change: never the same line twice in a row.
        const QList<QByteArray> lines = follow.readAllStandardOutput().split('\n');
        QVERIFY(lines.size() >= 2);
        for (qsizetype i = 1; i < lines.size(); ++i)
            QVERIFY(lines[i] != lines[i - 1]);
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
