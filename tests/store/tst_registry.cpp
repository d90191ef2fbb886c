#include "CRegistry.h"
#include "HiveTestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
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

// Sets the value under the application key, as its own change.
LONG SetAppValue(const QByteArray& name, const QByteArray& text) {
    HKEY hKey = nullptr;
    LONG result = CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr);
    if (result == ERROR_SUCCESS)
        result = SetText(hKey, name, text);
    CRegistry::RegCloseKey(hKey);
    return result;
}

std::optional<QByteArray> AppValue(const QByteArray& name) {
    HKEY hKey = nullptr;
    if (CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey) != ERROR_SUCCESS)
        return std::nullopt;
    char buffer[260];
    DWORD size = sizeof buffer;
    const LONG result = CRegistry::RegQueryValueEx(hKey, name, buffer, &size);
    CRegistry::RegCloseKey(hKey);
    return result == ERROR_SUCCESS ? std::optional(QByteArray(buffer)) : std::nullopt;
}

QString LockPath() {
    return CConfigFolder::HivePath() + QStringLiteral(".lock");
}

// Calls logged to log; fault makes the file system fail (see preload_fsynclog.cpp).
QProcessEnvironment Preloaded(const QString& log, const QString& fault) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"),
                       qEnvironmentVariable("BUMPLE_TEST_BINARY_DIR") +
                           QStringLiteral("/libpreload_fsynclog.so"));
    environment.insert(QStringLiteral("BUMPLE_FSYNC_LOG"), log);
    environment.insert(QStringLiteral("BUMPLE_FAULT"), fault);
    return environment;
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
    void modeKept_data();
    void modeKept();
    void longPath_data();
    void longPath();
    void unreadableHiveIsNotReplaced();
    void readOnlyFolder();
    void concurrentWriters();
    void lockIsNoLink_data();
    void lockIsNoLink();
    void foreignLockFile_data();
    void foreignLockFile();
    void heldLock();
    void tooLarge();
    void exportRewrittenAtFirstChange();
    void folderNameNotUtf8();
    void syncedBeforeSuccess();

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

void TestRegistry::modeKept_data() {
    QTest::addColumn<bool>("betweenSaves");
    QTest::newRow("before the first save") << false;
    QTest::newRow("between two saves") << true;
}

void TestRegistry::modeKept() {
    QFETCH(bool, betweenSaves);
    const QString hive = CConfigFolder::HivePath();
    WriteAll(hive, "REGEDIT4\n\n");
    if (betweenSaves) // saved, and read again as it is now
        QVERIFY(SetAppValue("V", "1") == ERROR_SUCCESS && AppValue("V"));
    QCOMPARE(::chmod(QFile::encodeName(hive).constData(), 0640), 0);
    QCOMPARE(SetAppValue("V", "2"), ERROR_SUCCESS);
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(hive).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0640));
}

void TestRegistry::longPath_data() {
    QTest::addColumn<int>("length");
    QTest::newRow("a folder of 4080 bytes") << 4080;
    QTest::newRow("a folder of 4200 bytes") << 4200;
}

