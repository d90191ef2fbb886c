#include "CRegistryHive.h"

#include <QTest>

namespace {
const QString kKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings");

// What regedit on Windows exports: UTF-16LE with a byte-order mark and CRLF line ends.
QByteArray Utf16Export(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    const QString crlf = QString(text).replace(QLatin1String("\n"), QLatin1String("\r\n"));
    for (const QChar c : crlf)
        bytes += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
    return bytes;
}
} // namespace

class TestRegistryHive : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void freshFileLayout();
    void humanWritten_data();
    void humanWritten();
    void garbled_data();
    void garbled();
    void unchangedFileIsKept_data();
    void unchangedFileIsKept();
    void keysAndParents();
    void changesKeepOrder();
    void exportRewrittenWhole_data();
    void exportRewrittenWhole();
    void windows1252Keys();
    void sameTextChangesNothing();
};

void TestRegistryHive::roundTrip_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("plain") << QByteArray("Often") << QByteArray("25");
    QTest::newRow("quotes") << QByteArray("say \"hi\"") << QByteArray("\"quoted\"");
    QTest::newRow("backslashes") << QByteArray("a\\b") << QByteArray("C:\\WINDOWS\\\\x\\");
    QTest::newRow("line feed") << QByteArray("two\nlines") << QByteArray("one\ntwo\n");
    QTest::newRow("carriage return") << QByteArray("cr") << QByteArray("a\rb\r\n");
    QTest::newRow("tab") << QByteArray("\ttab") << QByteArray("a\tb");
    QTest::newRow("control bytes") << QByteArray("nul") << QByteArray("a\0b\x01\x1f\x7f", 7);
    QTest::newRow("utf-8") << QByteArray("Grüße") << QByteArray("naïve ✓ 日本");
    QTest::newRow("no utf-8") << QByteArray("\xff\xfe") << QByteArray("\x80\xc3");
    QTest::newRow("escape look-alike")
        << QByteArray("\\x41") << QByteArray("\\n is not a line feed");
    QTest::newRow("empty text") << QByteArray("empty") << QByteArray();
    QTest::newRow("unnamed") << QByteArray() << QByteArray("default");
    QTest::newRow("blanks") << QByteArray(" spaced ") << QByteArray("  both ends  ");
}

void TestRegistryHive::roundTrip() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, data);
    CRegistryHive hive = CRegistryHive::Parse({});
    hive.SetValue(kKey, name, data);
    const QByteArray file = hive.Serialize();
    // Every value stays on one line: the file has exactly its structural line feeds.
    QCOMPARE(file.count('\n'), 10);
    const CRegistryHive reread = CRegistryHive::Parse(file);
    QCOMPARE(reread.Value(kKey, name), std::optional(data));
    QCOMPARE(reread.Serialize(), file);
}

void TestRegistryHive::freshFileLayout() {
    CRegistryHive hive = CRegistryHive::Parse({});
    hive.SetValue(kKey, "Often", "25");
    hive.SetValue(kKey, "Path", "C:\\a \"b\"\n");
    hive.SetValue(kKey, "", "x");
    QCOMPARE(hive.Serialize(),
             QByteArray("REGEDIT4\n"
                        "\n"
                        "[HKEY_LOCAL_MACHINE\\Software]\n"
                        "\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software]\n"
                        "\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple]\n"
                        "\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\n"
                        "\"Often\"=\"25\"\n"
                        "\"Path\"=\"C:\\\\a \\\"b\\\"\\n\"\n"
                        "@=\"x\"\n"));
}

