#include "ArmedEngine.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CMainFrame.h"
#include "CModalDriver.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QLabel>
#include <QTest>

namespace {
using Command = std::function<void(CBumpleView*)>;
}

Q_DECLARE_METATYPE(Command)

// The engine's timer keeps being handled inside every dialog's modal loop, and the tray's
// commands work under every dialog without opening a second one over it.
class TestModalEngine : public QObject {
    Q_OBJECT

private slots:
    void engineTicksUnderTheDialog_data() {
        QTest::addColumn<Command>("open");
        QTest::newRow("Options") << Command([](CBumpleView* v) { v->OnOptions(); });
        QTest::newRow("Edit Names") << Command([](CBumpleView* v) { v->OnEditNames(); });
        QTest::newRow("Statistics") << Command([](CBumpleView* v) { v->OnStatistics(); });
        QTest::newRow("About") << Command([](CBumpleView* v) { v->OnAbout(); });
    }
    void engineTicksUnderTheDialog() {
        QFETCH(Command, open);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        ArmLoopbackEngine(v);
        const int tickBefore = v->m_nTick;
        int tickOpen = -1;
        QString countdownOpen;
        bool openWhileTicking = false;
        CModalDriver driver([&](CDialog& dlg) {
            // The first tick ends the period and probes; the second counts down.
            SendMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
            PostMessage(v, WM_TIMER, ID_TIMER_TICK, 0);
            QCoreApplication::sendPostedEvents(v);
            tickOpen = v->m_nTick;
            countdownOpen = v->m_staticCountdown->text();
            openWhileTicking = dlg.isVisible();
            dlg.OnCancel();
        });
        open(v);
        QVERIFY(driver.m_bRan);
        QVERIFY(openWhileTicking);
        QCOMPARE(tickBefore, 59);
        QCOMPARE(tickOpen, 1);
        QCOMPARE(countdownOpen, CBumpleView::FormatTimeLeft(59));
        QCOMPARE(f.m_sockets.m_connected.size(), size_t(1));
    }

    void trayUnderTheDialog_data() {
        QTest::addColumn<Command>("open");
        QTest::addColumn<UINT>("message");
        QTest::addColumn<int>("wParam");
        QTest::addColumn<int>("lParam");
        QTest::addColumn<bool>("frameShown");
        const Command options([](CBumpleView* v) { v->OnOptions(); });
        const Command about([](CBumpleView* v) { v->OnAbout(); });
        const Command names([](CBumpleView* v) { v->OnEditNames(); });
        const Command statistics([](CBumpleView* v) { v->OnStatistics(); });
        QTest::newRow("About over Options") << options << WM_COMMAND << ID_APP_ABOUT << 0 << false;
        QTest::newRow("About over About") << about << WM_COMMAND << ID_APP_ABOUT << 0 << false;
        QTest::newRow("Restore under Options") << options << WM_COMMAND << ID_RESTORE << 0 << true;
        QTest::newRow("Restore under Edit Names") << names << WM_COMMAND << ID_RESTORE << 0 << true;
        QTest::newRow("double click under Statistics")
            << statistics << WM_TRAY_NOTIFY << IDR_TRAY_MENU << int(WM_LBUTTONDBLCLK) << true;
        QTest::newRow("Exit under Options") << options << WM_COMMAND << ID_EXIT << 0 << false;
    }
    void trayUnderTheDialog() {
        QFETCH(Command, open);
        QFETCH(UINT, message);
        QFETCH(int, wParam);
        QFETCH(int, lParam);
        QFETCH(bool, frameShown);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        bool windowModal = false;
        bool stillOpen = false;
        int dialogsOpen = 0;
        CModalDriver driver([&](CDialog& dlg) {
            windowModal = dlg.windowModality() == Qt::WindowModal;
            // A second dialog would run its own loop here: it is counted and cancelled.
            QTimer::singleShot(0, [&] {
                for (QWidget* pWidget : QApplication::topLevelWidgets())
                    dialogsOpen +=
                        qobject_cast<CDialog*>(pWidget) != nullptr && pWidget->isVisible();
                if (dialogsOpen > 1)
                    qobject_cast<CDialog*>(QApplication::activeModalWidget())->OnCancel();
            });
            SendMessage(v, message, WPARAM(wParam), LPARAM(lParam));
            QCoreApplication::processEvents();
            stillOpen = dlg.isVisible();
        });
        open(v);
        QVERIFY(driver.m_bRan);
        QVERIFY(windowModal);
        QVERIFY(stillOpen);
        QCOMPARE(dialogsOpen, 1);
        QCOMPARE(f.m_pFrame->isVisible(), frameShown);
        // Restore and About bring the open dialog to the front; Exit closes the frame.
        QCOMPARE(f.m_framework.m_nModalActivations,
                 message == WM_COMMAND && wParam == ID_EXIT ? 0 : 1);
    }
};

QTEST_MAIN(TestModalEngine)
#include "tst_modalengine.moc"
