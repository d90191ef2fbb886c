#include "CMessageTarget.h"
#include "CPlatform.h"
#include "CQtShellTray.h"
#include "CScriptedFramework.h"
#include "CScriptedShellTray.h"
#include "CTrayNotifyIcon.h"
#include "Resources.h"

#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr UINT kNotify = WM_APP + 0x64;

// A window that records every message it handles, sent or posted.
class CTestOwner : public QObject, public CMessageTarget {
public:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        m_received.append(QStringLiteral("%1 %2 %3").arg(message).arg(wParam).arg(lParam));
        return 0;
    }
    bool event(QEvent* pEvent) override {
        return DispatchMessage(pEvent) || QObject::event(pEvent);
    }

    QStringList m_received;
};

// Sees the state an icon starts with.
class CFreshIcon : public CTrayNotifyIcon {
public:
    bool IsAllZero() const {
        const char zero[sizeof m_nid] = {};
        return std::memcmp(&m_nid, zero, sizeof m_nid) == 0 && !m_bAdded && !m_bHidden &&
               m_pOwner == nullptr;
    }
};

QByteArray TipBytes(const NOTIFYICONDATA& nid) {
    return QByteArray(nid.szTip, sizeof nid.szTip);
}

QByteArray Padded(QByteArray bytes) {
    bytes.resize(sizeof NOTIFYICONDATA::szTip, '\0');
    return bytes;
}