void TestRegistryHive::humanWritten_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<std::optional<QByteArray>>("expected");
    const QByteArray header = "REGEDIT4\n\n[" + kKey.toUtf8() + "]\n";
    QTest::newRow("plain") << header + "\"Debug\"=\"1\"\n"
                           << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("blanks around =") << header + "  \"Debug\" = \"1\"  \n"
                                     << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("crlf") << QByteArray(header).replace("\n", "\r\n") + "\"Debug\"=\"1\"\r\n"
                          << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("bom") << "\xEF\xBB\xBF" + header + "\"Debug\"=\"1\"" << QByteArray("Debug")
                         << std::optional<QByteArray>("1");
    QTest::newRow("bom before a header") << "\xEF\xBB\xBF" + header.mid(10) + "\"Debug\"=\"1\""
                                         << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("name case") << header + "\"DEBUG\"=\"1\"\n"
                               << QByteArray("debug") << std::optional<QByteArray>("1");
    QTest::newRow("utf-8 name case") << header + "\"ÄRGER\"=\"1\"\n"
                                     << QByteArray("ärger") << std::optional<QByteArray>("1");
    QTest::newRow("key case") << "REGEDIT4\n\n[" + kKey.toLower().toUtf8() + "]\n\"Debug\"=\"1\"\n"
                              << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("header blanks") << "REGEDIT4\n\n  [" + kKey.toUtf8() + "]  \n\"Debug\"=\"1\"\n"
                                   << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("later duplicate wins") << header + "\"Debug\"=\"1\"\n\"debug\"=\"2\"\n"
                                          << QByteArray("Debug") << std::optional<QByteArray>("2");
    QTest::newRow("key named twice")
        << header + "\"A\"=\"1\"\n[HKEY_LOCAL_MACHINE\\Other]\n" + header.mid(10) + "\"B\"=\"2\"\n"
        << QByteArray("B") << std::optional<QByteArray>("2");
    QTest::newRow("at sign") << header + "@=\"d\"\n"
                             << QByteArray() << std::optional<QByteArray>("d");
    QTest::newRow("empty quoted name") << header + "\"\"=\"d\"\n"
                                       << QByteArray() << std::optional<QByteArray>("d");
    QTest::newRow("no signature") << "[" + kKey.toUtf8() + "]\n\"Debug\"=\"1\"\n"
                                  << QByteArray("Debug") << std::optional<QByteArray>("1");
    QTest::newRow("other key") << header + "[HKEY_LOCAL_MACHINE\\Other]\n\"Debug\"=\"1\"\n"
                               << QByteArray("Debug") << std::optional<QByteArray>();
    QTest::newRow("latin-1 data") << header + "\"ComboName0\"=\"caf\xE9.local\"\n"
                                  << QByteArray("ComboName0")
                                  << std::optional<QByteArray>("caf\xE9.local");
    // Typed values read as their data.
    QTest::newRow("dword") << header + "\"Debug\"=dword:00000201\n"
                           << QByteArray("Debug")
                           << std::optional<QByteArray>(QByteArray("\x01\x02\0\0", 4));
    QTest::newRow("hex") << header + "\"Bin\"=hex:41,42,00\n"
                         << QByteArray("Bin") << std::optional<QByteArray>(QByteArray("AB\0", 3));
    QTest::newRow("hex over lines") << header + "\"Bin\"=hex(2):41, \\\n  42,\\\r\n  43\n"
                                    << QByteArray("Bin") << std::optional<QByteArray>("ABC");
    QTest::newRow("empty hex") << header + "\"Bin\"=hex:\n"
                               << QByteArray("Bin") << std::optional<QByteArray>("");
    QTest::newRow("bad dword") << header + "\"Debug\"=dword:000000001\n"
                               << QByteArray("Debug") << std::optional<QByteArray>();
    const QString unicode = "Windows Registry Editor Version 5.00\n\n[" + kKey +
                            "]\n\"Often\"=\"10\"\n\"Name\"=\"caf\u00E9\"\n"
                            "\"Path\"=hex(2):41,00,e9,00,00,00\n\"Bin\"=hex:41,00\n";
    QTest::newRow("5.00 in UTF-8")
        << unicode.toUtf8() << QByteArray("Often") << std::optional<QByteArray>("10");
    QTest::newRow("5.00 in UTF-16")
        << Utf16Export(unicode) << QByteArray("Name") << std::optional<QByteArray>("caf\xC3\xA9");
    QTest::newRow("5.00 text type") << Utf16Export(unicode) << QByteArray("Path")
                                    << std::optional<QByteArray>(QByteArray("A\xC3\xA9\0", 4));
    QTest::newRow("5.00 binary") << Utf16Export(unicode) << QByteArray("Bin")
                                 << std::optional<QByteArray>(QByteArray("A\0", 2));
}

void TestRegistryHive::humanWritten() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, name);
    QFETCH(std::optional<QByteArray>, expected);
    QCOMPARE(CRegistryHive::Parse(file).Value(kKey, name), expected);
}

