#include "CBumpleView.h"
#include "CComboBox.h"
#include "CDragListBox.h"
#include "CEditNamesDlg.h"
#include "CModalDriver.h"
#include "CViewFixture.h"
#include "Resources.h"
#include "SettingsTable.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

namespace {
const QString kMissing = QStringLiteral("<missing>");
const QStringList kThree = {"alpha.test", "beta.test", "gamma.test"};
const QStringList kSeven = {"n0.test", "n1.test", "n2.test", "n3.test",
                            "n4.test", "n5.test", "n6.test"};

// The hive lines of a stored name list; an empty name is stored as an empty value.
QStringList NameSettings(const QStringList& names, int sel) {
    QStringList lines{"\"AutoStart\"=\"0\"", QStringLiteral("\"ComboNameSel\"=\"%1\"").arg(sel)};
    for (int i = 0; i < names.size(); ++i)
        lines.append(QStringLiteral("\"ComboName%1\"=\"%2\"").arg(i).arg(names.at(i)));
    return lines;
}

QStringList Stored(const CViewFixture& f, int count) {
    QStringList values;
    for (int i = 0; i < count; ++i)
        values.append(f.Setting(QStringLiteral("ComboName%1").arg(i)));
    return values;
}

QStringList ComboItems(const CBumpleView* v) {
    QStringList items;
    for (int i = 0; i < v->m_comboName->GetCount(); ++i)
        items.append(v->m_comboName->GetLBText(i));
    return items;
}

QStringList ListItems(const CDragListBox* pList) {
    QStringList items;
    for (int i = 0; i < pList->GetCount(); ++i)
        items.append(pList->GetText(i));
    return items;
}

CDragListBox* List(CDialog& dlg) {
    return qobject_cast<CEditNamesDlg*>(&dlg)->m_listNames;
}

void Click(CDialog& dlg, int id) {
    QTest::mouseClick(dlg.GetDlgItem(id), Qt::LeftButton);
}

void ClickItem(CDragListBox* pList, int row) {
    QTest::mouseClick(pList->viewport(), Qt::LeftButton, {},
                      pList->visualItemRect(pList->item(row)).center());
}

// A drag with the mouse from item "from" into the gap before item "gap" (the count: after
// the last item), in several moves as a hand makes it.
void Drag(CDragListBox* pList, int from, int gap) {
    QWidget* pViewport = pList->viewport();
    const QPoint start = pList->visualItemRect(pList->item(from)).center();
    const QRect last = pList->visualItemRect(pList->item(pList->GetCount() - 1));
    const QPoint end = gap < pList->GetCount()
                           ? pList->visualItemRect(pList->item(gap)).topLeft() + QPoint(10, 2)
                           : QPoint(10, std::min(last.bottom() + 4, pViewport->height() - 2));
    QTest::mousePress(pViewport, Qt::LeftButton, {}, start);
    for (int i = 1; i <= 4; ++i)
        QTest::mouseMove(pViewport, start + (end - start) * i / 4);
    QTest::mouseRelease(pViewport, Qt::LeftButton, {}, end);
}

// Ctrl+Shift+Up or Down on the list, n times.
void MoveKey(CDialog& dlg, Qt::Key key, int n) {
    for (int i = 0; i < n; ++i)
        QTest::keyClick(List(dlg), key, Qt::ControlModifier | Qt::ShiftModifier);
}

void DeleteRow(CDialog& dlg, int row) {
    ClickItem(List(dlg), row);
    Click(dlg, IDC_DELETE_SELECTION);
}

using Step = std::function<void(CDialog&)>;
} // namespace

Q_DECLARE_METATYPE(Step)

