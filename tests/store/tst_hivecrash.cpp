#include "HiveTestFiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// Fixed, so that a failure comes back at the same kill when run again.
constexpr quint32 kSeed = 20240611;
const QString kApp = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple");
const QString kSettings = kApp + QStringLiteral("\\Settings");

std::unique_ptr<QProcess> StartHelper(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->start(HiveWriterPath(), arguments);
    return process;
}

std::unique_ptr<QProcess> StartWriter(const QString& prefix, int count) {
    return StartHelper({QStringLiteral("write"), prefix, QString::number(count)});
}

// Every line the process printed in full.
QStringList PrintedLines(QProcess& process) {
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeLast(); // empty, or a line a kill cut short
    return lines;
}

QStringList KillAndCollect(QProcess& process) {
    process.kill();
    process.waitForFinished(10000);
    return PrintedLines(process);
}

struct Run {
    quint32 killSpan; // microseconds to spread kills over: the run's length and a quarter more
    QStringList printed;
};

Run RunToEnd(const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    const auto process = StartHelper(arguments);
    process->waitForFinished(30000);
    return {quint32(timer.nsecsElapsed() / 800), PrintedLines(*process)};
}

// A legacy file whose import makes a hive of some size, so that kills land inside the write.
void WriteLegacyIni() {
    QByteArray ini;
    for (int section = 0; section < 10; ++section) {
        ini += "[Section" + QByteArray::number(section) + "]\n";
        for (int value = 0; value < 20; ++value)
            ini +=
                "Name" + QByteArray::number(value) + "=Value " + QByteArray::number(value) + "\n";
    }
    QFile file(CConfigFolder::WindowsDirectory() + QStringLiteral("/Bumple.INI"));
    if (file.open(QIODevice::WriteOnly))
        file.write(ini);
}

bool HoldsWholeIni(const CRegistryHive& hive) {
    for (int section = 0; section < 10; ++section) {
        for (int value = 0; value < 20; ++value) {
            const QString key = kApp + QStringLiteral("\\Section%1").arg(section);
            if (hive.Value(key, "Name" + QByteArray::number(value)) !=
                "Value " + QByteArray::number(value))
                return false;
        }
    }
    return true;
}

} // namespace

class TestHiveCrash : public QObject {
    Q_OBJECT

private slots:
    void init();
    void killedWriter();
    void concurrentWritersKilledAtRandom();
    void fullDisk();
    void killedFirstStart();
    void killedListWriter();

private:
    // The hive is whole and holds every value whose write was reported.
    void CheckHolds(const QSet<QString>& reported);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHiveCrash::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("BUMPLE_CONFIG_DIR", m_dir->path().toUtf8());
}

void TestHiveCrash::CheckHolds(const QSet<QString>& reported) {
    const QByteArray bytes = ReadHiveBytes();
    if (reported.isEmpty() && bytes.isEmpty())
        return;
    QVERIFY(bytes.startsWith("REGEDIT4\n\n"));
    QVERIFY(bytes.endsWith('\n'));
    const CRegistryHive hive = CRegistryHive::Parse(bytes);
    for (const QString& name : reported) {
        if (!hive.Value(kSettings, name.toUtf8()).has_value())
            QFAIL(qPrintable(QStringLiteral("reported value %1 is lost").arg(name)));
    }
}

void TestHiveCrash::killedWriter() {
    const Run whole =
        RunToEnd({QStringLiteral("write"), QStringLiteral("Whole"), QStringLiteral("10")});
    QCOMPARE(whole.printed.size(), 10);
    QSet<QString> reported(whole.printed.begin(), whole.printed.end());
    QRandomGenerator random(kSeed);
    int insideWrite = 0;
    for (int kill = 0; kill < 100; ++kill) {
        const auto writer = StartWriter(QStringLiteral("K%1_").arg(kill), 10);
        QVERIFY(writer->waitForStarted(10000));
        QThread::usleep(random.bounded(whole.killSpan));
        for (const QString& name : KillAndCollect(*writer))
            reported.insert(name);
        CheckHolds(reported);
        insideWrite +=
            QFileInfo::exists(CConfigFolder::HivePath() + QStringLiteral(".tmp")) ? 1 : 0;
    }
    qInfo("%d of 100 kills left a temporary file: they hit a write before its rename", insideWrite);
    // A writer that runs to its end cleans up what the killed ones left behind.
    const auto last = StartWriter(QStringLiteral("Last"), 5);
    QVERIFY(last->waitForFinished(30000));
    QCOMPARE(last->exitCode(), 0);
    for (int i = 0; i < 5; ++i)
        reported.insert(QStringLiteral("Last%1").arg(i));
    CheckHolds(reported);
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath() + QStringLiteral(".tmp")));
}

void TestHiveCrash::concurrentWritersKilledAtRandom() {
    const Run whole =
        RunToEnd({QStringLiteral("write"), QStringLiteral("Whole"), QStringLiteral("10")});
    QSet<QString> reported(whole.printed.begin(), whole.printed.end());
    QRandomGenerator random(kSeed);
    std::vector<std::unique_ptr<QProcess>> writers;
    int started = 0;
    for (int slot = 0; slot < 4; ++slot)
        writers.push_back(StartWriter(QStringLiteral("C%1_").arg(started++), 10));
    for (int kill = 0; kill < 60; ++kill) {
        QThread::usleep(random.bounded(whole.killSpan));
        auto& writer = writers[random.bounded(4)];
        for (const QString& name : KillAndCollect(*writer))
            reported.insert(name);
        CheckHolds(reported);
        writer = StartWriter(QStringLiteral("C%1_").arg(started++), 10);
    }
    for (auto& writer : writers) {
        for (const QString& name : KillAndCollect(*writer))
            reported.insert(name);
    }
    CheckHolds(reported);
}

