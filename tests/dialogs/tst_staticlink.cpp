#include "CContrast.h"
#include "CDialog.h"
#include "CPlatform.h"
#include "CQtFramework.h"
#include "CScriptedFramework.h"
#include "CStaticLink.h"
#include "CViewFixture.h"
#include "CWindowMessage.h"
#include "DialogTemplates.h"
#include "Resources.h"

#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace {
const QColor kBlue(0, 0, 255);
const QColor kPurple(128, 0, 128);
const QString kWeb = QStringLiteral("http://quellmoor.example/");
const QString kEmail = QStringLiteral("mara@quellmoor.example");

int PixelsOf(QWidget* pWidget, const QColor& color) {
    const QImage image = pWidget->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y).rgb() == color.rgb() ? 1 : 0;
    return n;
}

// The pointer as the window system reports it to a tracking widget.
void MoveTo(QWidget* pWidget, const QPoint& point) {
    QMouseEvent move(QEvent::MouseMove, point, pWidget->mapToGlobal(point), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pWidget, &move);
}

void Leave(QWidget* pWidget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(pWidget, &leave);
}

bool ShowsHand(const CStaticLink& link) {
    return link.cursor().shape() == Qt::BitmapCursor;
}
} // namespace

class TestStaticLink : public QObject {
    Q_OBJECT

    std::unique_ptr<CScriptedFramework> m_pFramework;
    std::optional<CPlatform::Scope> m_twins;
    std::unique_ptr<CDialog> m_pDlg;
    std::unique_ptr<CStaticLink> m_pLink;
    BOOL m_bVisited = 0;

    // The About box's label of that id, taken over by a link with the test's visited flag.
    CStaticLink& Attach(int id, BOOL bVisited = 0) {
        m_bVisited = bVisited;
        m_pLink->SubclassDlgItem(id, m_pDlg.get());
        m_pLink->m_pVisited = &m_bVisited;
        m_pDlg->show();
        return *m_pLink;
    }
    QPoint Inside() const { return m_pLink->rect().center(); }

private slots:
    void init() {
        m_pFramework = std::make_unique<CScriptedFramework>();
        m_twins.emplace(nullptr, nullptr, m_pFramework.get());
        m_pDlg = std::make_unique<CDialog>(LoadDialogTemplate(IDD_ABOUTBOX));
        m_pDlg->Create();
        m_pLink = std::make_unique<CStaticLink>();
    }
    void cleanup() {
        m_pLink.reset();
        m_pDlg.reset();
        m_twins.reset();
    }

    void takesThePlaceOfTheLabel() {
        const QWidget* pLabel = m_pDlg->GetDlgItem(IDC_WEB_LINK);
        const QRect place = pLabel->geometry();
        QVERIFY(m_pLink->SubclassDlgItem(IDC_WEB_LINK, m_pDlg.get()));
        QCOMPARE(m_pDlg->GetDlgItem(IDC_WEB_LINK), m_pLink.get());
        QCOMPARE(m_pLink->geometry(), place);
        QCOMPARE(m_pLink->text(), kWeb);
        QCOMPARE(m_pLink->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QVERIFY(!m_pLink->SubclassDlgItem(IDC_EMAIL_LINK, m_pDlg.get()));
    }

    void clickOpensTheTarget_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("target");
        QTest::newRow("web address") << kWeb << kWeb;
        QTest::newRow("author's e-mail") << kEmail << QStringLiteral("mailto:") + kEmail;
        QTest::newRow("already mailto")
            << QStringLiteral("mailto:") + kEmail << QStringLiteral("mailto:") + kEmail;
        QTest::newRow("another mailbox")
            << QStringLiteral("anna@quellmoor.example") << QStringLiteral("anna@quellmoor.example");
        QTest::newRow("mailbox without at sign")
            << QStringLiteral("http://mara.example/") << QStringLiteral("http://mara.example/");
    }
    void clickOpensTheTarget() {
        QFETCH(QString, text);
        QFETCH(QString, target);
        CStaticLink& link = Attach(IDC_EMAIL_LINK);
        link.setText(text);
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        QCOMPARE(m_pFramework->m_opened, QStringList({target, target}));
        QCOMPARE(m_bVisited, 1);
    }

    void successTurnsTheLinkPurple() {
        m_pFramework->m_bHoldOpeners = true;
        CStaticLink& link = Attach(IDC_WEB_LINK);
        MoveTo(&link, Inside());
        QVERIFY(PixelsOf(&link, kBlue) > 0);
        QCOMPARE(PixelsOf(&link, kPurple), 0);
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        // The colour changes when the opener reports back.
        QCOMPARE(m_bVisited, 0);
        QCOMPARE(PixelsOf(&link, kPurple), 0);
        m_pFramework->m_openers.at(0)(true);
        QCOMPARE(m_bVisited, 1);
        QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(PixelsOf(&link, kPurple) > 0);
        QCOMPARE(PixelsOf(&link, kBlue), 0);
        QVERIFY(link.m_fontUnderline.underline());
        QCOMPARE(m_pFramework->m_nBeeps, 0);
    }

