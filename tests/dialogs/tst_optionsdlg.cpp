#include "ArmedEngine.h"
#include "CBumpleView.h"
#include "CModalDriver.h"
#include "COptionsDlg.h"
#include "CViewFixture.h"
#include "Resources.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace {
// In the order of the check boxes: Auto-Start, Randomize Domain Name, Randomize Bumple
// Time, Ignore Connection Failures.
const QList<int> kBoxes = {IDC_AUTO_START, IDC_RANDOM_NAME, IDC_RANDOM_TIME, IDC_IGNORE_FAILURES};

QCheckBox* Box(CDialog& dlg, int id) {
    return qobject_cast<QCheckBox*>(dlg.GetDlgItem(id));
}

QList<int> Checks(CDialog& dlg) {
    QList<int> checks;
    for (int id : kBoxes)
        checks.append(Box(dlg, id) != nullptr && Box(dlg, id)->isChecked() ? 1 : 0);
    return checks;
}

void ClickAll(CDialog& dlg) {
    for (int id : kBoxes)
        QTest::mouseClick(Box(dlg, id), Qt::LeftButton);
}

void ClickOk(CDialog& dlg) {
    QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton);
}

QList<int> ViewOptions(const CBumpleView* v) {
    return {v->m_bAutoStart, v->m_bRandomName, v->m_bRandomTime, v->m_bIgnoreFailures};
}

QList<int> StoredOptions(const CViewFixture& f) {
    QList<int> stored;
    for (const char* name : {"AutoStart", "RandomName", "RandomTime", "Ignore"})
        stored.append(f.Setting(QLatin1String(name)).toInt());
    return stored;
}

using Step = std::function<void(CDialog&)>;
} // namespace

Q_DECLARE_METATYPE(Step)