// A folder path near or past PATH_MAX saves as it reads.
void TestRegistry::longPath() {
    QFETCH(int, length);
    QByteArray folder = QFile::encodeName(m_dir->path());
    while (length - 1 - folder.size() > 255)
        folder += '/' + QByteArray(200, 'd');
    qputenv("BUMPLE_CONFIG_DIR", folder + '/' + QByteArray(length - 1 - folder.size(), 'e'));
    QCOMPARE(CConfigFolder::Path().size(), length);
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    QCOMPARE(AppValue("V"), std::optional<QByteArray>("1"));
    QCOMPARE(QProcess::execute("rm", {"-rf", m_dir->filePath(QString(200, 'd'))}), 0);
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

void TestRegistry::lockIsNoLink_data() {
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file") << true;
    QTest::newRow("dangling link") << false;
}

// A link planted as the lock file is neither followed nor used to create its target.
void TestRegistry::lockIsNoLink() {
    QFETCH(bool, targetExists);
    const QString victim = m_dir->filePath(QStringLiteral("victim"));
    if (targetExists)
        WriteAll(victim, "precious");
    QVERIFY(QFile::link(victim, LockPath()));
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    QCOMPARE(AppValue("V"), std::optional<QByteArray>("1"));
    QCOMPARE(QFileInfo::exists(victim), targetExists);
    if (targetExists)
        QCOMPARE(ReadFileBytes(victim), QByteArray("precious"));
    QVERIFY(QFileInfo(LockPath()).isSymLink());
}

void TestRegistry::foreignLockFile_data() {
    QTest::addColumn<int>("rootWrites");
    QTest::addColumn<QString>("fault");
    QTest::newRow("left behind") << 0 << QString();
    QTest::newRow("both users saving at once") << 50 << QString();
    QTest::newRow("on NFS") << 0 << QStringLiteral("nfs");
    QTest::newRow("without locks") << 0 << QStringLiteral("nolock");
    QTest::newRow("folder not writable") << 0 << QStringLiteral("folder");
}

// A lock file that only another user may open (one "sudo bumple" leaves it behind) neither
// locks this user's saves out nor lets them run unlocked beside that user's.
void TestRegistry::foreignLockFile() {
    QFETCH(int, rootWrites);
    QFETCH(QString, fault);
    QCOMPARE(SetAppValue("Before", "1"), ERROR_SUCCESS);
    const QByteArray lock = QFile::encodeName(LockPath());
    QVERIFY(QFileInfo::exists(LockPath()));
    const QString count = QString::number(std::max(rootWrites, 1));
    QProcess writer;
    writer.setProcessEnvironment(Preloaded(m_dir->filePath(QStringLiteral("log")), fault));
    const QByteArray folder = QFile::encodeName(m_dir->path());
    QCOMPARE(::chmod(folder.constData(), fault == "folder" ? 0555 : 0700), 0);
    QProcess rootWriter;
    if (::geteuid() == 0) {
        // The lock stays root's own, mode 0600; the folder and hive become nobody's.
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr)
            QSKIP("no user nobody");
        QCOMPARE(::chmod(lock.constData(), 0600), 0);
        for (const QByteArray& path : {folder, CConfigFolder::HivePath()})
            QCOMPARE(::chown(path.constData(), nobody->pw_uid, nobody->pw_gid), 0);
        writer.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                      QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                      QStringLiteral("--clear-groups"), HiveWriterPath(), QStringLiteral("write"),
                      QStringLiteral("After"), count});
        if (rootWrites > 0)
            rootWriter.start(HiveWriterPath(),
                             {QStringLiteral("write"), QStringLiteral("Root"), count});
    } else {
        if (rootWrites > 0)
            QSKIP("a second user needs root");
        QCOMPARE(::chmod(lock.constData(), 0), 0);
        writer.start(HiveWriterPath(),
                     {QStringLiteral("write"), QStringLiteral("After"), QStringLiteral("1")});
    }
    QVERIFY(writer.waitForFinished(30000));
    ::chmod(folder.constData(), 0700);
    QVERIFY(rootWrites == 0 || (rootWriter.waitForFinished(30000) && rootWriter.exitCode() == 0));
    QCOMPARE(writer.exitCode(), 0);
    // Saved all the same, unlocked after one warning where no lock can be had.
    QCOMPARE(writer.readAllStandardError().count("saved without a lock"),
             int(fault == "nfs" || fault == "nolock"));
    const CRegistryHive hive = ReadHive();
    const QString settings = kAppPath + QStringLiteral("\\Settings");
    for (int i = 0; i < count.toInt(); ++i) {
        QCOMPARE(hive.Value(settings, "After" + QByteArray::number(i)),
                 std::optional(QByteArray::number(i)));
        if (rootWrites > 0)
            QCOMPARE(hive.Value(settings, "Root" + QByteArray::number(i)),
                     std::optional(QByteArray::number(i)));
    }
    QCOMPARE(hive.Value(kAppPath, "Before"), std::optional<QByteArray>("1"));
}

// A lock that another process holds fails a change after a short wait, instead of freezing
// the program; a write that changes nothing needs no lock at all.
void TestRegistry::heldLock() {
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    const QByteArray before = ReadHiveBytes();
    QVERIFY(QFile::remove(LockPath()));
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    QVERIFY(!QFileInfo::exists(LockPath()));

    const int holder = ::open(QFile::encodeName(LockPath()).constData(), O_RDWR | O_CREAT, 0644);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX), 0);
    QCOMPARE(SetAppValue("V", "2"), ERROR_REGISTRY_IO_FAILED);
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    QCOMPARE(ReadHiveBytes(), before);
    ::close(holder);
    QCOMPARE(SetAppValue("V", "2"), ERROR_SUCCESS);
    QCOMPARE(AppValue("V"), std::optional<QByteArray>("2"));
}