// A write that does not fit on the disk fails and leaves the hive as it was.
void TestHiveCrash::fullDisk() {
    const QString mountPoint = m_dir->filePath(QStringLiteral("small"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(mountPoint));
    QVERIFY(QDir().mkpath(out));
    const QString script = QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$0\" || exit 99\n"
                                          "echo mounted\n"
                                          "\"$1\" write Fill 1 20000 || exit 98\n"
                                          "cp \"$0/registry.reg\" \"$2/before\"\n"
                                          "\"$1\" write Big 1 50000; echo \"big=$?\"\n"
                                          "cp \"$0/registry.reg\" \"$2/after\"\n"
                                          "ls -a \"$0\" > \"$2/listing\"\n"
                                          "\"$1\" write Small 1; echo \"small=$?\"\n");
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BUMPLE_CONFIG_DIR"), mountPoint);
    shell.setProcessEnvironment(environment);
    shell.start(QStringLiteral("unshare"),
                {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                 mountPoint, HiveWriterPath(), out});
    QVERIFY(shell.waitForFinished(60000));
    const QByteArray output = shell.readAllStandardOutput();
    if (!output.contains("mounted"))
        QSKIP(
            qPrintable(QStringLiteral("cannot mount a small tmpfs (needs root and unshare -m): ") +
                       QString::fromLocal8Bit(shell.readAllStandardError())));
    QCOMPARE(shell.exitCode(), 0);
    QVERIFY(output.contains("big=1\n"));
    QVERIFY(output.contains("small=0\n"));
    const QByteArray before = ReadFileBytes(out + QStringLiteral("/before"));
    QVERIFY(before.contains("\"Fill0\"="));
    QCOMPARE(ReadFileBytes(out + QStringLiteral("/after")), before);
    QVERIFY(!ReadFileBytes(out + QStringLiteral("/listing")).contains("registry.reg.tmp"));
}

// A first start killed at any moment leaves either no application key, so that the next start
// imports everything, or the whole import.
void TestHiveCrash::killedFirstStart() {
    // Kills are spread over the time a whole first start takes here.
    const quint32 killSpan = [] {
        QTemporaryDir dir;
        qputenv("BUMPLE_CONFIG_DIR", dir.path().toUtf8());
        WriteLegacyIni();
        return RunToEnd({QStringLiteral("start")}).killSpan;
    }();
    QRandomGenerator random(kSeed);
    int untouched = 0;
    for (int kill = 0; kill < 50; ++kill) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("BUMPLE_CONFIG_DIR", dir.path().toUtf8());
        WriteLegacyIni();

        const auto first = StartHelper({QStringLiteral("start")});
        QVERIFY(first->waitForStarted(10000));
        QThread::usleep(random.bounded(killSpan));
        KillAndCollect(*first);
        const bool keyMade = ReadHive().HasKey(kApp);
        QVERIFY(!keyMade || HoldsWholeIni(ReadHive()));
        untouched += keyMade ? 0 : 1;

        const auto next = StartHelper({QStringLiteral("start")});
        QVERIFY(next->waitForFinished(30000));
        QCOMPARE(next->exitCode(), 0);
        QCOMPARE(next->readAllStandardOutput(),
                 keyMade ? QByteArray("existing\n") : QByteArray("new\n"));
        QVERIFY(HoldsWholeIni(ReadHive()));
    }
    qInfo("%d of 50 first starts were killed before their write", untouched);
}

// A name list written as one unit and killed at any moment: the hive holds the whole list of
// one round, never names of two rounds or a selection of another.
void TestHiveCrash::killedListWriter() {
    constexpr int kLength = 8;
    const QString length = QString::number(kLength);
    const Run whole = RunToEnd({QStringLiteral("list"), QStringLiteral("5"), length});
    QCOMPARE(whole.printed.size(), 5);
    QRandomGenerator random(kSeed);
    int mixed = 0;
    for (int kill = 0; kill < 60; ++kill) {
        const auto writer = StartHelper({QStringLiteral("list"), QStringLiteral("20"), length});
        QVERIFY(writer->waitForStarted(10000));
        QThread::usleep(random.bounded(2 * whole.killSpan));
        const QStringList printed = KillAndCollect(*writer);
        const CRegistryHive hive = ReadHive();
        const QByteArray round = hive.Value(kSettings, "ComboNameSel").value_or("none");
        for (int i = 0; i < kLength; ++i) {
            const QByteArray name = "ComboName" + QByteArray::number(i);
            mixed += hive.Value(kSettings, name) == round + '.' + QByteArray::number(i) ? 0 : 1;
        }
        // The last round reported is in the file, or the one after it that was not reported.
        if (!printed.isEmpty())
            QVERIFY(round.toInt() >= printed.last().toInt());
    }
    QCOMPARE(mixed, 0);
}

QTEST_APPLESS_MAIN(TestHiveCrash)
#include "tst_hivecrash.moc"