void TestRegistryHive::garbled_data() {
    QTest::addColumn<QByteArray>("badLine");
    QTest::addColumn<bool>("endsKey");
    QTest::newRow("garbage") << QByteArray("this is no registry line") << false;
    QTest::newRow("comment") << QByteArray("; hand note \"x\"=\"y\"") << false;
    QTest::newRow("broken quote") << QByteArray("\"Broken=\"1") << false;
    QTest::newRow("unterminated data") << QByteArray("\"Name\"=\"no end") << false;
    QTest::newRow("unknown escape") << QByteArray("\"Path\"=\"C:\\Windows\"") << false;
    QTest::newRow("short hex escape") << QByteArray("\"A\"=\"\\x4\"") << false;
    QTest::newRow("long dword") << QByteArray("\"Count\"=dword:000000001") << false;
    QTest::newRow("bad hex") << QByteArray("\"Bin\"=hex:0g") << false;
    QTest::newRow("hex continued") << QByteArray("\"Bin\"=hex:01,02,\\") << false;
    QTest::newRow("trailing text") << QByteArray("\"A\"=\"1\" junk") << false;
    QTest::newRow("nul bytes") << QByteArray("\"A\0\"=\"1\0\"\0", 11) << false;
    QTest::newRow("huge line") << QByteArray(1 << 20, '"') << false;
    QTest::newRow("broken header") << QByteArray("[HKEY_LOCAL_MACHINE\\Broken") << true;
    QTest::newRow("delete key") << QByteArray("[-HKEY_LOCAL_MACHINE\\Gone]") << true;
    QTest::newRow("empty header") << QByteArray("[]") << true;
}

// A bad line between good ones: every good value reads, the bad line survives a change
// byte for byte and in its place, and values below a line that looks like a header are not
// taken for the key above it.
void TestRegistryHive::garbled() {
    QFETCH(QByteArray, badLine);
    QFETCH(bool, endsKey);
    const QByteArray before = "REGEDIT4\n\n[" + kKey.toUtf8() + "]\n\"First\"=\"1\"\n";
    const QByteArray after = "\"Second\"=\"2\"\n";
    CRegistryHive hive = CRegistryHive::Parse(before + badLine + "\n" + after);
    QCOMPARE(hive.Value(kKey, "First"), std::optional<QByteArray>("1"));
    QCOMPARE(hive.Value(kKey, "Second").has_value(), !endsKey);
    hive.SetValue(kKey, "First", "one");
    hive.SetValue(kKey, "Third", "3");
    const QByteArray saved = hive.Serialize();
    QVERIFY(saved.contains("\n" + badLine + "\n" + after));
    QVERIFY(saved.indexOf("\"First\"=\"one\"\n") < saved.indexOf(badLine));
    const CRegistryHive reread = CRegistryHive::Parse(saved);
    QCOMPARE(reread.Value(kKey, "First"), std::optional<QByteArray>("one"));
    QCOMPARE(reread.Value(kKey, "Third"), std::optional<QByteArray>("3"));
}

void TestRegistryHive::unchangedFileIsKept_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("empty") << QByteArray() << QByteArray("REGEDIT4\n\n");
    QTest::newRow("no final line feed") << QByteArray("REGEDIT4\n\n[A\\B]\n\"x\"=\"1\"")
                                        << QByteArray("REGEDIT4\n\n[A\\B]\n\"x\"=\"1\"");
    QTest::newRow("crlf") << QByteArray("REGEDIT4\r\n\r\n[A\\B]\r\n")
                          << QByteArray("REGEDIT4\r\n\r\n[A\\B]\r\n");
    QTest::newRow("no signature") << QByteArray("; notes\n") << QByteArray("REGEDIT4\n\n; notes\n");
    QTest::newRow("lone nul") << QByteArray("\0", 1) << QByteArray("REGEDIT4\n\n\0", 11);
    QTest::newRow("bom kept") << QByteArray("\xEF\xBB\xBF[A\\B]\n")
                              << QByteArray("\xEF\xBB\xBFREGEDIT4\n\n[A\\B]\n");
    // FF FE that is no UTF-16 regedit export: the bytes stay.
    QTest::newRow("ff fe, odd length")
        << QByteArray("\xFF\xFE;x\n") << QByteArray("REGEDIT4\n\n\xFF\xFE;x\n");
    QTest::newRow("ff fe, no header")
        << QByteArray("\xFF\xFEn\0o\0\n\0", 8) << QByteArray("REGEDIT4\n\n\xFF\xFEn\0o\0\n\0", 18);
    QTest::newRow("hand spacing") << QByteArray("REGEDIT4\n[A\\B]\n \"x\" = \"1\"\n\n\n")
                                  << QByteArray("REGEDIT4\n[A\\B]\n \"x\" = \"1\"\n\n\n");
}

void TestRegistryHive::unchangedFileIsKept() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    QCOMPARE(CRegistryHive::Parse(file).Serialize(), saved);
    QCOMPARE(CRegistryHive::Parse(saved).Serialize(), saved);
}