// A file too large to be a settings file is neither read nor written, and no change makes one.
void TestRegistry::tooLarge() {
    const QString hive = CConfigFolder::HivePath();
    const QByteArray small = "REGEDIT4\n\n[" + kAppPath.toUtf8() + "]\n\"V\"=\"1\"\n";
    QByteArray full = small + ';' + QByteArray(CRegistry::kMaxHiveSize - small.size() - 2, 'x');
    WriteAll(hive, full + '\n');
    QCOMPARE(SetAppValue("V", "2"), ERROR_SUCCESS);
    QCOMPARE(SetAppValue("W", "1"), ERROR_FILE_TOO_LARGE);
    QCOMPARE(ReadHiveBytes(), full.replace("\"V\"=\"1\"", "\"V\"=\"2\"") + '\n');
    WriteAll(hive, small);
    QVERIFY(!CRegistry::HiveTooLarge());
    QCOMPARE(AppValue("V"), std::optional<QByteArray>("1"));
    QVERIFY(QFile::resize(hive, CRegistry::kMaxHiveSize + 1));
    QVERIFY(CRegistry::HiveTooLarge());
    HKEY hKey = nullptr;
    QCOMPARE(CRegistry::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey), ERROR_FILE_TOO_LARGE);
    QCOMPARE(CRegistry::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kApp, &hKey, nullptr),
             ERROR_FILE_TOO_LARGE);
    QCOMPARE(CRegistry::RegSetValueEx(HKEY_LOCAL_MACHINE, "V", "2", 2), ERROR_FILE_TOO_LARGE);
    QCOMPARE(QFileInfo(hive).size(), CRegistry::kMaxHiveSize + 1);
    QVERIFY(ReadHiveBytes().startsWith("REGEDIT4\n\n["));
}

// A regedit export from Windows reads as it is, and the first change writes it whole in UTF-8.
void TestRegistry::exportRewrittenAtFirstChange() {
    const QString text = "Windows Registry Editor Version 5.00\r\n\r\n[" + kAppPath +
                         "]\r\n\"Name\"=\"caf\u00E9\"\r\n\"Debug\"=dword:00000031\r\n";
    QByteArray utf16("\xFF\xFE");
    for (const QChar c : text)
        utf16 += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
    WriteAll(CConfigFolder::HivePath(), utf16);
    QCOMPARE(AppValue("Name"), std::optional<QByteArray>("caf\xC3\xA9"));
    QCOMPARE(AppValue("Debug"), std::optional<QByteArray>("1"));
    QCOMPARE(SetAppValue("Name", "caf\xC3\xA9"), ERROR_SUCCESS);
    QCOMPARE(ReadHiveBytes(), utf16);
    QCOMPARE(SetAppValue("Often", "10"), ERROR_SUCCESS);
    QCOMPARE(ReadHiveBytes(), "REGEDIT4\r\n\r\n[" + kAppPath.toUtf8() +
                                  "]\r\n\"Name\"=\"caf\xC3\xA9\"\r\n\"Debug\"=dword:00000031\r\n"
                                  "\"Often\"=\"10\"\r\n");
}

// A folder named in Latin-1 is that folder, not one with U+FFFD in its name.
void TestRegistry::folderNameNotUtf8() {
    const QByteArray folder = QFile::encodeName(m_dir->path()) + "/caf\xE9";
    qputenv("BUMPLE_CONFIG_DIR", folder);
    QCOMPARE(SetAppValue("V", "1"), ERROR_SUCCESS);
    struct stat info;
    QCOMPARE(::stat((folder + "/registry.reg").constData(), &info), 0);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("caf\uFFFD"))));
    QCOMPARE(AppValue("V"), std::optional<QByteArray>("1"));
}

// The new file's data is on the disk before it replaces the hive, and the folder after.
void TestRegistry::syncedBeforeSuccess() {
    const QString log = m_dir->filePath(QStringLiteral("fsync.log"));
    QProcess writer;
    writer.setProcessEnvironment(Preloaded(log, QString()));
    writer.start(HiveWriterPath(),
                 {QStringLiteral("write"), QStringLiteral("V"), QStringLiteral("2")});
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitCode(), 0);
    const QString hive = QFileInfo(CConfigFolder::HivePath()).canonicalFilePath();
    const QString oneWrite = QStringLiteral("fsync %1.tmp\nrename %1.tmp %1\nfsync %2\n")
                                 .arg(hive, QFileInfo(hive).path());
    // Two changes (each value with the keys it needs), each flushed in this order.
    QCOMPARE(QString::fromUtf8(ReadFileBytes(log)), oneWrite.repeated(2));
}

QTEST_APPLESS_MAIN(TestRegistry)
#include "tst_registry.moc"
