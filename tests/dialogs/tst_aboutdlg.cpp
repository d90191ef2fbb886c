#include "CAboutDlg.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CModalDriver.h"
#include "CViewFixture.h"
#include "DialogTemplates.h"
#include "Resources.h"

#include <QAccessible>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QTest>

namespace {
QString Text(CDialog& dlg, int id) {
    const auto* pLabel = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return pLabel != nullptr ? pLabel->text() : QStringLiteral("<none>");
}

CStaticLink* Link(CDialog& dlg, int id) {
    return qobject_cast<CStaticLink*>(dlg.GetDlgItem(id));
}
} // namespace

class TestAboutDlg : public QObject {
    Q_OBJECT

private slots:
    // Each group box's frame line runs through the middle of its title, half a text line
    // below the box's top (not below the title), at 96 dpi and larger and in the gtk3
    // platform theme's font ("Sans 10"); no label's text is clipped.
    void groupTitlesSitOnTheirFrameLines_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<bool>("gtk3");
        for (int dpi : {96, 120, 144}) {
            QTest::addRow("About %d dpi", dpi) << IDD_ABOUTBOX << dpi << false;
            QTest::addRow("Options %d dpi", dpi) << IDD_OPTIONS << dpi << false;
        }
        for (int dpi : {96, 144})
            QTest::addRow("About, gtk3 font, %d dpi", dpi) << IDD_ABOUTBOX << dpi << true;
    }
    void groupTitlesSitOnTheirFrameLines() {
        QFETCH(int, dialog);
        QFETCH(int, dpi);
        QFETCH(bool, gtk3);
        CDialog dlg(LoadDialogTemplate(dialog));
        QFont font = gtk3 ? QFont(QStringLiteral("Sans"), 10) : QApplication::font();
        font.setPointSizeF(font.pointSizeF() * dpi / 96);
        dlg.setFont(font);
        dlg.Create();
        for (const QLabel* pLabel : dlg.findChildren<QLabel*>()) {
            const bool bWhole = pLabel->wordWrap()
                                    ? pLabel->heightForWidth(pLabel->width()) <= pLabel->height()
                                    : pLabel->sizeHint().width() <= pLabel->width();
            QVERIFY2(bWhole, qPrintable(pLabel->text()));
        }
        const QImage image = dlg.grab().toImage();
        const QList<QGroupBox*> boxes = dlg.findChildren<QGroupBox*>();
        QVERIFY(!boxes.isEmpty());
        const qreal dpr = image.devicePixelRatio(); // 2 under QT_SCALE_FACTOR=2
        for (const QGroupBox* pBox : boxes) {
            // A column right of the title, from the box's top down to the first line drawn.
            const int x = int((pBox->x() + pBox->width() * 9 / 10) * dpr);
            const QRgb background = image.pixel(x, int(pBox->y() * dpr));
            int line = int(pBox->y() * dpr);
            while (line < pBox->geometry().bottom() * dpr && image.pixel(x, line) == background)
                ++line;
            QVERIFY2(qAbs(line / dpr - pBox->y() - pBox->fontMetrics().height() / 2) <= 2,
                     qPrintable(pBox->title()));
        }
    }

    void uptimeText_data() {
        QTest::addColumn<DWORD>("now");
        QTest::addColumn<DWORD>("launch");
        QTest::addColumn<QString>("text");
        QTest::newRow("at launch") << DWORD(5000) << DWORD(5000) << "0 seconds";
        QTest::newRow("119 s") << DWORD(119999) << DWORD(0) << "119 seconds";
        QTest::newRow("120 s") << DWORD(120000) << DWORD(0) << "2 minutes";
        QTest::newRow("179 s") << DWORD(179999) << DWORD(0) << "2 minutes";
        QTest::newRow("ten hours") << DWORD(36000000 + 777) << DWORD(777) << "600 minutes";
        QTest::newRow("across the wrap")
            << DWORD(5000) << DWORD(0xFFFFFFFFu - 4999u) << "10 seconds";
        QTest::newRow("longest") << DWORD(999) << DWORD(1000) << "71582 minutes";
    }
    void uptimeText() {
        QFETCH(DWORD, now);
        QFETCH(DWORD, launch);
        QFETCH(QString, text);
        QCOMPARE(CAboutDlg::UptimeText(now, launch), text);
    }

    void showsTheAddressAndTheTimeSinceLaunch_data() {
        QTest::addColumn<bool>("resolved");
        QTest::addColumn<DWORD>("elapsed");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("uptime");
        QTest::newRow("just launched") << false << DWORD(1500) << "no address yet"
                                       << "1 seconds";
        QTest::newRow("resolved") << true << DWORD(130000) << "127.1.2.3"
                                  << "2 minutes";
    }
    void showsTheAddressAndTheTimeSinceLaunch() {
        QFETCH(bool, resolved);
        QFETCH(DWORD, elapsed);
        QFETCH(QString, address);
        QFETCH(QString, uptime);
        CViewFixture f({"\"AutoStart\"=\"0\""});
        f.m_framework.m_dwTicks = 0xFFFFF000u;
        CBumpleView* v = f.Create();
        if (resolved)
            v->m_strLocalAddress = QStringLiteral("127.1.2.3");
        f.m_framework.m_dwTicks += elapsed;
        QStringList shown;
        CModalDriver driver([&](CDialog& dlg) {
            shown = QStringList{Text(dlg, IDC_ADDRESS), Text(dlg, IDC_UPTIME)};
            QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton);
        });
        v->OnAbout();
        QVERIFY(driver.m_bRan);
        QVERIFY(!driver.m_bLeftOpen);
        QCOMPARE(shown, QStringList({address, uptime}));
    }

    // Tab reaches both links after OK; Enter and Space follow the focused one. A screen
    // reader finds the icon by its name and each link as a link it can press.
    void keyboardAndScreenReaders() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        QStringList focus;
        QString icon;
        CModalDriver driver([&](CDialog& dlg) {
            for (QLabel* pLabel : dlg.findChildren<QLabel*>())
                if (pLabel->text().isEmpty()) // the icon's picture
                    icon = QAccessible::queryAccessibleInterface(pLabel)->text(QAccessible::Name);
            dlg.GetDlgItem(IDOK)->setFocus();
            for (int i = 0; i < 3; ++i) {
                QTest::keyClick(dlg.focusWidget(), Qt::Key_Tab);
                focus << dlg.focusWidget()->property("ctrlId").toString();
            }
            QTest::keyClick(Link(dlg, IDC_WEB_LINK), Qt::Key_Space);
            QTest::keyClick(Link(dlg, IDC_EMAIL_LINK), Qt::Key_Return);
            QAccessibleInterface* pWeb =
                QAccessible::queryAccessibleInterface(Link(dlg, IDC_WEB_LINK));
            QCOMPARE(pWeb->role(), QAccessible::Link);
            QCOMPARE(pWeb->text(QAccessible::Name), QStringLiteral("http://quellmoor.example/"));
            QVERIFY(pWeb->actionInterface() != nullptr);
            pWeb->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        });
        v->OnAbout();
        QVERIFY(driver.m_bRan);
        QCOMPARE(icon, QStringLiteral("Bumple"));
        QCOMPARE(focus, QStringList({QString::number(IDC_EMAIL_LINK), QString::number(IDC_WEB_LINK),
                                     QString::number(IDOK)}));
        QCOMPARE(f.m_framework.m_opened,
                 QStringList({"http://quellmoor.example/", "mailto:mara@quellmoor.example",
                              "http://quellmoor.example/"}));
    }

    // A screen reader finds each value and each option inside the group box that frames it,
    // labelled by its title.
    void groupTitlesLabelTheirControls_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("title");
        QTest::newRow("address") << IDD_ABOUTBOX << IDC_ADDRESS << "Your Current IP Address";
        QTest::newRow("time since launch") << IDD_ABOUTBOX << IDC_UPTIME << "Time Since Launch";
        QTest::newRow("Auto-Start") << IDD_OPTIONS << IDC_AUTO_START << "Automatic Function";
        QTest::newRow("Only When Idle") << IDD_OPTIONS << IDC_IDLE_ONLY << "Idle Function";
    }
    void groupTitlesLabelTheirControls() {
        QFETCH(int, dialog);
        QFETCH(int, id);
        QFETCH(QString, title);
        CDialog dlg(LoadDialogTemplate(dialog));
        dlg.Create();
        QAccessibleInterface* pControl = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(id));
        QCOMPARE(pControl->parent()->text(QAccessible::Name), title);
        QCOMPARE(pControl->relations(QAccessible::Label).value(0).first, pControl->parent());
    }

    // The visited flags live in the application object, so they outlast each box.
    void visitedFlagsOutliveTheBox() {
        CViewFixture f({"\"AutoStart\"=\"0\""});
        CBumpleView* v = f.Create();
        {
            CModalDriver driver([](CDialog& dlg) {
                CStaticLink* pWeb = Link(dlg, IDC_WEB_LINK);
                QTest::mouseClick(pWeb, Qt::LeftButton, {}, pWeb->rect().center());
            });
            v->OnAbout();
        }
        QCOMPARE(f.m_framework.m_opened, QStringList{"http://quellmoor.example/"});
        QCOMPARE(f.m_app.m_bWebLinkVisited, 1);
        QCOMPARE(f.m_app.m_bEmailLinkVisited, 0);

        f.m_framework.m_bOpenSucceeds = false;
        const BOOL* pEmailFlag = nullptr;
        const BOOL* pWebFlag = nullptr;
        CModalDriver again([&](CDialog& dlg) {
            pEmailFlag = Link(dlg, IDC_EMAIL_LINK)->m_pVisited;
            pWebFlag = Link(dlg, IDC_WEB_LINK)->m_pVisited;
            CStaticLink* pEmail = Link(dlg, IDC_EMAIL_LINK);
            QTest::mouseClick(pEmail, Qt::LeftButton, {}, pEmail->rect().center());
        });
        v->OnAbout();
        QCOMPARE(pEmailFlag, &f.m_app.m_bEmailLinkVisited);
        QCOMPARE(pWebFlag, &f.m_app.m_bWebLinkVisited);
        QCOMPARE(f.m_app.m_bWebLinkVisited, 1);
        QCOMPARE(f.m_app.m_bEmailLinkVisited, 0);
        QCOMPARE(f.m_framework.m_opened.last(), QStringLiteral("mailto:mara@quellmoor.example"));
        QCOMPARE(f.m_framework.m_nBeeps, 1);
    }
};

QTEST_MAIN(TestAboutDlg)
#include "tst_aboutdlg.moc"
