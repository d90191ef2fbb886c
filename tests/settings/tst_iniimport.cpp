#include "../store/HiveTestFiles.h"
#include "CProfileStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kApp = QStringLiteral("Software\\Quellmoor Software\\Bumple");
const QString kAppPath = QStringLiteral("HKEY_LOCAL_MACHINE\\") + kApp;

QString IniPath() {
    return CConfigFolder::WindowsDirectory() + QStringLiteral("/Bumple.INI");
}

void WriteIni(const QByteArray& content) {
    QFile file(IniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The application's start-up: the key, the import when the key is new, the close.
DWORD Start() {
    CProfileStore store;
    DWORD disposition = 0;
    store.OpenApplicationKey(&disposition);
    return disposition;
}

using Values = QList<QPair<QString, QByteArray>>; // "section\name" (empty section: app key)

} // namespace

class TestIniImport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void lineRules_data();
    void lineRules();
    void secondStartDoesNotImport();
    void noFileLeavesEmptyKey();
    void importIsOneWrite();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniImport::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("BUMPLE_CONFIG_DIR", m_dir->path().toUtf8());
}

void TestIniImport::lineRules_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<Values>("present");
    QTest::addColumn<QStringList>("absent");
    const QString often = QStringLiteral("Settings\\Often");
    QTest::newRow("settings") << QByteArray("[Settings]\nOften=10\n") << Values{{often, "10"}}
                              << QStringList();
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Settings]\nOften=10\n")
                                     << Values{{often, "10"}} << QStringList();
    QTest::newRow("crlf and blanks") << QByteArray("  [Settings]  \r\n\tOften=10  \r\n")
                                     << Values{{often, "10"}} << QStringList();
    QTest::newRow("blanks around =")
        << QByteArray("[Settings]\nOften = 10\n")
        << Values{{QStringLiteral("Settings\\Often "), " 10"}} << QStringList{often};
    QTest::newRow("inner blanks in header")
        << QByteArray("[  Settings  ]\nOften=10\n") << Values{{often, "10"}} << QStringList();
    QTest::newRow("empty header") << QByteArray("[]\nOften=10\n")
                                  << Values{{QStringLiteral("\\Often"), "10"}}
                                  << QStringList{often};
    QTest::newRow("header with text after it")
        << QByteArray("[Settings]\n[Other] x=1\n[Other] more\n")
        << Values{{QStringLiteral("Settings\\[Other] x"), "1"}}
        << QStringList{QStringLiteral("Other\\x")};
    QTest::newRow("unnamed value")
        << QByteArray("[Settings]\n=hello\n") << Values{{QStringLiteral("Settings\\"), "hello"}}
        << QStringList();
    QTest::newRow("values before the first header")
        << QByteArray("Often=5\n[Settings]\nIgnore=0\n")
        << Values{{QStringLiteral("Settings\\Ignore"), "0"}}
        << QStringList{often, QStringLiteral("\\Often")};
    QTest::newRow("semicolon") << QByteArray("[Settings]\n;Often=10\n; just a note\n")
                               << Values{{QStringLiteral("Settings\\;Often"), "10"}}
                               << QStringList{often};
    QTest::newRow("several sections")
        << QByteArray("[A]\nx=1\n[B]\nx=2\n[a]\ny=3\n")
        << Values{{"A\\x", "1"}, {"B\\x", "2"}, {"A\\y", "3"}} << QStringList();
    QTest::newRow("bad section ends the import")
        << QByteArray("[Settings]\nA=1\n[Bad\\\\Name]\nB=2\n[Settings]\nC=3\n")
        << Values{{QStringLiteral("Settings\\A"), "1"}}
        << QStringList{QStringLiteral("Settings\\B"), QStringLiteral("Settings\\C")};
    // A file from Windows in its ANSI code page: stored as proper UTF-8, names and all.
    QTest::newRow("windows-1252")
        << QByteArray("[R\xE9glages]\nComboName2=caf\xE9.local\nPreis\x80=5\x80\n")
        << Values{{QStringLiteral("R\u00E9glages\\ComboName2"), "caf\xC3\xA9.local"},
                  {QStringLiteral("R\u00E9glages\\Preis\u20AC"), "5\xE2\x82\xAC"}}
        << QStringList{QStringLiteral("R\uFFFDglages\\ComboName2")};
    QTest::newRow("utf-8") << QByteArray("[R\xC3\xA9glages]\nName=caf\xC3\xA9\n")
                           << Values{{QStringLiteral("R\u00E9glages\\Name"), "caf\xC3\xA9"}}
                           << QStringList();
    // One byte that is no UTF-8 makes the whole file Windows-1252.
    QTest::newRow("mostly utf-8") << QByteArray("[Settings]\nA=\xC3\xA9\nB=\xE9\n")
                                  << Values{{QStringLiteral("Settings\\A"), "\xC3\x83\xC2\xA9"},
                                            {QStringLiteral("Settings\\B"), "\xC3\xA9"}}
                                  << QStringList();
    // 600 characters: the first 519 are one line, the other 81 the next.
    const QByteArray first = "First=" + QByteArray(513, 'f');
    const QByteArray second = "Second=" + QByteArray(74, 's');
    QTest::newRow("600 characters in two pieces")
        << "[Settings]\n" + first + second + "\n"
        << Values{{"Settings\\First", first.mid(6)}, {"Settings\\Second", second.mid(7)}}
        << QStringList();
}

