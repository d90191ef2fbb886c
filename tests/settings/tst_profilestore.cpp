#include "../platform/HiveTestFiles.h"
#include "CProfileStore.h"

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
