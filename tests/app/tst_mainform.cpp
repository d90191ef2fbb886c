#include "CBumpleView.h"
#include "CComboBox.h"
#include "CDialogBuilder.h"
#include "CEdit.h"
#include "CHistoryChart.h"
#include "CHistoryWnd.h"
#include "CMainFrame.h"
#include "CPlatform.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"
#include "Resources.h"
#include "SettingsTable.h"

#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

namespace {
// The period control's line edit, made when the form is first laid out; null before.
QLineEdit* PeriodField(const CBumpleView* v) {
    return v->m_editPeriod->findChild<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly);
}
} // namespace

// The main form, its commands and the frame around it.
class TestMainForm : public QObject {
    Q_OBJECT

    static QString Text(CBumpleView* v, int id) {
        QWidget* pControl = CDialogBuilder::GetDlgItem(v, id);
        if (auto* pButton = qobject_cast<QPushButton*>(pControl))
            return pButton->text();
        if (auto* pLabel = qobject_cast<QLabel*>(pControl))
            return pLabel->text();
        return QString();
    }

private slots:
    void initialUpdate_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("autoStartTimer");
        QTest::addColumn<QString>("period");
        QTest::addColumn<int>("seconds");
        QTest::newRow("AutoStart on") << QStringList() << IDI_NORMAL << true << "25" << 1500;
        QTest::newRow("AutoStart off") << QStringList{"\"AutoStart\"=\"0\"", "\"Often\"=\"7 min\""}
                                       << IDI_STOPPED << false << "7 min" << 420;
        QTest::newRow("capped at 60")
            << QStringList{"\"Often\"=\"90\""} << IDI_NORMAL << true << "90" << 3600;
    }
    void initialUpdate() {
        QFETCH(QStringList, settings);
        QFETCH(int, icon);
        QFETCH(bool, autoStartTimer);
        QFETCH(QString, period);
        QFETCH(int, seconds);
        CViewFixture f(settings);
        CBumpleView* v = f.Create();
        QCOMPARE(f.m_tray.m_calls.at(0).dwMessage, NIM_ADD);
        QCOMPARE(f.m_tray.m_calls.at(0).nid.uID, UINT(129));
        QCOMPARE(f.m_tray.m_calls.at(0).nid.uCallbackMessage, WM_TRAY_NOTIFY);
        QCOMPARE(f.m_tray.m_strTip, QStringLiteral("Bumple"));
        QCOMPARE(f.m_tray.m_hIcon, LoadIconResource(icon));
        QCOMPARE(f.Status(), QStringLiteral("PLEASE START ME"));
        QCOMPARE(v->m_editPeriod->GetWindowText(), period);
        QVERIFY(v->m_btnStart->isEnabled());
        QVERIFY(!v->m_staticNextLabel->isEnabled());
        QCOMPARE(f.m_framework.IsTimerSet(ID_TIMER_AUTOSTART), autoStartTimer);
        QCOMPARE(v->m_nPeriod, seconds);
        QCOMPARE(v->m_comboName->GetCount(), 5);
        QCOMPARE(v->m_comboName->GetWindowText(), SettingsTable::kDefaultNames.at(0));
        QCOMPARE(Text(v, IDC_START), QStringLiteral("Start or Apply Changes"));
        QCOMPARE(Text(v, IDC_RETURN_TO_TRAY), QStringLiteral("Return To Tray"));
        QCOMPARE(Text(v, IDC_SHUTDOWN), QStringLiteral("Shutdown Bumple"));
        QCOMPARE(Text(v, IDC_NEXT_LABEL), QStringLiteral("Time until next bumple:"));
        QVERIFY(f.m_framework.m_messages.isEmpty());
        // Nothing is written until a probe connects.
        QVERIFY(!f.HiveText().contains(QStringLiteral("ComboName")));
    }

    void failedTrayIconIsReported_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("refused when created") << true;
        QTest::newRow("no tray by the end of the grace") << false;
    }

    // The period field and the name box are named by their labels, for assistive
    // technology: the control by its "labelled by" relation, the field the keyboard reaches
    // by its name. The status and the countdown keep their values as names.
    void accessibleNames_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("name"); // the keyboard's field's, or the value's
        QTest::newRow("period") << IDC_PERIOD << QStringLiteral("Bumple how often? (minutes)")
                                << QStringLiteral("Bumple how often? (minutes)");
        QTest::newRow("name box") << IDC_NAME << QStringLiteral("Domain Name or IP Address")
                                  << QStringLiteral("Domain Name or IP Address");
        QTest::newRow("status") << IDC_STATUS << QStringLiteral("Status:")
                                << QStringLiteral("PLEASE START ME");
        QTest::newRow("countdown")
            << IDC_COUNTDOWN << QStringLiteral("Time until next bumple:") << QStringLiteral("0:42");
    }
    void accessibleNames() {
        QFETCH(int, id);
        QFETCH(QString, label);
        QFETCH(QString, name);
        CViewFixture f;
        CBumpleView* v = f.Create();
        v->m_staticCountdown->setText(QStringLiteral("0:42"));
        f.m_pFrame->show();
        QWidget* pControl = CDialogBuilder::GetDlgItem(v, id);
        const auto relations =
            QAccessible::queryAccessibleInterface(pControl)->relations(QAccessible::Label);
        QCOMPARE(relations.size(), 1);
        QCOMPARE(relations.at(0).first->text(QAccessible::Name), label);
        QWidget* pField = pControl->findChild<QLineEdit*>();
        QCOMPARE(QAccessible::queryAccessibleInterface(pField != nullptr ? pField : pControl)
                     ->text(QAccessible::Name),
                 name);
    }

    void failedTrayIconIsReported() {
        QFETCH(bool, refused);
        CViewFixture f;
        f.m_tray.m_bResult = !refused;
        CBumpleView* v = f.Create();
        if (!refused) {
            QVERIFY(f.m_framework.m_messages.isEmpty());
            QVERIFY(f.m_pFrame->isHidden());
            f.m_tray.m_bShown = false;
            // A tray that comes while the box is open closes it.
            f.m_framework.m_onMessageBox = [v](const QString&) {
                SendMessage(v, WM_TRAY_NOTIFY, IDR_TRAY_MENU, NIN_TRAYFOUND);
            };
            SendMessage(v, WM_TRAY_NOTIFY, IDR_TRAY_MENU, NIN_TRAYMISSING);
            QCOMPARE(f.m_framework.m_endedBoxes, QStringList{"Failed to create tray icon"});
        }
        QCOMPARE(f.m_framework.m_messages, QStringList{"Failed to create tray icon"});
        QCOMPARE(f.m_framework.m_icons.at(0), MessageIcon::Stop);
        QCOMPARE(f.m_tray.m_calls.size(), size_t(1));
        // The window is the only way left to reach the program and to end it.
        QVERIFY(f.m_pFrame->isVisible());
        QCOMPARE(f.m_framework.m_foreground.back(), static_cast<QObject*>(f.m_pFrame.get()));
        // Without an icon "Return To Tray" keeps the window within reach.
        QTest::mouseClick(CDialogBuilder::GetDlgItem(v, IDC_RETURN_TO_TRAY), Qt::LeftButton);
        QVERIFY(f.m_pFrame->isMinimized());
        QVERIFY(!f.m_pFrame->isHidden());
    }

    void aboutFromTheTrayUnderABox() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        int activations = -1;
        f.m_framework.m_onMessageBox = [&](const QString&) {
            SendMessage(v, WM_COMMAND, ID_APP_ABOUT, 0);
            activations = f.m_framework.m_nModalActivations;
        };
        CPlatform::Framework().MessageBox(QStringLiteral("Bumple: WSAStartup failed"));
        // The open box comes to the front; no About box opens over it.
        QCOMPARE(activations, 1);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void nameListLoading_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selection");
        QTest::addColumn<QString>("text");
        QTest::newRow("gap ends the list")
            << QStringList{"\"ComboName0\"=\"a.test\"", "\"ComboName1\"=\"\"",
                           "\"ComboName2\"=\"c.test\""}
            << 1 << 0 << "a.test";
        QTest::newRow("selection past the end")
            << QStringList{"\"ComboName0\"=\"a.test\"", "\"ComboName1\"=\"b.test\"",
                           "\"ComboNameSel\"=\"2\""}
            << 2 << 0 << "a.test";
        QTest::newRow("negative selection")
            << QStringList{"\"ComboName0\"=\"a.test\"", "\"ComboNameSel\"=\"-1\""} << 1 << -1 << "";
        QTest::newRow("second selected")
            << QStringList{"\"ComboName0\"=\"a.test\"", "\"ComboName1\"=\"b.test\"",
                           "\"ComboNameSel\"=\"1\""}
            << 2 << 1 << "b.test";
    }
    void nameListLoading() {
        QFETCH(QStringList, settings);
        QFETCH(int, count);
        QFETCH(int, selection);
        QFETCH(QString, text);
        CViewFixture f(settings);
        CBumpleView* v = f.Create();
        QCOMPARE(v->m_comboName->GetCount(), count);
        QCOMPARE(v->m_comboName->GetCurSel(), selection);
        QCOMPARE(v->m_comboName->GetWindowText(), text);
        QCOMPARE(v->m_strName, text);
    }

    void hundredNamesLoadInFull() {
        QStringList settings;
        for (int i = 0; i < 100; ++i)
            settings.append(QStringLiteral("\"ComboName%1\"=\"n%1.test\"").arg(i));
        CViewFixture f(settings);
        QCOMPARE(f.Create()->m_comboName->GetCount(), 100);
    }

    void frameIsCentredThenFitted_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QRect>("first");
        QTest::newRow("1024x768") << QSize(1024, 768) << QRect(384, 269, 256, 230);
        QTest::newRow("800x600") << QSize(800, 600) << QRect(300, 210, 200, 180);
        QTest::newRow("640x480") << QSize(640, 480) << QRect(240, 168, 160, 144);
    }
    void frameIsCentredThenFitted() {
        QFETCH(QSize, screen);
        QFETCH(QRect, first);
        QCOMPARE(CMainFrame::PreCreateWindow(screen), first);

        CViewFixture f;
        f.m_framework.m_screen = screen;
        f.m_pFrame = std::make_unique<CMainFrame>();
        QCOMPARE(f.m_pFrame->geometry(), first);
        QCOMPARE(f.m_pFrame->windowTitle(), QStringLiteral("Bumple"));
        QVERIFY(!(f.m_pFrame->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(f.m_pFrame->windowFlags() & Qt::WindowMinMaxButtonsHint));
        auto* v = new CBumpleView(f.m_pFrame.get());
        f.m_pFrame->setCentralWidget(v);
        f.m_pFrame->SetActiveView(v);
        f.m_pView = v;
        MINMAXINFO limits{QSize(1, 1), QSize(2, 2)};
        f.m_pFrame->OnGetMinMaxInfo(&limits);
        QCOMPARE(limits.ptMaxTrackSize, QSize(2, 2));
        v->OnInitialUpdate();
        // A hidden frame is fitted only when it is first shown.
        QVERIFY(!v->m_bSizeKnown);
        QCOMPARE(f.m_pFrame->geometry(), first);
        f.m_pFrame->show();
        QVERIFY(v->m_bSizeKnown);
        QCOMPARE(f.m_pFrame->geometry().topLeft(), first.topLeft());
        QCOMPARE(f.m_pFrame->size(), v->m_sizeFrame);
        // Width: the Start button's width and twice its height. Height: down to the Return
        // To Tray button, then one and a half of its height and 10 pixels.
        const QWidget* pStart = CDialogBuilder::GetDlgItem(v, IDC_START);
        const QWidget* pBack = CDialogBuilder::GetDlgItem(v, IDC_RETURN_TO_TRAY);
        QCOMPARE(v->m_sizeFrame.width(), pStart->width() + 2 * pStart->height());
        const int backBottom = pBack->mapTo(f.m_pFrame.get(), QPoint(0, pBack->height())).y();
        QCOMPARE(v->m_sizeFrame.height(), backBottom + pBack->height() + pBack->height() / 2 + 10);
        f.m_pFrame->OnGetMinMaxInfo(&limits);
        QCOMPARE(limits.ptMinTrackSize, v->m_sizeFrame);
        QCOMPARE(limits.ptMaxTrackSize, v->m_sizeFrame);
        f.m_pFrame->resize(v->m_sizeFrame * 2);
        QCOMPARE(f.m_pFrame->size(), v->m_sizeFrame);
    }

    // The edit fields are made when the form is first shown; what the engine put in them
    // while hidden is what they show, and they then behave as before.
    void editFieldsKeepTheirTextsWhenShown() {
        CViewFixture f({"\"ComboName0\"=\"a.test\"", "\"ComboName1\"=\"b.test\"",
                        "\"ComboNameSel\"=\"1\"", "\"Often\"=\"7\""});
        CBumpleView* v = f.Create();
        v->m_editPeriod->SetWindowText(QStringLiteral("9"));
        QVERIFY(PeriodField(v) == nullptr);
        f.m_pFrame->show();
        QLineEdit* pPeriod = PeriodField(v);
        QVERIFY(pPeriod != nullptr && pPeriod->isVisible());
        QCOMPARE(pPeriod->text(), QStringLiteral("9"));
        QCOMPARE(pPeriod->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        QCOMPARE(pPeriod->geometry(), v->m_editPeriod->rect());
        QVERIFY(v->m_comboName->lineEdit() != nullptr);
        QCOMPARE(v->m_comboName->lineEdit()->text(), QStringLiteral("b.test"));
        QCOMPARE(v->m_comboName->GetCurSel(), 1);

        QTest::keyClicks(pPeriod, QStringLiteral("5"));
        QCOMPARE(v->m_editPeriod->GetWindowText(), QStringLiteral("95"));
        QTest::keyClicks(v->m_comboName->lineEdit(), QStringLiteral("x"));
        QCOMPARE(v->m_comboName->GetCurSel(), -1);
        QCOMPARE(v->m_comboName->GetWindowText(), QStringLiteral("b.testx"));
        QCOMPARE(v->m_comboName->GetCount(), 2);
    }

    // Tab walks the form's controls in the template's order, the period field included.
    void tabOrderFollowsTheTemplate() {
        CViewFixture f;
        CBumpleView* v = f.Create();
        f.m_pFrame->show();
        QList<QWidget*> expected = {CDialogBuilder::GetDlgItem(v, IDC_RETURN_TO_TRAY),
                                    PeriodField(v), v->m_comboName, v->m_btnStart,
                                    CDialogBuilder::GetDlgItem(v, IDC_SHUTDOWN)};
        QVERIFY(QTest::qWaitForWindowActive(f.m_pFrame.get()));
        expected.at(0)->setFocus();
        QList<QWidget*> walked;
        for (int i = 0; i < expected.size(); ++i) {
            walked.append(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        walked.append(QApplication::focusWidget());
        expected.append(expected.at(0));
        QCOMPARE(walked, expected);
    }

    void menuBarOfTheFrame() {
        CViewFixture f;
        f.Create();
        f.m_pFrame->show();
        QStringList titles;
        for (QAction* pAction : f.m_pFrame->menuBar()->actions())
            titles.append(pAction->text());
        QCOMPARE(titles, QStringList({"&Bumple", "&Help"}));
        QStringList items;
        for (QAction* pAction : f.m_pFrame->menuBar()->actions().at(0)->menu()->actions())
            items.append(pAction->text());
        QCOMPARE(items,
                 QStringList({"&Edit Names...", "&Options...", "Statistics...", "&History..."}));
        // F1 opens the manual, as Help Topics does.
        QTemporaryFile manual;
        QVERIFY(manual.open());
        f.m_app.m_strHelpFilePath = manual.fileName();
        f.m_pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.m_pFrame.get()));
        QTest::keyClick(f.m_pFrame.get(), Qt::Key_F1);
        QCOMPARE(f.m_framework.m_opened,
                 QStringList{QUrl::fromLocalFile(f.m_app.m_strHelpFilePath).toString()});
        // History: one modeless window however often it is asked for; Escape closes it.
        SendMessage(f.m_pFrame.get(), WM_COMMAND, ID_HISTORY, 0);
        SendMessage(f.m_pFrame.get(), WM_COMMAND, ID_HISTORY, 0);
        QList<CHistoryWnd*> shown;
        for (QWidget* pWindow : QApplication::topLevelWidgets())
            if (auto* pHistory = qobject_cast<CHistoryWnd*>(pWindow))
                shown.append(pHistory);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0]->isVisible() && !shown[0]->isModal());
        CHistoryWnd* pWnd = shown[0];
        QCOMPARE(QAccessible::queryAccessibleInterface(pWnd->m_pTable)->role(), QAccessible::Table);
        // The chart takes focus; Tab goes on from the table to the buttons.
        QAccessibleInterface* pChart = QAccessible::queryAccessibleInterface(pWnd->m_pChart);
        QCOMPARE(pChart->role(), QAccessible::Chart);
        QVERIFY(pChart->state().focusable);
        pWnd->m_pChart->setFocus();
        QTest::keyClick(pWnd->m_pChart, Qt::Key_Tab);
        QTest::keyClick(pWnd->m_pTable, Qt::Key_Tab);
        QCOMPARE(pWnd->focusWidget(), static_cast<QWidget*>(pWnd->m_pExport));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(pWnd->m_pChart)->text(QAccessible::Description),
            QStringLiteral("0 probes, 0 answered, no failure. Stopped since %1.")
                .arg(QDateTime::fromSecsSinceEpoch(f.m_framework.m_time).toString("HH:mm:ss")));
        // A row's header is its name, not a number.
        f.m_pView->m_history.LookupFailed(QStringLiteral("alpha.test"));
        QAccessibleTableCellInterface* pCell = QAccessible::queryAccessibleInterface(pWnd->m_pTable)
                                                   ->tableInterface()
                                                   ->cellAt(0, 1)
                                                   ->tableCellInterface();
        const QList<QAccessibleInterface*> headers = pCell->rowHeaderCells();
        // Qt hands the header out unowned: its cache takes it over.
        for (QAccessibleInterface* pHeader : headers)
            QAccessible::registerAccessibleInterface(pHeader);
        QCOMPARE(headers.at(0)->text(QAccessible::Name), QStringLiteral("alpha.test"));
        QTest::keyClick(shown[0], Qt::Key_Escape);
        QVERIFY(!shown[0]->isVisible());
    }

    void returnToTrayAndRestore_data() {
        QTest::addColumn<bool>("minimised");
        QTest::newRow("from hidden") << false;
        QTest::newRow("from minimised") << true;
    }
    void returnToTrayAndRestore() {
        QFETCH(bool, minimised);
        CViewFixture f;
        CBumpleView* v = f.Create();
        f.m_pFrame->show();
        QTest::mouseClick(CDialogBuilder::GetDlgItem(v, IDC_RETURN_TO_TRAY), Qt::LeftButton);
        QVERIFY(f.m_pFrame->isHidden());
        const QRect place = f.m_pFrame->geometry();
        if (minimised)
            f.m_pFrame->showMinimized();
        // The icon's double click is the Restore command.
        SendMessage(v, WM_TRAY_NOTIFY, 129, WM_LBUTTONDBLCLK);
        QVERIFY(f.m_pFrame->isVisible());
        QVERIFY(!f.m_pFrame->isMinimized());
        QCOMPARE(f.m_pFrame->geometry(), place);
        QCOMPARE(f.m_framework.m_foreground.back(), static_cast<QObject*>(f.m_pFrame.get()));
    }

    // No text of the form is clipped at 96 dpi or larger, nor in the gtk3 platform theme's
    // font ("Sans 10"): the buttons' texts keep clear of their borders, and the status line
    // holds its widest text. The bottom buttons stay in the columns of the controls above.
    void formTextsAreWhole_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<qreal>("points"); // 0: the application's font
        for (int dpi : {96, 110, 120, 144})
            QTest::addRow("%d dpi", dpi) << dpi << 0.0;
        for (int dpi : {96, 144})
            QTest::addRow("gtk3 font, %d dpi", dpi) << dpi << 10.0;
    }
    void formTextsAreWhole() {
        QFETCH(int, dpi);
        QFETCH(qreal, points);
        CViewFixture f;
        CBumpleView* v = f.Create();
        QFont font = QApplication::font();
        if (points > 0)
            font = QFont(QStringLiteral("Sans"), 10);
        font.setPointSizeF(font.pointSizeF() * dpi / 96);
        v->setFont(font);
        v->PrepareToShow();
        for (const QPushButton* pButton : v->findChildren<QPushButton*>()) {
            const int border = pButton->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            QVERIFY2(pButton->fontMetrics().horizontalAdvance(pButton->text()) + 2 * border + 2 <=
                         pButton->width(),
                     qPrintable(pButton->text()));
        }
        v->m_staticStatus->setText(QStringLiteral("Bumple completed at 23:59:59"));
        QVERIFY(v->m_staticStatus->sizeHint().width() <= v->m_staticStatus->width());
        QVERIFY(v->m_staticStatus->geometry().right() <= v->rect().right());
        const QRect start = v->m_btnStart->geometry();
        const QRect shutdown = CDialogBuilder::GetDlgItem(v, IDC_SHUTDOWN)->geometry();
        const QRect back = CDialogBuilder::GetDlgItem(v, IDC_RETURN_TO_TRAY)->geometry();
        QCOMPARE(shutdown.left(), start.left());
        QVERIFY(shutdown.right() < back.left());
        QVERIFY(back.right() <= v->rect().right());
    }

    // Enter presses the focused push button, anywhere else the default "Return To Tray".
    void enterPressesAButton_data() {
        QTest::addColumn<int>("focus");
        QTest::addColumn<bool>("hidden");  // "Return To Tray" pressed
        QTest::addColumn<bool>("started"); // "Start or Apply Changes" pressed
        QTest::newRow("name box") << IDC_NAME << true << false;
        QTest::newRow("period") << IDC_PERIOD << true << false;
        QTest::newRow("Return To Tray") << IDC_RETURN_TO_TRAY << true << false;
        QTest::newRow("Start or Apply Changes") << IDC_START << false << true;
    }
    void enterPressesAButton() {
        QFETCH(int, focus);
        QFETCH(bool, hidden);
        QFETCH(bool, started);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        f.m_pFrame->show();
        f.m_pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.m_pFrame.get()));
        QWidget* pControl = CDialogBuilder::GetDlgItem(v, focus);
        pControl->setFocus();
        QWidget* pFocus = QApplication::focusWidget();
        QVERIFY(pFocus == pControl || pControl->isAncestorOf(pFocus));
        QTest::keyClick(pFocus, Qt::Key_Return);
        QCOMPARE(f.m_pFrame->isHidden(), hidden);
        QCOMPARE(f.m_statusLog.contains(QStringLiteral("Starting Connection")), started);
    }

    // The name box's field does not scroll sideways: typing stops where the field is full.
    void typedNameIsLimitedToTheField() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        f.m_pFrame->show();
        QLineEdit* pEdit = v->m_comboName->lineEdit();
        pEdit->clear();
        QTest::keyClicks(pEdit, QStringLiteral("short.example"));
        QCOMPARE(v->m_comboName->GetWindowText(), QStringLiteral("short.example"));
        pEdit->clear();
        const QString literal = QStringLiteral("[2001:db8:85a3:1234:5678:8a2e:370:7334]");
        QTest::keyClicks(pEdit, literal);
        QCOMPARE(v->m_comboName->GetWindowText(), literal);
        pEdit->clear();
        QTest::keyClicks(pEdit, QString(200, QLatin1Char('w')));
        const QString typed = v->m_comboName->GetWindowText();
        QVERIFY(typed.size() > 10);
        QVERIFY(typed.size() < 200);
        QVERIFY(pEdit->fontMetrics().horizontalAdvance(typed) < pEdit->width());
        // What the field shows starts at the first letter: it never scrolled.
        pEdit->setCursorPosition(int(typed.size()));
        QVERIFY(pEdit->inputMethodQuery(Qt::ImCursorRectangle).toRect().right() < pEdit->width());
        // A longer text put there whole can still be shortened.
        v->m_comboName->SetWindowText(QString(200, QLatin1Char('w')));
        QTest::keyClick(pEdit, Qt::Key_End);
        QTest::keyClick(pEdit, Qt::Key_Backspace);
        QCOMPARE(v->m_comboName->GetWindowText(), QString(199, QLatin1Char('w')));
    }

    void trayMenuExitAndShutdownStopTheEngine_data() {
        QTest::addColumn<int>("command");
        QTest::newRow("tray Exit") << ID_EXIT;
        QTest::newRow("Shutdown button") << IDC_SHUTDOWN;
    }
    void trayMenuExitAndShutdownStopTheEngine() {
        QFETCH(int, command);
        CViewFixture f({"\"AutoStart\"=\"0\"", "\"ComboName0\"=\"127.0.0.1\""});
        CBumpleView* v = f.Create();
        v->m_bLocalAddressKnown = TRUE;
        v->OnStartOrApply();
        f.Tick();
        QVERIFY(!f.m_sockets.m_open.empty());
        f.m_framework.m_nChosenCommand = command == ID_EXIT ? ID_EXIT : 0;
        if (command == ID_EXIT) {
            SendMessage(v, WM_TRAY_NOTIFY, 129, WM_RBUTTONUP);
            QCOMPARE(f.m_framework.m_popups.size(), size_t(1));
            QCOMPARE(f.m_framework.m_popups[0].defaultItem, 0);
            CViewFixture::Pump();
        } else {
            QTest::mouseClick(CDialogBuilder::GetDlgItem(v, IDC_SHUTDOWN), Qt::LeftButton);
        }
        QVERIFY(f.m_pFrame->isHidden());
        f.m_pFrame.reset();
        QVERIFY(f.m_sockets.m_open.empty());
        QVERIFY(!f.m_tray.m_bShown);
        QCOMPARE(f.m_tray.m_calls.back().dwMessage, NIM_DELETE);
    }

    void menuCommandsReachTheView() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        // Start or Apply through the frame's routing, as a menu command would go.
        SendMessage(f.m_pFrame.get(), WM_COMMAND, IDC_START, 0);
        QVERIFY(v->m_bBusy);
        QVERIFY(f.m_sockets.m_lookups.size() == 1);
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
