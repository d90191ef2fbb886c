#include "../store/HiveTestFiles.h"
#include "CProfileStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <memory>
#include <string>

namespace {

const QString kApp = QStringLiteral("Software\\Quellmoor Software\\Bumple");
const QString kSettings = QStringLiteral("Settings");

} // namespace

class TestProfileStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void defaultsOnEmptyKey_data();
    void defaultsOnEmptyKey();
    void integerText_data();
    void integerText();
    void missingValueInExistingSection();
    void textLength_data();
    void textLength();
    void integersStoredAsText_data();
    void integersStoredAsText();
    void textIsUtf8();
    void notUtf8ReadsAsWindows1252_data();
    void notUtf8ReadsAsWindows1252();
    void unchangedTextIsNotWritten();
    void writeUnit();
    void unitAgainstAnotherWriter_data();
    void unitAgainstAnotherWriter();
    void failedUnitWritesNothing_data();
    void failedUnitWritesNothing();
    void setKeyDisposition();
    void setKeyFailureKeepsPath();

private:
    // A store on the application key, which the first start has just created empty.
    void FirstStart();

    std::unique_ptr<QTemporaryDir> m_dir;
    CProfileStore m_store;
};

void TestProfileStore::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("BUMPLE_CONFIG_DIR", m_dir->path().toUtf8());
    m_store = CProfileStore();
}

void TestProfileStore::FirstStart() {
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    QVERIFY(m_store.SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE, kApp));
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    QCOMPARE(CRegistry::RegCloseKey(hKey), ERROR_SUCCESS);
}

void TestProfileStore::defaultsOnEmptyKey_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("defaultValue");
    QTest::newRow("Ignore") << "Ignore" << 1;
    QTest::newRow("RandomName") << "RandomName" << 0;
    QTest::newRow("RandomTime") << "RandomTime" << 0;
    QTest::newRow("AutoStart") << "AutoStart" << 1;
    QTest::newRow("Debug") << "Debug" << 0;
    QTest::newRow("ComboNameSel") << "ComboNameSel" << 0;
}

void TestProfileStore::defaultsOnEmptyKey() {
    QFETCH(QString, entry);
    QFETCH(int, defaultValue);
    FirstStart();
    QCOMPARE(m_store.GetProfileInt(kSettings, entry, defaultValue), defaultValue);
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("Often"), QStringLiteral("25")),
             QStringLiteral("25"));
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("ComboName0"), QString()),
             QString());
}

void TestProfileStore::integerText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("trailing letters") << "7abc" << 7;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("plus sign") << "+8" << 8;
    QTest::newRow("blanks and words") << "  5 minutes" << 5;
    QTest::newRow("hex prefix") << "0x10" << 0;
    QTest::newRow("too large") << "99999999999" << INT_MAX;
    QTest::newRow("too small") << "-99999999999" << INT_MIN;
    // No number at the start: the default, 42.
    QTest::newRow("empty") << "" << 42;
    QTest::newRow("letters") << "abc" << 42;
    QTest::newRow("sign only") << "-" << 42;
}

void TestProfileStore::integerText() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    FirstStart();
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("Often"), text));
    QCOMPARE(m_store.GetProfileInt(kSettings, QStringLiteral("Often"), 42), expected);
}

void TestProfileStore::missingValueInExistingSection() {
    FirstStart();
    QVERIFY(m_store.WriteProfileInt(kSettings, QStringLiteral("Ignore"), 0));
    QCOMPARE(m_store.GetProfileInt(kSettings, QStringLiteral("AutoStart"), 1), 1);
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("Often"), QStringLiteral("25")),
             QStringLiteral("25"));
    QCOMPARE(m_store.GetProfileInt(QStringLiteral("Missing"), QStringLiteral("Ignore"), 7), 7);
}

void TestProfileStore::textLength_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::newRow("259 characters") << QString(259, QLatin1Char('a')) << true;
    QTest::newRow("260 characters") << QString(260, QLatin1Char('a')) << false;
    QTest::newRow("300 characters") << QString(300, QLatin1Char('a')) << false;
    // Characters count, not their UTF-8 bytes: each was one byte in the Windows code page.
    QTest::newRow("259 two-byte characters") << QString(259, QChar(0xE9)) << true;
    QTest::newRow("260 two-byte characters") << QString(260, QChar(0xE9)) << false;
    QTest::newRow("259 four-byte characters")
        << QString::fromUcs4(std::u32string(259, U'\U0001F600').c_str(), 259) << true;
    QTest::newRow("260 four-byte characters")
        << QString::fromUcs4(std::u32string(260, U'\U0001F600').c_str(), 260) << false;
}

void TestProfileStore::textLength() {
    QFETCH(QString, text);
    QFETCH(bool, readable);
    FirstStart();
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), text));
    const QString fallback = QStringLiteral("default");
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("ComboName0"), fallback),
             readable ? text : fallback);
}

