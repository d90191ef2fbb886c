#include "CRegistry.h"
#include "HiveTestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kApp = QStringLiteral("Software\\Quellmoor Software\\Bumple");
const QString kAppPath = QStringLiteral("HKEY_LOCAL_MACHINE\\") + kApp;

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

LONG SetText(HKEY hKey, const QByteArray& name, const QByteArray& text) {
    return CRegistry::RegSetValueEx(hKey, name, text.constData(), DWORD(text.size() + 1));
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT

private slots:
    void init();
    void createOrOpen();
    void openMissingFails();
    void badPaths_data();
    void badPaths();
    void bufferLimit_data();
    void bufferLimit();
    void terminatorCounted_data();
    void terminatorCounted();
    void readOnlyKey();
    void handEditSeen();
    void transactedKey();
    void symlinkedHive();
    void modeKept();
    void unreadableHiveIsNotReplaced();
    void readOnlyFolder();
    void concurrentWriters();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRegistry::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("BUMPLE_CONFIG_DIR", m_dir->path().toUtf8());
}

void TestRegistry::createOrOpen() {
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    QCOMPARE(CRegistry::RegCloseKey(hKey), ERROR_SUCCESS);
    const QByteArray created = ReadHiveBytes();
    QVERIFY(created.startsWith("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n"));
    QVERIFY(created.endsWith("\n[" + kAppPath.toUtf8() + "]\n"));

    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp.toUpper(), &hKey, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
    QCOMPARE(CRegistry::RegCloseKey(hKey), ERROR_SUCCESS);
    QCOMPARE(ReadHiveBytes(), created);
    QCOMPARE(CRegistry::RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

void TestRegistry::openMissingFails() {
    HKEY hKey = HKEY_LOCAL_MACHINE;
    QCOMPARE(CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey), ERROR_FILE_NOT_FOUND);
    QCOMPARE(hKey, HKEY(nullptr));
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath()));
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    HKEY hMissing = nullptr;
    QCOMPARE(CRegistry::RegOpenKeyEx(hKey, QStringLiteral("Settings"), &hMissing),
             ERROR_FILE_NOT_FOUND);
    CRegistry::RegCloseKey(hKey);
}

void TestRegistry::badPaths_data() {
    QTest::addColumn<QString>("subKey");
    QTest::newRow("double backslash") << QStringLiteral("Software\\\\Bumple");
    QTest::newRow("leading backslash") << QStringLiteral("\\Software");
    QTest::newRow("trailing backslash") << QStringLiteral("Software\\");
    QTest::newRow("line feed") << QStringLiteral("Soft\nware");
    QTest::newRow("control") << QStringLiteral("Soft\x01ware");
}

void TestRegistry::badPaths() {
    QFETCH(QString, subKey);
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, subKey, &hKey, nullptr),
             ERROR_BAD_PATHNAME);
    QCOMPARE(CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, subKey, &hKey), ERROR_BAD_PATHNAME);
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath()));
}

void TestRegistry::bufferLimit_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<LONG>("result");
    QTest::newRow("empty") << 0 << ERROR_SUCCESS;
    QTest::newRow("259 bytes") << 259 << ERROR_SUCCESS;
    QTest::newRow("260 bytes") << 260 << ERROR_MORE_DATA;
    QTest::newRow("300 bytes") << 300 << ERROR_MORE_DATA;
}

void TestRegistry::bufferLimit() {
    QFETCH(int, length);
    QFETCH(LONG, result);
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    const QByteArray text(length, 'n');
    QCOMPARE(SetText(hKey, "Name", text), ERROR_SUCCESS);
    char buffer[260];
    DWORD size = sizeof buffer;
    QCOMPARE(CRegistry::RegQueryValueEx(hKey, "Name", buffer, &size), result);
    QCOMPARE(size, DWORD(length + 1));
    if (result == ERROR_SUCCESS)
        QCOMPARE(QByteArray(buffer, int(size)), text + '\0');
    CRegistry::RegCloseKey(hKey);
}