using Change = std::function<BOOL(CTrayNotifyIcon&, QObject* pOtherOwner)>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestTrayNotifyIcon : public QObject {
    Q_OBJECT

    std::unique_ptr<CScriptedShellTray> m_pTray;
    std::unique_ptr<CScriptedFramework> m_pFramework;
    std::optional<CPlatform::Scope> m_twins;
    CTestOwner m_owner;

    BOOL CreateNormal(CTrayNotifyIcon& icon, const QString& strTip = QStringLiteral("Bumple")) {
        return icon.Create(&m_owner, IDR_TRAY_MENU, strTip, LoadIconResource(IDI_NORMAL), kNotify);
    }

private slots:
    void init() {
        m_pTray = std::make_unique<CScriptedShellTray>();
        m_pFramework = std::make_unique<CScriptedFramework>();
        m_owner.m_received.clear();
        m_twins.emplace(nullptr, m_pTray.get(), m_pFramework.get());
    }
    void cleanup() { m_twins.reset(); }

    void startsEmpty() {
        CFreshIcon icon;
        QVERIFY(icon.IsAllZero());
        QVERIFY(icon.GetTooltipText().isEmpty());
        QCOMPARE(icon.GetIcon(), nullptr);
        QCOMPARE(icon.GetNotificationWnd(), nullptr);
    }

    void create_data() {
        QTest::addColumn<bool>("withOwner");
        QTest::addColumn<BOOL>("shellResult");
        QTest::newRow("accepted") << true << TRUE;
        QTest::newRow("refused") << true << FALSE;
        QTest::newRow("accepted without owner") << false << TRUE;
    }
    void create() {
        QFETCH(bool, withOwner);
        QFETCH(BOOL, shellResult);
        m_pTray->m_bResult = shellResult;
        QObject* pOwner = withOwner ? &m_owner : nullptr;
        const HICON hIcon = LoadIconResource(IDI_NORMAL);
        CTrayNotifyIcon icon;

        QCOMPARE(icon.Create(pOwner, IDR_TRAY_MENU, QStringLiteral("Bumple"), hIcon, kNotify),
                 shellResult);

        QCOMPARE(m_pTray->m_calls.size(), size_t(1));
        const auto& [dwMessage, nid] = m_pTray->m_calls[0];
        QCOMPARE(dwMessage, NIM_ADD);
        QCOMPARE(nid.cbSize, DWORD(88));
        QCOMPARE(nid.hWnd, pOwner);
        QCOMPARE(nid.uID, UINT(129));
        QCOMPARE(nid.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        QCOMPARE(nid.uCallbackMessage, UINT(0x8064));
        QCOMPARE(nid.hIcon, hIcon);
        QCOMPARE(TipBytes(nid), Padded("Bumple"));
        QCOMPARE(icon.GetNotificationWnd(), pOwner);
        QCOMPARE(icon.GetTooltipText(), shellResult ? QStringLiteral("Bumple") : QString());
        QCOMPARE(icon.GetIcon(), shellResult ? hIcon : nullptr);
        QCOMPARE(icon.IsShown(), shellResult);
    }

    void tipIsCut_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("kept");
        const QByteArray a63(63, 'a');
        QTest::newRow("title") << "Bumple" << QByteArray("Bumple");
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("exactly 63 bytes") << QString(a63) << a63;
        QTest::newRow("64 bytes") << QString(64, u'a') << a63;
        QTest::newRow("200 bytes") << QString(200, u'a') << a63;
        QTest::newRow("2-byte char ends at 63") << QString(61, u'a') + u'é' << (a63.left(61) + "é");
        QTest::newRow("2-byte char across 63") << QString(62, u'a') + u'é' << a63.left(62);
        QTest::newRow("3-byte char across 63") << QString(61, u'a') + u'€' << a63.left(61);
        QTest::newRow("4-byte char across 63")
            << QString(60, u'a') + QStringLiteral("😀") << a63.left(60);
    }
    void tipIsCut() {
        QFETCH(QString, text);
        QFETCH(QByteArray, kept);
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon, text));
        QVERIFY(icon.SetTooltipText(text));

        QCOMPARE(m_pTray->m_calls.size(), size_t(2));
        QCOMPARE(TipBytes(m_pTray->m_calls[0].nid), Padded(kept));
        QCOMPARE(m_pTray->m_calls[1].dwMessage, NIM_MODIFY);
        QCOMPARE(m_pTray->m_calls[1].nid.uFlags, NIF_TIP);
        QCOMPARE(TipBytes(m_pTray->m_calls[1].nid), Padded(kept));
        QCOMPARE(icon.GetTooltipText(), QString::fromUtf8(kept));
    }

    void changeWhileAdded_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<UINT>("flags");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<int>("iconId");
        QTest::addColumn<bool>("ownerMoves");
        // Each change that succeeds on an added icon, with the record it leaves.
        const auto row = [](const char* name, UINT flags, const char* tip, int iconId,
                            bool ownerMoves, const Change& change) {
            QTest::newRow(name) << change << flags << QString::fromUtf8(tip) << iconId
                                << ownerMoves;
        };
        const char* created = "Bumple in 1 sec";
        row("tip text", NIF_TIP, "Bumple has stopped", IDI_NORMAL, false, [](auto& icon, auto) {
            return icon.SetTooltipText(QStringLiteral("Bumple has stopped"));
        });
        row("tip from string 57344", NIF_TIP, "Bumple", IDI_NORMAL, false,
            [](auto& icon, auto) { return icon.SetTooltipText(UINT(IDS_APP_TITLE)); });
        row("icon 128 by id", NIF_ICON, created, IDI_NORMAL, false,
            [](auto& icon, auto) { return icon.SetIcon(UINT(IDI_NORMAL)); });
        row("icon 130 by id", NIF_ICON, created, IDI_STOPPED, false,
            [](auto& icon, auto) { return icon.SetIcon(UINT(IDI_STOPPED)); });
        row("icon 131 by id", NIF_ICON, created, IDI_WAITING, false,
            [](auto& icon, auto) { return icon.SetIcon(UINT(IDI_WAITING)); });
        row("icon by handle", NIF_ICON, created, IDI_WAITING, false,
            [](auto& icon, auto) { return icon.SetIcon(LoadIconResource(IDI_WAITING)); });
        row("icon by name #130", NIF_ICON, created, IDI_STOPPED, false,
            [](auto& icon, auto) { return icon.SetIcon(QStringLiteral("#130")); });
        row("owner", 0, created, IDI_NORMAL, true,
            [](auto& icon, QObject* pOther) { return icon.SetNotificationWnd(pOther); });
    }
    void changeWhileAdded() {
        QFETCH(Change, change);
        QFETCH(UINT, flags);
        QFETCH(QString, tip);
        QFETCH(int, iconId);
        QFETCH(bool, ownerMoves);
        CTestOwner other;
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon, QStringLiteral("Bumple in 1 sec")));

        QVERIFY(change(icon, &other));

        QObject* pOwner = ownerMoves ? &other : &m_owner;
        QCOMPARE(m_pTray->m_calls.size(), size_t(2));
        const auto& [dwMessage, nid] = m_pTray->m_calls[1];
        QCOMPARE(dwMessage, NIM_MODIFY);
        QCOMPARE(nid.uFlags, flags);
        QCOMPARE(nid.hWnd, pOwner);
        QCOMPARE(TipBytes(nid), Padded(tip.toUtf8()));
        QCOMPARE(nid.hIcon, LoadIconResource(iconId));
        QCOMPARE(icon.GetTooltipText(), tip);
        QCOMPARE(icon.GetIcon(), LoadIconResource(iconId));
        QCOMPARE(icon.GetNotificationWnd(), pOwner);
    }

    void changeNeedsTheIcon_data() { changeWhileAdded_data(); }
    void changeNeedsTheIcon() {
        QFETCH(Change, change);
        CTestOwner other;
        CTrayNotifyIcon fresh;
        QVERIFY(!change(fresh, &other));
        QCOMPARE(fresh.GetNotificationWnd(), nullptr);

        m_pTray->m_bResult = FALSE;
        CTrayNotifyIcon refused;
        QVERIFY(!CreateNormal(refused));
        m_pTray->m_bResult = TRUE;
        QVERIFY(!change(refused, &other));
        QCOMPARE(refused.GetNotificationWnd(), &m_owner);

        CTrayNotifyIcon removed;
        QVERIFY(CreateNormal(removed));
        removed.RemoveIcon();
        QVERIFY(!change(removed, &other));

        QCOMPARE(m_pTray->m_calls.size(), size_t(3)); // refused add, add, delete
    }

    void refusedChange_data() {
        QTest::addColumn<Change>("change");
        const auto row = [](const char* name, const Change& change) {
            QTest::newRow(name) << change;
        };
        row("cursor 119 is no icon",
            [](auto& icon, auto) { return icon.SetIcon(UINT(IDC_HAND_CURSOR)); });
        row("icon id 0", [](auto& icon, auto) { return icon.SetIcon(UINT(0)); });
        row("icon name without #",
            [](auto& icon, auto) { return icon.SetIcon(QStringLiteral("128")); });
        row("icon name #999",
            [](auto& icon, auto) { return icon.SetIcon(QStringLiteral("#999")); });
        row("string id 1", [](auto& icon, auto) { return icon.SetTooltipText(UINT(1)); });
        row("standard icon id 1", [](auto& icon, auto) { return icon.SetStandardIcon(UINT(1)); });
        row("standard icon IDI_NORMAL",
            [](auto& icon, auto) { return icon.SetStandardIcon(QStringLiteral("IDI_NORMAL")); });
    }
    void refusedChange() {
        QFETCH(Change, change);
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon));
        QVERIFY(!change(icon, nullptr));
        QCOMPARE(m_pTray->m_calls.size(), size_t(1));
        QCOMPARE(icon.GetIcon(), LoadIconResource(IDI_NORMAL));
        QCOMPARE(icon.GetTooltipText(), QStringLiteral("Bumple"));
    }

    void standardIcon_data() {
        QTest::addColumn<UINT>("id");
        QTest::newRow("IDI_APPLICATION") << IDI_APPLICATION;
        QTest::newRow("IDI_HAND") << IDI_HAND;
        QTest::newRow("IDI_QUESTION") << IDI_QUESTION;
        QTest::newRow("IDI_EXCLAMATION") << IDI_EXCLAMATION;
        QTest::newRow("IDI_ASTERISK") << IDI_ASTERISK;
    }
    void standardIcon() {
        QFETCH(UINT, id);
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon));
        QVERIFY(icon.SetStandardIcon(id));
        const HICON hIcon = icon.GetIcon();
        QVERIFY(hIcon != nullptr && !hIcon->pixmap(16, 16).isNull());
        QVERIFY(icon.SetStandardIcon(QString::fromLatin1(QTest::currentDataTag())));
        QCOMPARE(icon.GetIcon(), hIcon);
        QCOMPARE(m_pTray->m_calls.back().nid.uFlags, NIF_ICON);
        QCOMPARE(m_pTray->m_calls.back().nid.hIcon, hIcon);
    }

    void iconMessage_data() {
        QTest::addColumn<UINT>("iconId");
        QTest::addColumn<UINT>("wParam");
        QTest::addColumn<UINT>("mouse");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("popup");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("posted");
        const QStringList none;
        const UINT tray = IDR_TRAY_MENU;
        QTest::newRow("another icon id")
            << tray << 130u << WM_RBUTTONUP << 0 << false << none << none;
        QTest::newRow("another icon id, double click")
            << tray << 128u << WM_LBUTTONDBLCLK << 0 << false << none << none;
        QTest::newRow("icon without a menu")
            << 130u << 130u << WM_RBUTTONUP << 0 << false << none << none;
        QTest::newRow("right button up")
            << tray << tray << WM_RBUTTONUP << 1 << true << none << QStringList{"273 32774 0"};
        QTest::newRow("left double click")
            << tray << tray << WM_LBUTTONDBLCLK << 1 << false << QStringList{"273 32773 0"} << none;
        QTest::newRow("left double click, menu 128")
            << 128u << 128u << WM_LBUTTONDBLCLK << 1 << false << QStringList{"273 32771 0"} << none;
        QTest::newRow("left button up")
            << tray << tray << WM_LBUTTONUP << 1 << false << none << none;
        QTest::newRow("right button down")
            << tray << tray << WM_RBUTTONDOWN << 1 << false << none << none;
        QTest::newRow("mouse move") << tray << tray << WM_MOUSEMOVE << 1 << false << none << none;
        QTest::newRow("left button down")
            << tray << tray << WM_LBUTTONDOWN << 1 << false << none << none;
    }
    void iconMessage() {
        QFETCH(UINT, iconId);
        QFETCH(UINT, wParam);
        QFETCH(UINT, mouse);
        QFETCH(int, result);
        QFETCH(bool, popup);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, posted);
        m_pFramework->m_cursor = QPoint(612, 745);
        m_pFramework->m_nChosenCommand = ID_EXIT;
        CTrayNotifyIcon icon;
        QVERIFY(icon.Create(&m_owner, iconId, QStringLiteral("Bumple"),
                            LoadIconResource(IDI_NORMAL), kNotify));

        QCOMPARE(icon.OnIconMessage(wParam, LPARAM(mouse)), LRESULT(result));

        QCOMPARE(m_owner.m_received, sent);
        QCOMPARE(m_pFramework->m_popups.size(), size_t(popup));
        QCOMPARE(m_pFramework->m_foreground.size(), size_t(popup));
        if (popup) {
            const CScriptedFramework::Popup& shown = m_pFramework->m_popups[0];
            QCOMPARE(shown.pMenu, &LoadMenuResource(IDR_TRAY_MENU)->front());
            QCOMPARE(QByteArray(shown.pMenu->items[0].text), QByteArray("&Restore"));
            QCOMPARE(shown.defaultItem, 0);
            QCOMPARE(shown.pt, QPoint(612, 745));
            QCOMPARE(shown.pWnd, &m_owner);
            QCOMPARE(m_pFramework->m_foreground[0], &m_owner);
        }
        QCoreApplication::sendPostedEvents(&m_owner);
        QCOMPARE(m_owner.m_received, sent + posted);
        QCOMPARE(m_pTray->m_calls.size(), size_t(1));
    }

    void destructor_data() {
        QTest::addColumn<Change>("before");
        QTest::addColumn<int>("deletes");
        const auto row = [](const char* name, int deletes, const Change& before) {
            QTest::newRow(name) << before << deletes;
        };
        row("never created", 0, [](auto&, auto) { return TRUE; });
        row("added", 1, [this](auto& icon, auto) { return CreateNormal(icon); });
        row("refused", 0, [this](auto& icon, auto) {
            m_pTray->m_bResult = FALSE;
            return !CreateNormal(icon);
        });
        row("removed", 0, [this](auto& icon, auto) {
            const BOOL bAdded = CreateNormal(icon);
            icon.RemoveIcon();
            return bAdded;
        });
        row("hidden", 1, [this](auto& icon, auto) {
            const BOOL bAdded = CreateNormal(icon);
            icon.HideIcon();
            return bAdded;
        });
    }
    void destructor() {
        QFETCH(Change, before);
        QFETCH(int, deletes);
        auto pIcon = std::make_unique<CTrayNotifyIcon>();
        QVERIFY(before(*pIcon, nullptr));
        const size_t nBefore = m_pTray->m_calls.size();

        pIcon.reset();

        QCOMPARE(m_pTray->m_calls.size(), nBefore + size_t(deletes));
        for (size_t i = nBefore; i < m_pTray->m_calls.size(); ++i) {
            QCOMPARE(m_pTray->m_calls[i].dwMessage, NIM_DELETE);
            QCOMPARE(m_pTray->m_calls[i].nid.uFlags, UINT(0));
            QCOMPARE(m_pTray->m_calls[i].nid.uID, UINT(129));
        }
    }

    void hideAndShow_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("shown");
        const QString hide = QStringLiteral("delete flags 2");
        const QString show = QStringLiteral("add flags 7");
        QTest::newRow("hide") << "hide" << QStringList{hide} << false;
        QTest::newRow("hide twice") << "hide hide" << QStringList{hide} << false;
        QTest::newRow("show while shown") << "show" << QStringList{} << true;
        QTest::newRow("hide, show") << "hide show" << QStringList{hide, show} << true;
        QTest::newRow("hide, show twice") << "hide show show" << QStringList{hide, show} << true;
        QTest::newRow("in turn") << "hide show hide show" << QStringList{hide, show, hide, show}
                                 << true;
    }
    void hideAndShow() {
        QFETCH(QString, steps);
        QFETCH(QStringList, calls);
        QFETCH(bool, shown);
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon));
        for (const QString& step : steps.split(u' '))
            step == u"hide" ? icon.HideIcon() : icon.ShowIcon();

        QStringList sent;
        for (size_t i = 1; i < m_pTray->m_calls.size(); ++i)
            sent.append(QStringLiteral("%1 flags %2")
                            .arg(m_pTray->m_calls[i].dwMessage == NIM_ADD ? "add" : "delete")
                            .arg(m_pTray->m_calls[i].nid.uFlags));
        QCOMPARE(sent, calls);
        QCOMPARE(m_pTray->m_bShown, shown);
        QCOMPARE(icon.IsShown(), shown);
        // A tray that goes away takes the icon off the screen, not out of the record.
        m_pTray->m_bShown = false;
        QVERIFY(!icon.IsShown());
        const NOTIFYICONDATA& last = m_pTray->m_calls.back().nid;
        QCOMPARE(TipBytes(last), Padded("Bumple"));
        QCOMPARE(last.hIcon, LoadIconResource(IDI_NORMAL));
        QCOMPARE(last.uCallbackMessage, kNotify);
    }

    // A notification on a session bus that no notification server is on: the balloon shows
    // it once the bus has answered, and nothing waits for the answer.
    void notificationWithoutServerGoesToTheBalloon() {
        // A bus of its own, without the services a desktop could start on demand.
        QTemporaryFile config;
        QVERIFY(config.open());
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                     "<auth>EXTERNAL</auth><policy context=\"default\"><allow "
                     "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                     "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
        if (!bus.waitForReadyRead(5000))
            QSKIP("no dbus-daemon");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon));
        icon.ShowNotification(ID_HISTORY, QStringLiteral("The link is down"), QStringLiteral("x"));
        QVERIFY(m_pTray->m_balloons.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_pTray->m_balloons, QStringList{"The link is down\nx"}, 5000);
        QVERIFY(m_pFramework->m_messages.isEmpty());
        bus.kill();
        bus.waitForFinished(5000);
    }

    // The real notification area where there is none at all: the icon waits through the
    // grace, then the owner is told once, and the icon keeps waiting with its changes.
    void realTrayWithoutAnyTray_data() {
        QTest::addColumn<QByteArray>("grace");
        QTest::addColumn<bool>("told");
        QTest::newRow("grace over") << QByteArray("0") << true;
        QTest::newRow("within the grace") << QByteArray("3600") << false;
    }
    void realTrayWithoutAnyTray() {
        QFETCH(QByteArray, grace);
        QFETCH(bool, told);
        // No session bus, hence no StatusNotifierWatcher; offscreen, hence no XEmbed tray.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bumple-test-bus");
        qputenv("BUMPLE_TRAY_GRACE", grace);
        CQtShellTray shell;
        const CPlatform::Scope real(nullptr, &shell, m_pFramework.get());
        CTrayNotifyIcon icon;
        QVERIFY(CreateNormal(icon));
        QVERIFY(!icon.IsShown());
        QVERIFY(icon.SetTooltipText(QStringLiteral("Bumple in 25:00")));
        QVERIFY(icon.SetIcon(UINT(IDI_STOPPED)));
        const QString missing = QStringLiteral("%1 129 %2").arg(kNotify).arg(NIN_TRAYMISSING);
        // The desktop is looked at every half second, and after the grace less often.
        if (told)
            QTRY_COMPARE_WITH_TIMEOUT(m_owner.m_received, QStringList{missing}, 5000);
        QTest::qWait(1200);
        QCOMPARE(m_owner.m_received, told ? QStringList{missing} : QStringList{});
        QVERIFY(!icon.IsShown());
        icon.RemoveIcon();
        QVERIFY(!icon.IsShown());
        qunsetenv("BUMPLE_TRAY_GRACE");
    }

    void iconsRender_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("16 px") << 16;
        QTest::newRow("24 px") << 24;
    }
    void iconsRender() {
        QFETCH(int, size);
        QList<QImage> images;
        for (const int id : {IDI_NORMAL, IDI_STOPPED, IDI_WAITING}) {
            const QImage image = LoadIconResource(id)->pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(qAlpha(image.pixel(size / 2, size / 2)) == 255);
            QVERIFY(!images.contains(image));
            images.append(image);
        }
        QCOMPARE(QImage(QStringLiteral(":/icons/119.svg")).size(), QSize(32, 32));
    }
};

QTEST_MAIN(TestTrayNotifyIcon)
#include "tst_traynotifyicon.moc"