void TestProfileStore::integersStoredAsText_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("zero") << 0 << QByteArray("\"X\"=\"0\"\n");
    QTest::newRow("minus one") << -1 << QByteArray("\"X\"=\"-1\"\n");
    QTest::newRow("smallest") << INT_MIN << QByteArray("\"X\"=\"-2147483648\"\n");
}

void TestProfileStore::integersStoredAsText() {
    QFETCH(int, value);
    QFETCH(QByteArray, line);
    FirstStart();
    QVERIFY(m_store.WriteProfileInt(kSettings, QStringLiteral("X"), value));
    QVERIFY(ReadHiveBytes().endsWith("Bumple\\Settings]\n" + line));
    QCOMPARE(m_store.GetProfileInt(kSettings, QStringLiteral("X"), 99), value);
}

void TestProfileStore::textIsUtf8() {
    FirstStart();
    const QString name = QStringLiteral("www.bücher.example");
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), name));
    QVERIFY(ReadHiveBytes().contains("\"ComboName0\"=\"www.b\xC3\xBC"
                                     "cher.example\"\n"));
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("ComboName0")), name);
}

void TestProfileStore::notUtf8ReadsAsWindows1252_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTest::newRow("latin letter") << QByteArray("caf\xE9.local")
                                  << QStringLiteral("caf\u00E9.local");
    QTest::newRow("euro and quotes")
        << QByteArray("\x80 \x93x\x94") << QStringLiteral("\u20AC \u201Cx\u201D");
    QTest::newRow("undefined bytes")
        << QByteArray("\x81\x8D\x8F\x90\x9D") << QStringLiteral("\u0081\u008D\u008F\u0090\u009D");
    QTest::newRow("broken utf-8") << QByteArray("\xC3(") << QStringLiteral("\u00C3(");
    QTest::newRow("259 bytes") << QByteArray(259, '\xE9') << QString(259, QChar(0xE9));
}

// A value that is no valid UTF-8 reads as Windows-1252, and keeps its bytes when the same
// text is written back.
void TestProfileStore::notUtf8ReadsAsWindows1252() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    FirstStart();
    QVERIFY(
        m_store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), QStringLiteral("x")));
    QFile hive(CConfigFolder::HivePath());
    QByteArray bytes =
        ReadHiveBytes().replace("\"ComboName0\"=\"x\"", "\"ComboName0\"=\"" + stored + '"');
    QVERIFY(hive.open(QIODevice::WriteOnly | QIODevice::Truncate));
    hive.write(bytes);
    hive.close();
    CProfileStore store;
    store.m_strKeyPath = kApp;
    QCOMPARE(store.GetProfileString(kSettings, QStringLiteral("ComboName0")), text);
    QVERIFY(store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), text));
    QCOMPARE(ReadHiveBytes(), bytes);
    // A changed text is written as UTF-8.
    QVERIFY(store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), text + 'x'));
    QVERIFY(ReadHiveBytes().contains("\"ComboName0\"=\"" + text.toUtf8() + "x\"\n"));
}

// What another instance wrote is not undone by writing back what this one read.
void TestProfileStore::unchangedTextIsNotWritten() {
    FirstStart();
    CProfileStore other;
    other.m_strKeyPath = kApp;
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("A"), QStringLiteral("1")));
    QCOMPARE(other.GetProfileString(kSettings, QStringLiteral("a")), QStringLiteral("1"));
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("A"), QStringLiteral("2")));
    QVERIFY(other.WriteProfileString(kSettings, QStringLiteral("A"), QStringLiteral("1")));
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("A")), QStringLiteral("2"));
    // A value missing when it was read is written, default or not.
    QCOMPARE(other.GetProfileInt(kSettings, QStringLiteral("Ignore"), 1), 1);
    QVERIFY(other.WriteProfileInt(kSettings, QStringLiteral("Ignore"), 1));
    QVERIFY(ReadHiveBytes().contains("\"Ignore\"=\"1\"\n"));
}

// The writes of a unit reach the file together when it ends; reads in between see them.
void TestProfileStore::writeUnit() {
    FirstStart();
    const QByteArray before = ReadHiveBytes();
    m_store.BeginWriteUnit();
    QVERIFY(
        m_store.WriteProfileString(kSettings, QStringLiteral("ComboName0"), QStringLiteral("a")));
    QVERIFY(m_store.WriteProfileInt(kSettings, QStringLiteral("ComboNameSel"), 0));
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("ComboName0")),
             QStringLiteral("a"));
    QCOMPARE(ReadHiveBytes(), before);
    QVERIFY(m_store.EndWriteUnit());
    QVERIFY(ReadHiveBytes().endsWith("Settings]\n\"ComboName0\"=\"a\"\n\"ComboNameSel\"=\"0\"\n"));
}

