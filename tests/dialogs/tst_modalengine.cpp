#include "ArmedEngine.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CMainFrame.h"
#include "CModalDriver.h"
#include "CQtFramework.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {
using Command = std::function<void(CBumpleView*)>;

QList<QMessageBox*> OpenBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pBox = qobject_cast<QMessageBox*>(pWidget); pBox != nullptr && pBox->isVisible())
            boxes.append(pBox);
    return boxes;
}

const QLabel* BoxLabel(const QMessageBox* pBox) {
    return pBox->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
}

// A window that tells how many watch for its end.
class CWatchedWindow : public QObject {
public:
    int Watchers() const { return receivers(SIGNAL(destroyed(QObject*))); }
};
} // namespace

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

    // The real timer under the engine's own box, which opens inside the tick handler: the
    // count goes on, and a period that ends under the box probes again from its loop.
    void realTimerTicksUnderTheCannotConnectBox() {
        CQtFramework framework;
        CViewFixture f({"\"AutoStart\"=\"0\"", "\"Ignore\"=\"0\"", "\"ComboName0\"=\"127.0.0.1\""});
        CBumpleView* v = f.Create();
        const CPlatform::Scope real(&f.m_sockets, &f.m_tray, &framework);
        f.m_sockets.m_connectResults = {SOCKET_ERROR, SOCKET_ERROR};
        ArmLoopbackEngine(v);
        // Periods of two ticks: the first tick probes, and a whole period fits under the box.
        v->m_nPeriod = v->m_nCurPeriod = 2;
        v->m_nTick = 1;
        QStringList countdownsUnderBox;
        int mostBoxes = 0;
        QTimer watch;
        const QDeadlineTimer giveUp(8000);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QList<QMessageBox*> boxes = OpenBoxes();
            mostBoxes = qMax(mostBoxes, int(boxes.size()));
            if (boxes.size() == 1 && !countdownsUnderBox.contains(v->m_staticCountdown->text()))
                countdownsUnderBox.append(v->m_staticCountdown->text());
            if (boxes.size() >= 2 || giveUp.hasExpired())
                for (QMessageBox* pBox : boxes)
                    pBox->done(QMessageBox::Ok);
        });
        watch.start(20);
        QVERIFY(
            CViewFixture::WaitFor([&] { return mostBoxes >= 2 && OpenBoxes().isEmpty(); }, 10000));
        QCOMPARE(f.m_sockets.m_connectAddresses.size(), size_t(2));
        QCOMPARE(v->m_nHttpFailures, 2);
        QVERIFY(countdownsUnderBox.contains(CBumpleView::FormatTimeLeft(1)));
        QCOMPARE(f.m_tray.m_strTip, QStringLiteral("Bumple has stopped"));
        QVERIFY(!v->m_staticNextLabel->isEnabled());
    }

    // Offline, each restart sets the one-second retry timer and its tick kills it: a day of
    // that leaves one watch on the window, not one a restart.
    void realTimerWatchesOverAnOfflineDay() {
        CQtFramework framework;
        CWatchedWindow window;
        for (int second = 0; second < 24 * 60 * 60; ++second) {
            framework.SetTimer(&window, ID_TIMER_RETRY, 1000);
            framework.KillTimer(&window, ID_TIMER_RETRY);
        }
        QCOMPARE(window.Watchers(), 1);
    }

    // A name that looks like markup is shown as typed, and the footer keeps its lines.
    void boxShowsItsTextAsPlainText() {
        CQtFramework framework;
        const QString text = QStringLiteral("Bumple: Name <b>x</b>.invalid Not Found.\n\nBumple "
                                            "launched at time 08:15:02\nThis message created at "
                                            "time 09:01:44");
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QMessageBox* pBox : OpenBoxes()) {
                shown = BoxLabel(pBox)->text();
                format = BoxLabel(pBox)->textFormat();
                pBox->done(QMessageBox::Ok);
            }
        });
        watch.start(20);
        QCOMPARE(framework.MessageBox(text, MessageIcon::Exclamation), IDOK);
        QCOMPARE(shown, text);
        QCOMPARE(format, Qt::PlainText);
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