class TestEditNamesDlg : public QObject {
    Q_OBJECT

private slots:
    void opensWithTheComboItemsAndTheCurrentName_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("selected");
        QTest::newRow("as loaded") << QString() << 2;
        QTest::newRow("other letter case") << QStringLiteral("BETA.Test") << 1;
        QTest::newRow("not in the list") << QStringLiteral("typed.test") << -1;
    }
    void opensWithTheComboItemsAndTheCurrentName() {
        QFETCH(QString, current);
        QFETCH(int, selected);
        CViewFixture f(NameSettings(kThree, 2));
        CBumpleView* v = f.Create();
        if (!current.isEmpty())
            v->m_strName = current;
        v->m_comboName->SetWindowText(QStringLiteral("typed.test"));
        QStringList items;
        int sel = -2;
        CModalDriver driver([&](CDialog& dlg) {
            items = ListItems(List(dlg));
            sel = List(dlg)->GetCurSel();
        });
        v->OnEditNames();
        QVERIFY(driver.m_bRan);
        QCOMPARE(items, kThree);
        QCOMPARE(sel, selected);
    }

    void okStoresTheEditedList_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("sel");
        QTest::addColumn<QString>("current"); // empty: the loaded name
        QTest::addColumn<Step>("edit");
        QTest::addColumn<QStringList>("stored"); // ComboName0 on; the next one must be missing
        QTest::addColumn<int>("storedSel");
        QTest::addColumn<QStringList>("reloaded");

        const QStringList defaults = SettingsTable::kDefaultNames;
        const Step none = [](CDialog&) {};
        QTest::newRow("no change") << kThree << 1 << QString() << none << kThree << 1 << kThree;
        QTest::newRow("current dragged to the end")
            << kThree << 0 << QString() << Step([](CDialog& dlg) { Drag(List(dlg), 0, 3); })
            << QStringList{"beta.test", "gamma.test", "alpha.test"} << 2
            << QStringList{"beta.test", "gamma.test", "alpha.test"};
        QTest::newRow("current deleted")
            << kThree << 1 << QString() << Step([](CDialog& dlg) { DeleteRow(dlg, 1); })
            << QStringList{"alpha.test", "gamma.test", ""} << 0
            << QStringList{"alpha.test", "gamma.test"};
        QTest::newRow("all deleted") << kThree << 2 << QString() << Step([](CDialog& dlg) {
            for (int i = 0; i < 3; ++i)
                DeleteRow(dlg, 0);
        }) << QStringList{"", "", ""} << 0
                                     << defaults;
        QTest::newRow("restored, current among the defaults")
            << kSeven.mid(0, 6) + QStringList{defaults.at(3)} << 6 << QString()
            << Step([](CDialog& dlg) { Click(dlg, IDC_RESTORE_DEFAULT); })
            << defaults + QStringList{"", ""} << 3 << defaults;
        QTest::newRow("restored, current not among them")
            << kThree << 1 << QString()
            << Step([](CDialog& dlg) { Click(dlg, IDC_RESTORE_DEFAULT); }) << defaults << 0
            << defaults;
        QTest::newRow("seven to three") << kSeven << 5 << QString() << Step([](CDialog& dlg) {
            for (int i = 0; i < 4; ++i)
                DeleteRow(dlg, 3);
        }) << kSeven.mid(0, 3) + QStringList{"", "", "", ""}
                                        << 0 << kSeven.mid(0, 3);
        QTest::newRow("blanking stops at the first empty value")
            << QStringList{"alpha.test", "beta.test", "", "stale.test"} << 0 << QString()
            << Step([](CDialog& dlg) { DeleteRow(dlg, 1); })
            << QStringList{"alpha.test", "", "", "stale.test"} << 0 << QStringList{"alpha.test"};
        QTest::newRow("delete with nothing selected")
            << kThree << 1 << QString() << Step([](CDialog& dlg) {
                   List(dlg)->SetCurSel(-1);
                   Click(dlg, IDC_DELETE_SELECTION);
               })
            << kThree << 1 << kThree;
        QTest::newRow("current in other letter case followed")
            << kThree << 0 << QStringLiteral("GAMMA.test")
            << Step([](CDialog& dlg) { Drag(List(dlg), 2, 0); })
            << QStringList{"gamma.test", "alpha.test", "beta.test"} << 0
            << QStringList{"gamma.test", "alpha.test", "beta.test"};
        QTest::newRow("current moved down twice by keys")
            << kThree << 0 << QString() << Step([](CDialog& dlg) { MoveKey(dlg, Qt::Key_Down, 2); })
            << QStringList{"beta.test", "gamma.test", "alpha.test"} << 2
            << QStringList{"beta.test", "gamma.test", "alpha.test"};
        QTest::newRow("another moved up by keys, past the top")
            << kThree << 0 << QString() << Step([](CDialog& dlg) {
                   ClickItem(List(dlg), 2);
                   MoveKey(dlg, Qt::Key_Up, 3);
               })
            << QStringList{"gamma.test", "alpha.test", "beta.test"} << 1
            << QStringList{"gamma.test", "alpha.test", "beta.test"};
        QTest::newRow("the clicked item is not what is stored")
            << kThree << 0 << QString() << Step([](CDialog& dlg) { ClickItem(List(dlg), 2); })
            << kThree << 0 << kThree;
    }
    void okStoresTheEditedList() {
        QFETCH(QStringList, names);
        QFETCH(int, sel);
        QFETCH(QString, current);
        QFETCH(Step, edit);
        QFETCH(QStringList, stored);
        QFETCH(int, storedSel);
        QFETCH(QStringList, reloaded);
        CViewFixture f(NameSettings(names, sel));
        CBumpleView* v = f.Create();
        if (!current.isEmpty())
            v->m_strName = current;
        CModalDriver driver([&](CDialog& dlg) {
            edit(dlg);
            Click(dlg, IDOK);
        });
        v->OnEditNames();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QCOMPARE(Stored(f, int(stored.size()) + 1), stored + QStringList{kMissing});
        QCOMPARE(f.Setting(QStringLiteral("ComboNameSel")), QString::number(storedSel));
        QCOMPARE(ComboItems(v), reloaded);
        QCOMPARE(v->m_comboName->GetCurSel(), storedSel);
        QCOMPARE(v->m_strName, reloaded.at(storedSel));
    }

    void cancelLeavesStoreAndComboAsTheyWere() {
        CViewFixture f(NameSettings(kSeven, 4));
        CBumpleView* v = f.Create();
        v->m_comboName->SetWindowText(QStringLiteral("typed.test"));
        const QString hive = f.HiveText();
        CModalDriver driver([](CDialog& dlg) {
            Drag(List(dlg), 0, 7);
            DeleteRow(dlg, 2);
            Click(dlg, IDC_RESTORE_DEFAULT);
            Click(dlg, IDCANCEL);
        });
        v->OnEditNames();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QCOMPARE(f.HiveText(), hive);
        QCOMPARE(ComboItems(v), kSeven);
        QCOMPARE(v->m_comboName->GetWindowText(), QStringLiteral("typed.test"));
        QCOMPARE(v->m_strName, QStringLiteral("n4.test"));
    }

    // A screen reader hears the list by the caption above it, which also labels it (Qt's
    // item views report the relation only from the label's side).
    void listIsNamedByItsCaption() {
        CViewFixture f(NameSettings(kThree, 0));
        CBumpleView* v = f.Create();
        QString name, label;
        CModalDriver driver([&](CDialog& dlg) {
            QAccessibleInterface* pList = QAccessible::queryAccessibleInterface(List(dlg));
            name = pList->text(QAccessible::Name);
            for (QLabel* pLabel : dlg.findChildren<QLabel*>())
                for (const auto& relation :
                     QAccessible::queryAccessibleInterface(pLabel)->relations(
                         QAccessible::Labelled))
                    if (relation.first == pList)
                        label = pLabel->text();
        });
        v->OnEditNames();
        QVERIFY(driver.m_bRan);
        const QString caption =
            QStringLiteral("Click and Drag names if you wish to re-order them.");
        QCOMPARE(name, caption);
        QCOMPARE(label, caption);
    }

    // The list keeps the same names, in the order the mouse made.
    void mouseDragReorders_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("gap");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("first to last") << 0 << 5 << QStringList{"b", "c", "d", "e", "a"};
        QTest::newRow("last to first") << 4 << 0 << QStringList{"e", "a", "b", "c", "d"};
        QTest::newRow("down by one") << 1 << 3 << QStringList{"a", "c", "b", "d", "e"};
        QTest::newRow("onto itself") << 2 << 2 << QStringList{"a", "b", "c", "d", "e"};
        QTest::newRow("just below itself") << 2 << 3 << QStringList{"a", "b", "c", "d", "e"};
    }
    void mouseDragReorders() {
        QFETCH(int, from);
        QFETCH(int, gap);
        QFETCH(QStringList, order);
        CViewFixture f(NameSettings({"a", "b", "c", "d", "e"}, 0));
        CBumpleView* v = f.Create();
        QStringList after;
        CModalDriver driver([&](CDialog& dlg) {
            Drag(List(dlg), from, gap);
            after = ListItems(List(dlg));
        });
        v->OnEditNames();
        QVERIFY(driver.m_bRan);
        QCOMPARE(after, order);
    }
};

QTEST_MAIN(TestEditNamesDlg)
#include "tst_editnamesdlg.moc"