void TestProfileStore::unitAgainstAnotherWriter_data() {
    QTest::addColumn<QStringList>("theirs");  // saved by another writer after this store's a, b, c
    QTest::addColumn<QStringList>("written"); // then by this store
    QTest::addColumn<QStringList>("stored");
    const QStringList deleted{"a", "c"};
    QTest::newRow("unchanged list")
        << deleted << QStringList{"a", "b", "c"} << QStringList{"a", "c", ""};
    QTest::newRow("name appended")
        << deleted << QStringList{"a", "b", "c", "d"} << QStringList{"a", "b", "c", "d"};
    QTest::newRow("names reordered")
        << deleted << QStringList{"c", "b", "a"} << QStringList{"c", "b", "a"};
    // They deleted a, then this store deleted c: its whole list wins.
    QTest::newRow("later deletion")
        << QStringList{"b", "c"} << QStringList{"a", "b"} << QStringList{"a", "b", ""};
    const QStringList appended{"a", "b", "c", "d"};
    QTest::newRow("unchanged after their append")
        << appended << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c", "d"};
    QTest::newRow("reordered after their append")
        << appended << QStringList{"c", "b", "a"} << QStringList{"c", "b", "a", ""};
}

// Two writers never leave a mix of their lists: the list that changes nothing leaves the
// other's list, and one that changes something writes its own whole.
void TestProfileStore::unitAgainstAnotherWriter() {
    QFETCH(QStringList, theirs);
    QFETCH(QStringList, written);
    QFETCH(QStringList, stored);
    FirstStart();
    QVERIFY(m_store.WriteNameList({"a", "b", "c"}, 0));
    CProfileStore other;
    other.m_strKeyPath = kApp;
    QVERIFY(other.WriteNameList(theirs, 0));
    QVERIFY(m_store.WriteNameList(written, 0));
    CProfileStore reader;
    reader.m_strKeyPath = kApp;
    for (qsizetype i = 0; i < stored.size(); ++i)
        QCOMPARE(reader.GetProfileString(kSettings, QStringLiteral("ComboName%1").arg(i)),
                 stored.at(i));
}

void TestProfileStore::failedUnitWritesNothing_data() {
    QTest::addColumn<int>("next"); // the later save
    QTest::newRow("a save that changes something") << 0;
    QTest::newRow("a save that changes nothing") << 1;
}

// A unit that cannot reach the file leaves it as it was; it stays pending, reads see it, and
// the next save that reaches the file carries it, whether that save changes anything.
void TestProfileStore::failedUnitWritesNothing() {
    QFETCH(int, next);
    FirstStart();
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("C"), QStringLiteral("3")));
    const QByteArray before = ReadHiveBytes();
    m_store.BeginWriteUnit();
    QVERIFY(m_store.WriteProfileString(kSettings, QStringLiteral("A"), QStringLiteral("1")));
    // The hive turns into something that cannot be replaced before the unit ends.
    QVERIFY(QFile::rename(CConfigFolder::HivePath(), m_dir->filePath(QStringLiteral("saved"))));
    QVERIFY(QDir().mkdir(CConfigFolder::HivePath()));
    QVERIFY(!m_store.EndWriteUnit());
    QVERIFY(!m_store.SavePending());
    QVERIFY(QDir().rmdir(CConfigFolder::HivePath()));
    QVERIFY(QFile::rename(m_dir->filePath(QStringLiteral("saved")), CConfigFolder::HivePath()));
    QCOMPARE(ReadHiveBytes(), before);
    QCOMPARE(m_store.GetProfileString(kSettings, QStringLiteral("A")), QStringLiteral("1"));
    QVERIFY(m_store.HasPending());
    QVERIFY(m_store.WriteProfileString(kSettings, QString("BC").at(next), QString("23").at(next)));
    QVERIFY(!m_store.HasPending());
    QVERIFY(ReadHiveBytes().endsWith(next == 0 ? "\"A\"=\"1\"\n\"B\"=\"2\"\n"
                                               : "\"C\"=\"3\"\n\"A\"=\"1\"\n"));
}

void TestProfileStore::setKeyDisposition() {
    FirstStart();
    QCOMPARE(m_store.m_strKeyPath, kApp);
    QCOMPARE(m_store.m_hRootKey, HKEY_LOCAL_MACHINE);
    CProfileStore second;
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    QVERIFY(second.SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE, kApp));
    QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
    QCOMPARE(CRegistry::RegCloseKey(hKey), ERROR_SUCCESS);
}

// The configuration folder lies below a plain file, so nothing can be created there.
void TestProfileStore::setKeyFailureKeepsPath() {
    const QString blocker = m_dir->filePath(QStringLiteral("file"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("BUMPLE_CONFIG_DIR", (blocker + QStringLiteral("/config")).toUtf8());
    HKEY hKey = HKEY_LOCAL_MACHINE;
    DWORD disposition = 0;
    QVERIFY(!m_store.SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE, kApp));
    QCOMPARE(hKey, HKEY(nullptr));
    QCOMPARE(m_store.m_strKeyPath, kApp);
    QCOMPARE(m_store.GetProfileInt(kSettings, QStringLiteral("Ignore"), 1), 1);
    QVERIFY(!m_store.WriteProfileInt(kSettings, QStringLiteral("Ignore"), 0));
}

QTEST_APPLESS_MAIN(TestProfileStore)
#include "tst_profilestore.moc"