void TestRegistry::terminatorCounted_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("with terminator") << QByteArray("abc", 4) << QByteArray("\"V\"=\"abc\"\n");
    QTest::newRow("without terminator") << QByteArray("abc") << QByteArray("\"V\"=\"abc\"\n");
    QTest::newRow("terminator only") << QByteArray("", 1) << QByteArray("\"V\"=\"\"\n");
    QTest::newRow("nothing") << QByteArray() << QByteArray("\"V\"=\"\"\n");
}

void TestRegistry::terminatorCounted() {
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, line);
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    QCOMPARE(CRegistry::RegSetValueEx(hKey, "V", data.constData(), DWORD(data.size())),
             ERROR_SUCCESS);
    CRegistry::RegCloseKey(hKey);
    QVERIFY(ReadHiveBytes().endsWith("]\n" + line));
}

void TestRegistry::readOnlyKey() {
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    CRegistry::RegCloseKey(hKey);
    QCOMPARE(CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey), ERROR_SUCCESS);
    const QByteArray before = ReadHiveBytes();
    QCOMPARE(SetText(hKey, "V", "1"), ERROR_ACCESS_DENIED);
    HKEY hSub = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(hKey, QStringLiteral("Sub"), &hSub, nullptr),
             ERROR_ACCESS_DENIED);
    CRegistry::RegCloseKey(hKey);
    QCOMPARE(ReadHiveBytes(), before);
}

void TestRegistry::handEditSeen() {
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    QCOMPARE(SetText(hKey, "", "before"), ERROR_SUCCESS);
    const QString hive = CConfigFolder::HivePath();
    QByteArray edited = ReadFileBytes(hive).replace("@=\"before\"", "@=\"after\"");
    edited += "\n[" + kAppPath.toUtf8() + "\\ByHand]\n\"Debug\"=\"1\"\n";
    WriteAll(hive, edited);
    char buffer[260];
    DWORD size = sizeof buffer;
    QCOMPARE(CRegistry::RegQueryValueEx(hKey, "", buffer, &size), ERROR_SUCCESS);
    QCOMPARE(QByteArray(buffer), QByteArray("after"));
    HKEY hByHand = nullptr;
    QCOMPARE(CRegistry::RegOpenKeyEx(hKey, QStringLiteral("byhand"), &hByHand), ERROR_SUCCESS);
    size = sizeof buffer;
    QCOMPARE(CRegistry::RegQueryValueEx(hByHand, "Debug", buffer, &size), ERROR_SUCCESS);
    QCOMPARE(QByteArray(buffer), QByteArray("1"));
    size = sizeof buffer;
    QCOMPARE(CRegistry::RegQueryValueEx(hByHand, "Missing", buffer, &size), ERROR_FILE_NOT_FOUND);
    CRegistry::RegCloseKey(hByHand);
    CRegistry::RegCloseKey(hKey);
}

// Nothing of a transacted key reaches the file before its last key is closed, and then all.
void TestRegistry::transactedKey() {
    HKEY hApp = nullptr;
    DWORD disposition = 0;
    QCOMPARE(CRegistry::RegCreateKeyTransacted(HKEY_LOCAL_MACHINE, kApp, &hApp, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    HKEY hSection = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(hApp, QStringLiteral("Settings"), &hSection, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    QCOMPARE(SetText(hSection, "Often", "10"), ERROR_SUCCESS);
    char buffer[260];
    DWORD size = sizeof buffer;
    QCOMPARE(CRegistry::RegQueryValueEx(hSection, "Often", buffer, &size), ERROR_SUCCESS);
    QCOMPARE(QByteArray(buffer), QByteArray("10"));
    QCOMPARE(CRegistry::RegCloseKey(hSection), ERROR_SUCCESS);
    HKEY hOther = nullptr;
    QCOMPARE(CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, &hOther), ERROR_FILE_NOT_FOUND);
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath()));

    QCOMPARE(CRegistry::RegCloseKey(hApp), ERROR_SUCCESS);
    const CRegistryHive hive = ReadHive();
    QCOMPARE(hive.Value(kAppPath + QStringLiteral("\\Settings"), "Often"),
             std::optional<QByteArray>("10"));
}