    void failureBeepsAndStaysBlue() {
        m_pFramework->m_bHoldOpeners = true;
        CStaticLink& link = Attach(IDC_WEB_LINK);
        MoveTo(&link, Inside());
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        QCOMPARE(m_pFramework->m_nBeeps, 0);
        m_pFramework->m_openers.at(0)(false);
        QCOMPARE(m_pFramework->m_nBeeps, 1);
        QCOMPARE(m_bVisited, 0);
        QVERIFY(!ShowsHand(link));
        QVERIFY(PixelsOf(&link, kBlue) > 0);
        QCOMPARE(PixelsOf(&link, kPurple), 0);
        QCOMPARE(m_pFramework->m_opened, QStringList{kWeb});
    }

    // On a dark dialog, where blue and purple fall short of 4.5:1, the palette's link
    // colours; where those fall short too (gtk3's Adwaita:dark, qt6ct's darker Fusion), blue
    // or purple lightened until they read.
    void darkPaletteKeepsLinksReadable_data() {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("linkColour"); // the palette's
        QTest::addColumn<int>("visited");
        QTest::addColumn<QColor>("text"); // invalid: the link colour's own hue
        QTest::newRow("unvisited") << QColor(0x303030) << QColor(Qt::cyan) << 0 << QColor(Qt::cyan);
        QTest::newRow("visited") << QColor(0x303030) << QColor(Qt::yellow) << 1
                                 << QColor(Qt::yellow);
        QTest::newRow("Adwaita:dark") << QColor(0x323232) << QColor(0x308cc6) << 0 << QColor();
        QTest::newRow("Adwaita visited") << QColor(0x323232) << QColor(0xff00ff) << 1 << QColor();
        QTest::newRow("darker Fusion") << QColor(0x222020) << QColor(0x0986d3) << 0 << QColor();
        QTest::newRow("Fusion visited") << QColor(0x222020) << QColor(0xa70b06) << 1 << QColor();
    }
    void darkPaletteKeepsLinksReadable() {
        QFETCH(QColor, window);
        QFETCH(QColor, linkColour);
        QFETCH(int, visited);
        QFETCH(QColor, text);
        QPalette palette = m_pDlg->palette();
        palette.setColor(QPalette::Window, window);
        palette.setColor(visited ? QPalette::LinkVisited : QPalette::Link, linkColour);
        m_pDlg->setPalette(palette);
        CStaticLink& link = Attach(IDC_WEB_LINK, visited);
        const QColor drawn = link.TextColour();
        QVERIFY(PixelsOf(&link, drawn) > 0);
        QCOMPARE(PixelsOf(&link, visited ? kPurple : kBlue), 0);
        if (text.isValid())
            QCOMPARE(drawn, text);
        else
            QCOMPARE(drawn.hslHue(), (visited ? kPurple : kBlue).hslHue());
        QVERIFY(CContrast::Ratio(drawn, window) >= 4.5);
    }

