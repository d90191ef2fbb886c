#include "CBumpleView.h"
#include "CComboBox.h"
#include "CEdit.h"
#include "CViewFixture.h"

#include <QTest>

// Odd names typed by the user: stored, reloaded and shown, or refused, without harm.
class TestBadUserInput : public QObject {
    Q_OBJECT

    static const QStringList& Names() {
        static const QStringList names = {QStringLiteral("\"AutoStart\"=\"0\""),
                                          QStringLiteral("\"Often\"=\"1\""),
                                          QStringLiteral("\"ComboName0\"=\"alpha.test\"")};
        return names;
    }

private slots:
    void typedNameIsStoredAndReloaded_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readsBack"); // texts over 259 bytes cannot be read back
        QTest::newRow("1 character") << QStringLiteral("x") << true;
        QTest::newRow("259 characters") << QString(259, QLatin1Char('n')) << true;
        QTest::newRow("260 characters") << QString(260, QLatin1Char('n')) << false;
        QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c\\\\\"") << true;
        QTest::newRow("line breaks") << QStringLiteral("a\nb\r\nc") << true;
        QTest::newRow("percent signs") << QStringLiteral("%s%n%d%1%%") << true;
        QTest::newRow("non-ASCII") << QStringLiteral("bücher.café.test") << true;
        QTest::newRow("bracketed") << QStringLiteral("[HKEY_LOCAL_MACHINE\\x]") << true;
        QTest::newRow("IPv6 literal") << QStringLiteral("fd00:1::1") << true;
        QTest::newRow("bracketed IPv6 literal") << QStringLiteral("[fd00:1::1]") << true;
        QTest::newRow("259 two-byte letters") << QString(259, QChar(0xE9)) << true;
        QTest::newRow("260 two-byte letters") << QString(260, QChar(0xE9)) << false;
    }
    void typedNameIsStoredAndReloaded() {
        QFETCH(QString, name);
        QFETCH(bool, readsBack);
        CViewFixture f(Names());
        CBumpleView* v = f.Create();
        v->m_comboName->SetWindowText(name);
        v->OnStartOrApply();
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.1.2.3")});
        CViewFixture::Pump();
        QCOMPARE(f.m_sockets.m_lookups.last().toUtf8(), name.toUtf8());
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")});
        CViewFixture::Pump();
        f.Tick();
        QCOMPARE(v->m_comboName->GetCount(), 2);
        QCOMPARE(v->m_comboName->GetLBText(1), name);
        // The other settings come through unharmed, whatever the name held.
        QCOMPARE(f.Setting("ComboName0"), QStringLiteral("alpha.test"));
        QCOMPARE(f.Setting("ComboNameSel"), QStringLiteral("1"));
        QCOMPARE(f.Setting("Often"), QStringLiteral("1"));

        v->LoadNameList();
        QCOMPARE(v->m_comboName->GetCount(), readsBack ? 2 : 1);
        if (readsBack)
            QCOMPARE(v->m_comboName->GetWindowText(), name);
        else
            QCOMPARE(v->m_comboName->GetCurSel(), 0);
    }

    void hugeNameFailsItsLookupAndIsNotAdded() {
        CViewFixture f(Names());
        CBumpleView* v = f.Create();
        const QString name(10000, QLatin1Char('n'));
        v->m_comboName->SetWindowText(name);
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        // No host entry for such a name fits the reply buffer.
        f.m_sockets.CompleteLookup(0, {QStringLiteral("127.9.9.9")});
        CViewFixture::Pump();
        QCOMPARE(v->m_nDnsFailures, 1);
        QCOMPARE(v->m_strProblemName, name);
        QCOMPARE(v->m_comboName->GetCount(), 1);
        // With a list of one name a failed lookup is a whole failed round: the restart
        // waits for the retry timer.
        QVERIFY(f.m_framework.IsTimerSet(ID_TIMER_RETRY));
        v->OnTimer(ID_TIMER_RETRY);
        QCOMPARE(f.m_sockets.m_lookups.last(), QStringLiteral("alpha.test"));
    }

    void oddNameInAMessageIsShownAsIs() {
        CViewFixture f(Names() + QStringList{QStringLiteral("\"Ignore\"=\"0\"")});
        CBumpleView* v = f.Create();
        const QString name = QStringLiteral("%1 %s %n %%");
        v->m_comboName->SetWindowText(name);
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        f.m_sockets.CompleteLookup(11001);
        CViewFixture::Pump();
        QCOMPARE(f.m_framework.m_messages.size(), 1);
        QVERIFY(f.m_framework.m_messages[0].startsWith(
            QStringLiteral("Bumple: Name %1 %s %n %% Not Found.\n\n")));
        QCOMPARE(v->m_strProblemName, name);
    }

    void storedPeriodThatIsNotANumber_data() {
        QTest::addColumn<QString>("often");
        for (const char* text : {"abc", "", "nan", "0x10", "-5", "1e9", "99999999999999"})
            QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text);
    }
    void storedPeriodThatIsNotANumber() {
        QFETCH(QString, often);
        CViewFixture f({QStringLiteral("\"AutoStart\"=\"0\""),
                        QStringLiteral("\"Often\"=\"%1\"").arg(often),
                        QStringLiteral("\"ComboName0\"=\"127.0.0.1\"")});
        CBumpleView* v = f.Create();
        QCOMPARE(v->m_editPeriod->GetWindowText(), often);
        QVERIFY(v->m_nPeriod <= 3600);
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        QCOMPARE(f.m_framework.m_messages,
                 QStringList{"Bumple: Time period must be between 1 and 60"});
        QCOMPARE(f.Setting("Often"), often);
    }
};

QTEST_MAIN(TestBadUserInput)
#include "tst_baduserinput.moc"