void TestRegistry::symlinkedHive() {
    const QString target = m_dir->filePath(QStringLiteral("elsewhere/real.reg"));
    QVERIFY(QDir().mkpath(QFileInfo(target).path()));
    WriteAll(target, "REGEDIT4\n\n; kept\n");
    QVERIFY(QFile::link(QStringLiteral("elsewhere/real.reg"), CConfigFolder::HivePath()));
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    QCOMPARE(SetText(hKey, "V", "1"), ERROR_SUCCESS);
    CRegistry::RegCloseKey(hKey);
    QVERIFY(QFileInfo(CConfigFolder::HivePath()).isSymLink());
    const QByteArray content = ReadFileBytes(target);
    QVERIFY(content.startsWith("REGEDIT4\n\n; kept\n"));
    QVERIFY(content.endsWith("\"V\"=\"1\"\n"));
    QVERIFY(!QFileInfo::exists(target + QStringLiteral(".tmp")));
}

void TestRegistry::modeKept() {
    const QString hive = CConfigFolder::HivePath();
    WriteAll(hive, "REGEDIT4\n\n");
    QCOMPARE(::chmod(QFile::encodeName(hive).constData(), 0640), 0);
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr), ERROR_SUCCESS);
    CRegistry::RegCloseKey(hKey);
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(hive).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0640));
}

// A hive that cannot be read must never be replaced by one without its settings.
void TestRegistry::unreadableHiveIsNotReplaced() {
    QVERIFY(QDir().mkpath(CConfigFolder::HivePath()));
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr),
             ERROR_REGISTRY_IO_FAILED);
    QCOMPARE(CRegistry::RegSetValueEx(HKEY_LOCAL_MACHINE, "V", "1", 2), ERROR_REGISTRY_IO_FAILED);
    QVERIFY(QFileInfo(CConfigFolder::HivePath()).isDir());
}

void TestRegistry::readOnlyFolder() {
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp + QStringLiteral("\\Settings"),
                                       &hKey, nullptr),
             ERROR_SUCCESS);
    QCOMPARE(SetText(hKey, "Old", "1"), ERROR_SUCCESS);
    CRegistry::RegCloseKey(hKey);
    const QByteArray before = ReadHiveBytes();
    const QByteArray folder = QFile::encodeName(m_dir->path());
    QProcess writer;
    if (::geteuid() != 0) {
        QCOMPARE(::chmod(folder.constData(), 0555), 0);
        writer.start(HiveWriterPath(),
                     {QStringLiteral("write"), QStringLiteral("New"), QStringLiteral("1")});
    } else {
        // Permission bits do not stop root: write from behind a read-only bind mount instead.
        writer.start(
            QStringLiteral("unshare"),
            {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral("mount --bind -o ro \"$0\" \"$0\" || exit 99; exec \"$1\" write New 1"),
             m_dir->path(), HiveWriterPath()});
    }
    QVERIFY(writer.waitForFinished(30000));
    ::chmod(folder.constData(), 0700);
    if (writer.exitCode() == 99 || writer.exitStatus() != QProcess::NormalExit)
        QSKIP("no read-only bind mount here (unshare -m and mount need root and a permitting "
              "kernel)");
    QCOMPARE(writer.exitCode(), 1);
    QCOMPARE(writer.readAllStandardOutput(), QByteArray());
    QCOMPARE(ReadHiveBytes(), before);
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath() + QStringLiteral(".tmp")));
}

void TestRegistry::concurrentWriters() {
    constexpr int kCount = 100;
    const QStringList prefixes{QStringLiteral("A"), QStringLiteral("B")};
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const QString& prefix : prefixes) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(HiveWriterPath(),
                              {QStringLiteral("write"), prefix, QString::number(kCount)});
    }
    for (const auto& writer : writers) {
        QVERIFY(writer->waitForFinished(60000));
        QCOMPARE(writer->exitCode(), 0);
    }
    const CRegistryHive hive = ReadHive();
    for (const QString& prefix : prefixes) {
        for (int i = 0; i < kCount; ++i) {
            const QByteArray name = (prefix + QString::number(i)).toUtf8();
            QCOMPARE(hive.Value(kAppPath + QStringLiteral("\\Settings"), name),
                     std::optional(QByteArray::number(i)));
        }
    }
}

QTEST_APPLESS_MAIN(TestRegistry)
#include "tst_registry.moc"
