#include "ArmedEngine.h"
#include "CBumpleView.h"
#include "CModalDriver.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

namespace {
const QString kHint = QStringLiteral("   Please check the Statistics dialog box");

QString Text(CDialog& dlg, int id) {
    const auto* pLabel = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return pLabel != nullptr ? pLabel->text() : QStringLiteral("<none>");
}

// The caption assistive technology reads for a control (its "labelled by" relation).
QString LabelOf(QWidget* pControl) {
    const auto relations =
        QAccessible::queryAccessibleInterface(pControl)->relations(QAccessible::Label);
    return relations.size() == 1 ? relations.at(0).first->text(QAccessible::Name) : QString();
}

bool Shown(CDialog& dlg, int id) {
    return dlg.GetDlgItem(id)->isVisible();
}

using Step = std::function<void(CDialog&)>;
} // namespace

Q_DECLARE_METATYPE(Step)

class TestStatisticsDlg : public QObject {
    Q_OBJECT

private slots:
    void showsTheCountsAndTheLastProblem_data() {
        QTest::addColumn<QList<int>>("counts"); // successes, HTTP, DNS, socket
        QTest::addColumn<QString>("problem");
        QTest::newRow("right after launch") << QList<int>{0, 0, 0, 0} << QString();
        QTest::newRow("one failed lookup") << QList<int>{0, 0, 1, 0} << QStringLiteral("beta.test");
        QTest::newRow("long run") << QList<int>{123456, 7, 89, 1000} << QStringLiteral("10.0.0.1");
    }
    void showsTheCountsAndTheLastProblem() {
        QFETCH(QList<int>, counts);
        QFETCH(QString, problem);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        v->m_nSuccesses = counts.at(0);
        v->m_nHttpFailures = counts.at(1);
        v->m_nDnsFailures = counts.at(2);
        v->m_nSocketFailures = counts.at(3);
        v->m_strProblemName = problem;
        QStringList texts;
        QStringList captions;
        bool labelShown = false;
        bool nameShown = false;
        CModalDriver driver([&](CDialog& dlg) {
            for (int id : {IDC_SUCCESSES, IDC_HTTP_FAILURES, IDC_DNS_FAILURES, IDC_SOCKET_FAILURES,
                           IDC_PROBLEM_NAME}) {
                texts.append(Text(dlg, id));
                captions.append(LabelOf(dlg.GetDlgItem(id)));
            }
            labelShown = Shown(dlg, IDC_PROBLEM_LABEL);
            nameShown = Shown(dlg, IDC_PROBLEM_NAME);
            QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton);
        });
        v->OnStatistics();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QStringList expected;
        for (int n : counts)
            expected.append(QString::number(n));
        QCOMPARE(texts, expected + QStringList{problem});
        QCOMPARE(captions, QStringList({"Number of successful Bumples:", "Number of HTTP failures:",
                                        "Number of DNS failures:", "Number of Socket failures:",
                                        "The last Bumple problem occurred with:"}));
        QCOMPARE(labelShown, !problem.isEmpty());
        QCOMPARE(nameShown, !problem.isEmpty());
        // The name stays until the next problem replaces it.
        QCOMPARE(v->m_strProblemName, problem);
    }

    void openingAcknowledgesTheProblem_data() {
        QTest::addColumn<Step>("end");
        QTest::newRow("OK") << Step(
            [](CDialog& dlg) { QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton); });
        QTest::newRow("Escape") << Step(
            [](CDialog& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); });
        QTest::newRow("close box") << Step([](CDialog& dlg) { dlg.close(); });
    }
    void openingAcknowledgesTheProblem() {
        QFETCH(Step, end);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        ArmLoopbackEngine(v);
        SendMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
        CViewFixture::Pump(); // the probe's connect completes
        v->RecordProblem(PROBLEM_DNS, QStringLiteral("beta.test"));
        SendMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
        QVERIFY2(f.m_tray.m_strTip.endsWith(kHint), qPrintable(f.m_tray.m_strTip));

        BOOL unseenWhileOpen = TRUE;
        QString tipWhileOpen;
        CModalDriver driver([&](CDialog& dlg) {
            unseenWhileOpen = v->m_bProblemUnseen;
            SendMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
            tipWhileOpen = f.m_tray.m_strTip;
            end(dlg);
        });
        v->OnStatistics();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QCOMPARE(unseenWhileOpen, FALSE);
        QVERIFY2(tipWhileOpen.startsWith(QStringLiteral("Bumple in ")), qPrintable(tipWhileOpen));
        QVERIFY(!tipWhileOpen.contains(kHint));
        QCOMPARE(v->m_bProblemUnseen, FALSE);

        // A further problem brings the hint back.
        v->RecordProblem(PROBLEM_DNS, QStringLiteral("beta.test"));
        SendMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
        QVERIFY(f.m_tray.m_strTip.endsWith(kHint));
    }
};

QTEST_MAIN(TestStatisticsDlg)
#include "tst_statisticsdlg.moc"
