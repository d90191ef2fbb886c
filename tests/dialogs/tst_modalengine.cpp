#include "ArmedEngine.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CModalDriver.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"

#include <QLabel>
#include <QTest>

namespace {
using Command = std::function<void(CBumpleView*)>;
}

Q_DECLARE_METATYPE(Command)

// The engine's timer keeps being handled inside every dialog's modal loop.
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
};

QTEST_MAIN(TestModalEngine)
#include "tst_modalengine.moc"