class TestOptionsDlg : public QObject {
    Q_OBJECT

private slots:
    void okWithoutChangesWritesAllFour_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QList<int>>("expected"); // AutoStart, RandomName, RandomTime, Ignore
        QTest::newRow("missing before") << QStringList() << QList<int>{1, 0, 0, 1};
        QTest::newRow("all turned around")
            << QStringList{"\"AutoStart\"=\"0\"", "\"RandomName\"=\"1\"", "\"RandomTime\"=\"1\"",
                           "\"Ignore\"=\"0\""}
            << QList<int>{0, 1, 1, 0};
        QTest::newRow("hand-edited non-zero")
            << QStringList{"\"RandomName\"=\"7\""} << QList<int>{1, 1, 0, 1};
    }
    void okWithoutChangesWritesAllFour() {
        QFETCH(QStringList, settings);
        QFETCH(QList<int>, expected);
        CViewFixture f(settings);
        CBumpleView* v = f.Create();
        QList<int> shown;
        CModalDriver driver([&](CDialog& dlg) {
            shown = Checks(dlg);
            ClickOk(dlg);
        });
        v->OnOptions();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QCOMPARE(shown, expected);
        QCOMPARE(ViewOptions(v), expected);
        QCOMPARE(StoredOptions(f), expected);
    }

    // A save the user asked for that fails says so once, with the file and the reason.
    void failedSaveIsReported() {
        CViewFixture f;
        CBumpleView* v = f.Create();
        const QString hive = f.m_dir.filePath(QStringLiteral("registry.reg"));
        QVERIFY(QFile::remove(hive) && QDir().mkdir(hive));
        CModalDriver driver(ClickOk);
        v->OnOptions();
        QCOMPARE(f.m_framework.m_messages.size(), 1);
        QVERIFY(f.m_framework.m_messages.first().contains(hive + " (Is a directory)"));
    }

    void writesInTheirOrder() {
        CViewFixture f;
        CBumpleView* v = f.Create();
        CModalDriver driver(ClickOk);
        v->OnOptions();
        const QString hive = f.HiveText();
        QList<qsizetype> places;
        for (const char* name : {"\"Ignore\"", "\"AutoStart\"", "\"RandomName\"", "\"RandomTime\""})
            places.append(hive.indexOf(QLatin1String(name)));
        QVERIFY2(places.first() >= 0, qPrintable(hive));
        QVERIFY2(std::is_sorted(places.begin(), places.end()), qPrintable(hive));
    }

    // "IdleOnly" and "Notify" go after "RandomTime" once their option has been on, and never
    // before.
    void laterOptionIsWrittenOnceUsed_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("IdleOnly") << IDC_IDLE_ONLY << "IdleOnly";
        QTest::newRow("Notify") << IDC_NOTIFY << "Notify";
    }
    void laterOptionIsWrittenOnceUsed() {
        QFETCH(int, id);
        QFETCH(QString, name);
        CViewFixture f;
        CBumpleView* v = f.Create();
        const auto clickAndOk = [id](CDialog& dlg) {
            QCheckBox* pBox = Box(dlg, id);
            QVERIFY(pBox != nullptr && pBox->focusPolicy() & Qt::TabFocus);
            QVERIFY(pBox->geometry().bottom() < dlg.GetDlgItem(IDOK)->geometry().top());
            QTest::mouseClick(pBox, Qt::LeftButton);
            ClickOk(dlg);
        };
        {
            CModalDriver driver(ClickOk);
            v->OnOptions();
        }
        QVERIFY2(!f.HiveText().contains(name), qPrintable(f.HiveText()));
        for (const char* expected : {"1", "0"}) {
            CModalDriver driver(clickAndOk);
            v->OnOptions();
            QCOMPARE(f.Setting(name), QLatin1String(expected));
            QCOMPARE(id == IDC_NOTIFY ? v->m_bNotify : v->m_bIdleOnly, BOOL(*expected == '1'));
            const QString hive = f.HiveText();
            QVERIFY(hive.indexOf(u'"' + name + u'"') >
                    hive.indexOf(QLatin1String("\"RandomTime\"")));
        }
    }

    void okStoresTheClickedChecks() {
        CViewFixture f;
        CBumpleView* v = f.Create();
        CModalDriver driver([](CDialog& dlg) {
            ClickAll(dlg);
            ClickOk(dlg);
        });
        v->OnOptions();
        QCOMPARE(ViewOptions(v), QList<int>({0, 1, 1, 0}));
        QCOMPARE(StoredOptions(f), QList<int>({0, 1, 1, 0}));
    }

    void otherEndsChangeNothing_data() {
        QTest::addColumn<Step>("end");
        QTest::newRow("Cancel") << Step(
            [](CDialog& dlg) { QTest::mouseClick(dlg.GetDlgItem(IDCANCEL), Qt::LeftButton); });
        QTest::newRow("Escape") << Step(
            [](CDialog& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); });
        QTest::newRow("close box") << Step([](CDialog& dlg) { dlg.close(); });
    }
    void otherEndsChangeNothing() {
        QFETCH(Step, end);
        CViewFixture f({"\"RandomTime\"=\"1\""});
        CBumpleView* v = f.Create();
        const QString hiveBefore = f.HiveText();
        {
            CModalDriver driver([&](CDialog& dlg) {
                ClickAll(dlg);
                end(dlg);
            });
            v->OnOptions();
            QVERIFY(driver.m_bRan);
            QVERIFY(!driver.m_bLeftOpen);
        }
        QCOMPARE(ViewOptions(v), QList<int>({1, 0, 1, 1}));
        QCOMPARE(f.HiveText(), hiveBefore);

        QList<int> shownAgain;
        CModalDriver again([&](CDialog& dlg) { shownAgain = Checks(dlg); });
        v->OnOptions();
        QCOMPARE(shownAgain, QList<int>({1, 0, 1, 1}));
    }

    void runningEngineIsNotTouched() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        ArmLoopbackEngine(v);
        QVERIFY(f.m_framework.IsTimerSet(ID_TIMER_TICK));
        const QStringList timersBefore = f.m_framework.m_timerLog;
        const QString statusBefore = f.Status();
        CModalDriver driver([](CDialog& dlg) {
            ClickAll(dlg);
            ClickOk(dlg);
        });
        v->OnOptions();
        QCOMPARE(v->m_bAutoStart, TRUE);
        QCOMPARE(f.m_framework.m_timerLog, timersBefore);
        QCOMPARE(v->m_bProbeTimerSet, TRUE);
        QCOMPARE(f.Status(), statusBefore);
    }
};

QTEST_MAIN(TestOptionsDlg)
#include "tst_optionsdlg.moc"