void TestIniImport::lineRules() {
    QFETCH(QByteArray, ini);
    QFETCH(Values, present);
    QFETCH(QStringList, absent);
    WriteIni(ini);
    QCOMPARE(Start(), REG_CREATED_NEW_KEY);
    const CRegistryHive hive = ReadHive();
    const auto valueAt = [&hive](const QString& path) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
        const QString section = path.left(slash);
        const QString key = section.isEmpty() ? kAppPath : kAppPath + QLatin1Char('\\') + section;
        return hive.Value(key, path.mid(slash + 1).toUtf8());
    };
    for (const auto& [path, value] : present)
        QCOMPARE(valueAt(path), std::optional(value));
    for (const QString& path : absent)
        QCOMPARE(valueAt(path), std::nullopt);
    QCOMPARE(ReadFileBytes(IniPath()), ini);
}

void TestIniImport::secondStartDoesNotImport() {
    WriteIni("[Settings]\nOften=10\n");
    QCOMPARE(Start(), REG_CREATED_NEW_KEY);
    WriteIni("[Settings]\nOften=99\nIgnore=0\n");
    QCOMPARE(Start(), REG_OPENED_EXISTING_KEY);
    CProfileStore store;
    store.m_strKeyPath = kApp;
    QCOMPARE(store.GetProfileString(QStringLiteral("Settings"), QStringLiteral("Often")),
             QStringLiteral("10"));
    QCOMPARE(store.GetProfileInt(QStringLiteral("Settings"), QStringLiteral("Ignore"), 1), 1);
}

void TestIniImport::noFileLeavesEmptyKey() {
    QCOMPARE(Start(), REG_CREATED_NEW_KEY);
    const CRegistryHive hive = ReadHive();
    QVERIFY(hive.HasKey(kAppPath));
    QVERIFY(!hive.HasKey(kAppPath + QStringLiteral("\\Settings")));
}

// Until the application key is closed the hive holds nothing of the first start, so a crash
// there leaves a state that the next start imports again from the beginning.
void TestIniImport::importIsOneWrite() {
    WriteIni("[Settings]\nOften=10\n[Other]\nA=1\n");
    CProfileStore store;
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    QVERIFY(store.SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE, kApp));
    store.ImportIniFile(hKey);
    QVERIFY(!QFileInfo::exists(CConfigFolder::HivePath()));
    QCOMPARE(CRegistry::RegCloseKey(hKey), ERROR_SUCCESS);
    const CRegistryHive hive = ReadHive();
    QCOMPARE(hive.Value(kAppPath + QStringLiteral("\\Settings"), "Often"),
             std::optional<QByteArray>("10"));
    QCOMPARE(hive.Value(kAppPath + QStringLiteral("\\Other"), "A"), std::optional<QByteArray>("1"));
}

QTEST_APPLESS_MAIN(TestIniImport)
#include "tst_iniimport.moc"