    // One opening per gesture: a double click, or a key held down until it repeats, also
    // where Qt took a repeat (a release and a press at the same time) for new presses.
    void oneOpeningPerGesture_data() {
        QTest::addColumn<int>("key");     // 0: a double click
        QTest::addColumn<bool>("marked"); // Qt marked the repeats
        QTest::newRow("double click") << 0 << true;
        QTest::newRow("Enter held") << int(Qt::Key_Return) << true;
        QTest::newRow("Enter held, repeats unmarked") << int(Qt::Key_Return) << false;
    }
    void oneOpeningPerGesture() {
        QFETCH(int, key);
        QFETCH(bool, marked);
        CStaticLink& link = Attach(IDC_WEB_LINK);
        if (key == 0) {
            // As a widget gets it: the second press comes as the double click alone.
            for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
                QMouseEvent event(type, Inside(), link.mapToGlobal(Inside()), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(&link, &event);
            }
        } else {
            QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
            QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, QString(), marked);
            QKeyEvent again(QEvent::KeyPress, key, Qt::NoModifier, QString(), marked);
            down.setTimestamp(100);
            up.setTimestamp(700);
            again.setTimestamp(700);
            for (QKeyEvent* pEvent : {&down, &up, &again})
                QApplication::sendEvent(&link, pEvent);
        }
        QCOMPARE(m_pFramework->m_opened, QStringList{kWeb});
    }

    void visitedFlagShowsPurpleFromTheFirstPaint() {
        CStaticLink& link = Attach(IDC_EMAIL_LINK, 1);
        QVERIFY(PixelsOf(&link, kPurple) > 0);
        QCOMPARE(PixelsOf(&link, kBlue), 0);
    }

    void hoverShowsTheHandExceptForASecondAfterAClick_data() {
        QTest::addColumn<bool>("opens");
        QTest::newRow("link opened") << true;
        QTest::newRow("link not opened") << false;
    }
    void hoverShowsTheHandExceptForASecondAfterAClick() {
        QFETCH(bool, opens);
        m_pFramework->m_bOpenSucceeds = opens;
        CStaticLink& link = Attach(IDC_WEB_LINK);
        QVERIFY(!ShowsHand(link));
        MoveTo(&link, Inside());
        QVERIFY(ShowsHand(link));
        QCOMPARE(link.m_bCaptured, TRUE);
        QCOMPARE(link.cursor().hotSpot(), QPoint(0, 0));
        Leave(&link);
        QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(link.m_bCaptured, FALSE);

        MoveTo(&link, Inside());
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        QCOMPARE(m_pFramework->m_timers.at(105), UINT(1000));
        QVERIFY(!ShowsHand(link));
        Leave(&link);
        MoveTo(&link, Inside());
        QVERIFY(!ShowsHand(link));
        QCOMPARE(link.m_bCaptured, FALSE);

        SendMessage(&link, WM_TIMER, 105, 0);
        QVERIFY(!m_pFramework->IsTimerSet(105));
        QCOMPARE(m_pFramework->m_timerLog, QStringList({"set 105", "kill 105"}));
        MoveTo(&link, Inside());
        QVERIFY(ShowsHand(link));
    }

    // The desktop's opener decides: its exit status, or still running after the wait. The
    // call returns at once, and the report comes from the event loop.
    void desktopOpenerDecides_data() {
        QTest::addColumn<QString>("opener"); // the script's body; empty: no opener at all
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("held"); // the opener waits for the test's word
        QTest::newRow("opener succeeds") << QStringLiteral("exit 0") << true << false;
        QTest::newRow("no program for it") << QStringLiteral("exit 3") << false << false;
        QTest::newRow("program in the foreground")
            << QStringLiteral("exec sleep 5") << true << false;
        QTest::newRow("no opener") << QString() << false << false;
        QTest::newRow("slow opener")
            << QStringLiteral("while [ ! -e \"$0.go\" ]; do sleep 0.05; done") << true << true;
    }
    void desktopOpenerDecides() {
        QFETCH(QString, opener);
        QFETCH(bool, opened);
        QFETCH(bool, held);
        QTemporaryDir bin;
        const QString argument = bin.filePath(QStringLiteral("argument"));
        if (!opener.isEmpty()) {
            QFile script(bin.filePath(QStringLiteral("xdg-open")));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nprintf %s \"$1\" >'%1'\n%2\n")
                             .arg(argument, opener)
                             .toUtf8());
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + (opener.isEmpty() ? QByteArray() : ":" + path));
        CQtFramework framework;
        int reports = 0;
        bool result = !opened;
        framework.ShellExecuteOpen(QStringLiteral("mailto:") + kEmail, [&](bool ok) {
            ++reports;
            result = ok;
        });
        qputenv("PATH", path);
        QCOMPARE(reports, 0);
        if (held) {
            // The event loop runs while the opener works, and nothing is reported yet.
            QVERIFY(CViewFixture::WaitFor([&] { return QFile::exists(argument); }));
            QCOMPARE(reports, 0);
            QFile go(bin.filePath(QStringLiteral("xdg-open.go")));
            QVERIFY(go.open(QIODevice::WriteOnly));
        }
        QVERIFY(
            CViewFixture::WaitFor([&] { return reports > 0; }, CQtFramework::kOpenerWaitMs + 2000));
        QCOMPARE(reports, 1);
        QCOMPARE(result, opened);
        if (!opener.isEmpty()) {
            QFile written(argument);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(), (QStringLiteral("mailto:") + kEmail).toUtf8());
        }
    }

    // A label that is not plain text keeps its own look, yet still opens on a click.
    void richTextIsLeftUncoloured() {
        auto* pLabel = qobject_cast<QLabel*>(m_pDlg->GetDlgItem(IDC_WEB_LINK));
        pLabel->setTextFormat(Qt::RichText);
        CStaticLink& link = Attach(IDC_WEB_LINK);
        QCOMPARE(PixelsOf(&link, kBlue), 0);
        QCOMPARE(PixelsOf(&link, kPurple), 0);
        QTest::mouseClick(&link, Qt::LeftButton, {}, Inside());
        QCOMPARE(m_pFramework->m_opened, QStringList{kWeb});
    }
};

QTEST_MAIN(TestStaticLink)
#include "tst_staticlink.moc"