void TestRegistryHive::keysAndParents() {
    CRegistryHive hive = CRegistryHive::Parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n");
    QVERIFY(hive.HasKey("HKEY_LOCAL_MACHINE"));
    QVERIFY(hive.HasKey("hkey_local_machine\\a\\b"));
    QVERIFY(!hive.HasKey("HKEY_LOCAL_MACHINE\\A\\B\\C\\D"));
    QVERIFY(!hive.HasKey("HKEY_LOCAL_MACHINE\\A\\BC"));
    hive.AddKey("HKEY_LOCAL_MACHINE\\A\\B");
    hive.AddKey("HKEY_LOCAL_MACHINE\\A\\X\\Y");
    QCOMPARE(hive.Serialize(),
             QByteArray("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\n"
                        "[HKEY_LOCAL_MACHINE\\A\\X]\n\n[HKEY_LOCAL_MACHINE\\A\\X\\Y]\n"));
}

void TestRegistryHive::changesKeepOrder() {
    CRegistryHive hive = CRegistryHive::Parse("REGEDIT4\r\n\r\n[K\\A]\r\n\"1\"=\"a\"\r\n\r\n"
                                              "[K\\B]\r\n\"1\"=\"b\"\r\n");
    hive.SetValue("K\\A", "2", "new");
    hive.SetValue("k\\b", "1", "changed");
    hive.SetValue("K\\A\\Sub", "", "x");
    QCOMPARE(hive.Serialize(),
             QByteArray("REGEDIT4\r\n\r\n[K\\A]\r\n\"1\"=\"a\"\r\n\"2\"=\"new\"\r\n\r\n"
                        "[K\\B]\r\n\"1\"=\"changed\"\r\n\r\n[K\\A\\Sub]\r\n@=\"x\"\r\n"));
}

void TestRegistryHive::exportRewrittenWhole_data() {
    QTest::addColumn<QByteArray>("file");
    const QString text = "Windows Registry Editor Version 5.00\n\n[" + kKey +
                         "]\n\"Name\"=\"caf\u00E9\"\n\"Path\"=hex(2):41,00,42,00,00,00\n";
    QTest::newRow("UTF-16") << Utf16Export(text);
    QTest::newRow("UTF-8")
        << QString(text).replace(QLatin1String("\n"), QLatin1String("\r\n")).toUtf8();
}

// An export reads unchanged until the first change, which writes the one form the program
// writes, every line and value kept.
void TestRegistryHive::exportRewrittenWhole() {
    QFETCH(QByteArray, file);
    CRegistryHive hive = CRegistryHive::Parse(file);
    QVERIFY(!hive.IsModified());
    hive.SetValue(kKey, "Often", "10");
    QVERIFY(hive.IsModified());
    const QByteArray saved = hive.Serialize();
    QCOMPARE(saved, "REGEDIT4\r\n\r\n[" + kKey.toUtf8() +
                        "]\r\n\"Name\"=\"caf\xC3\xA9\"\r\n\"Path\"=hex(2):41,42,00\r\n"
                        "\"Often\"=\"10\"\r\n");
    const CRegistryHive reread = CRegistryHive::Parse(saved);
    QCOMPARE(reread.Value(kKey, "Path"), std::optional<QByteArray>(QByteArray("AB\0", 3)));
    QCOMPARE(reread.Value(kKey, "Name"), std::optional<QByteArray>("caf\xC3\xA9"));
}

// A key name in Windows-1252 reads as its characters; two such names never fold together.
void TestRegistryHive::windows1252Keys() {
    CRegistryHive hive = CRegistryHive::Parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\R\xE9glages]\n"
                                              "\"A\"=\"1\"\n[HKEY_LOCAL_MACHINE\\R\xEAglages]\n"
                                              "\"A\"=\"2\"\n");
    QCOMPARE(hive.Value(QStringLiteral("HKEY_LOCAL_MACHINE\\R\u00E9glages"), "A"),
             std::optional<QByteArray>("1"));
    QCOMPARE(hive.Value(QStringLiteral("HKEY_LOCAL_MACHINE\\R\u00EAglages"), "A"),
             std::optional<QByteArray>("2"));
    QVERIFY(!hive.HasKey(QStringLiteral("HKEY_LOCAL_MACHINE\\R\uFFFDglages")));
}

void TestRegistryHive::sameTextChangesNothing() {
    const QByteArray file =
        "REGEDIT4\n\n[" + kKey.toUtf8() + "]\n \"Often\" = \"25\"\n\"Debug\"=dword:00000031\n";
    CRegistryHive hive = CRegistryHive::Parse(file);
    hive.SetValue(kKey, "often", "25");
    hive.AddKey(kKey);
    QVERIFY(!hive.IsModified());
    QCOMPARE(hive.Serialize(), file);
    // A typed value set to its data as text becomes REG_SZ: that is a change.
    hive.SetValue(kKey, "Debug", QByteArray("1\0\0\0", 4));
    QVERIFY(hive.IsModified());
}

QTEST_APPLESS_MAIN(TestRegistryHive)
#include "tst_registryhive.moc"
