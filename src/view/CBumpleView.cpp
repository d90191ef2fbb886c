#include "CBumpleView.h"

#include "CBumpleApp.h"
#include "CComboBox.h"
#include "CDataExchange.h"
#include "CDialogBuilder.h"
#include "CEdit.h"
#include "CFramework.h"
#include "CHistoryWnd.h"
#include "CNumberText.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CWinsock.h"
#include "DialogTemplates.h"
#include "Resources.h"
#include "SettingsTable.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
constexpr const char* kTrayFailedText = "Failed to create tray icon";
// Long enough for a tray to have embedded the icon, even under a profiler.
constexpr int kThemeIconsDelayMs = 5000;
} // namespace

CBumpleView::CBumpleView(QWidget* pParent) : QWidget(pParent) {
    CFramework& framework = CPlatform::Framework();
    if (const DialogTemplate* pTemplate = LoadDialogTemplate(IDD_BUMPLE_FORM))
        CDialogBuilder::Create(this, *pTemplate, this);
    CDataExchange dx(this, FALSE);
    DoDataExchange(&dx);

    framework.Srand(unsigned(framework.Time()));
    m_hIconNormal = LoadIconResource(IDI_NORMAL);
    const int startup = CPlatform::Sockets().WSAStartup();
    framework.Sleep(1000);
    if (startup != 0)
        framework.MessageBox(QStringLiteral("Bumple: WSAStartup failed"));

    m_bLocalAddressKnown = FALSE;
    m_strLocalAddress = QStringLiteral("no address yet");
    m_bWaiting = m_bProbeTimerSet = m_bAutoStartPending = m_bNewTarget = m_bSizeKnown = FALSE;
    m_socket = INVALID_SOCKET;

    CProfileStore& store = Store();
    using namespace SettingsTable;
    m_bIgnoreFailures = store.GetProfileInt(kSection, kIgnore, kIgnoreDefault);
    m_bRandomName = store.GetProfileInt(kSection, kRandomName, kRandomNameDefault);
    m_bRandomTime = store.GetProfileInt(kSection, kRandomTime, kRandomTimeDefault);
    m_bAutoStart = store.GetProfileInt(kSection, kAutoStart, kAutoStartDefault);
    m_bDebug = store.GetProfileInt(kSection, kDebug, kDebugDefault);
    m_bIdleOnly = store.GetProfileInt(kSection, kIdleOnly, kIdleOnlyDefault);
    m_bNotify = store.GetProfileInt(kSection, kNotify, kNotifyDefault);
    connect(&m_history, &CProbeHistory::ProbeEnded, this, &CBumpleView::OnProbeEnded);
    connect(&m_history, &CProbeHistory::Changed, this, &CBumpleView::EngineChanged);

    m_strLaunchTime = framework.LocalTimeText();
    m_dwLaunchTicks = framework.GetTickCount();

    m_nDnsFailures = m_nHttpFailures = m_nSocketFailures = m_nSuccesses = 0;
    m_strProblemName.clear();
    m_bProblemUnseen = FALSE;
    // The engine is stopped until the first start.
    m_history.SetStopped(true);
}

CBumpleView::~CBumpleView() {
    // The History window shows m_history: it goes first.
    delete m_pHistoryWnd;
    OnDestroy();
    CPlatform::Sockets().WSACleanup();
}

CProfileStore& CBumpleView::Store() {
    return *CBumpleApp::Instance()->m_pProfileStore;
}

void CBumpleView::SetStatus(const QString& strText) {
    m_staticStatus->setText(strText);
    emit StatusChanged(strText);
    emit EngineChanged();
}

void CBumpleView::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_NAME, m_comboName);
    DDX_Control(pDX, IDC_PERIOD, m_editPeriod);
    DDX_Control(pDX, IDC_NEXT_LABEL, m_staticNextLabel);
    DDX_Control(pDX, IDC_COUNTDOWN, m_staticCountdown);
    DDX_Control(pDX, IDC_STATUS, m_staticStatus);
}

void CBumpleView::OnInitialUpdate() {
    if (!m_trayIcon.Create(this, IDR_TRAY_MENU, QStringLiteral("Bumple"), m_hIconNormal,
                           WM_TRAY_NOTIFY))
        OnTrayMissing();
    else if (!m_bAutoStart)
        m_trayIcon.SetIcon(IDI_STOPPED);
    // The built-in icons go to the tray first; the theme is read once the icon is there.
    QTimer::singleShot(kThemeIconsDelayMs, this, &CBumpleView::OnThemeIcons);

    m_bFitPending = TRUE;
    if (window()->isVisible())
        PrepareToShow();

    m_btnStart->setEnabled(true);
    m_bBusy = FALSE;

    m_strPeriod = Store().GetProfileString(SettingsTable::kSection, SettingsTable::kOften,
                                           SettingsTable::kOftenDefault);
    m_editPeriod->SetWindowText(m_strPeriod);
    LoadNameList();
    SetStatus(QStringLiteral("PLEASE START ME"));

    m_nTick = 0;
    int minutes = 0;
    if (!CNumberText::ScanInt(m_strPeriod, &minutes))
        minutes = 0;
    minutes = std::min(minutes, 60);
    m_nPeriod = m_nCurPeriod = minutes * 60;

    if (m_bAutoStart) {
        CPlatform::Framework().SetTimer(this, ID_TIMER_AUTOSTART, 1000);
        m_bAutoStartPending = TRUE;
    }
}

void CBumpleView::OnThemeIcons() {
    if (!LoadThemeIcons())
        return;
    // The handles are the same; what they show is not.
    m_trayIcon.SetIcon(m_trayIcon.GetIcon());
    window()->setWindowIcon(*m_hIconNormal);
}

void CBumpleView::PrepareToShow() {
    if (!m_bLaidOut) {
        m_bLaidOut = TRUE;
        if (const DialogTemplate* pTemplate = LoadDialogTemplate(IDD_BUMPLE_FORM))
            setFixedSize(CDialogBuilder::Place(this, *pTemplate));
        // The edit fields exist from here on; they take their labels' names.
        CDialogBuilder::SetLabel(this, IDC_PERIOD, "Bumple how often? (minutes)");
        CDialogBuilder::SetLabel(this, IDC_NAME, "Domain Name or IP Address");
        CDialogBuilder::SetLabel(this, IDC_STATUS, "Status:");
        CDialogBuilder::SetLabel(this, IDC_COUNTDOWN, "Time until next bumple:");
    }
    if (!m_bFitPending)
        return;
    m_bFitPending = FALSE;
    QRect frame;
    CalcFrameRect(&frame);
    window()->setGeometry(frame);
    window()->update();
    m_sizeFrame = frame.size();
    m_bSizeKnown = TRUE;
}

void CBumpleView::CalcFrameRect(QRect* pRect) const {
    QWidget* pFrame = window();
    // The frame places the form below its menu bar only when its layout has run.
    if (QLayout* pLayout = pFrame->layout())
        pLayout->activate();
    // Client-area geometry of the frame, and the two buttons in the same (screen) space.
    const QRect frame = pFrame->geometry();
    const auto screenRect = [pFrame](const QWidget* pControl) {
        return QRect(pControl->mapTo(pFrame, QPoint(0, 0)) + pFrame->geometry().topLeft(),
                     pControl->size());
    };
    const QRect start = screenRect(CDialogBuilder::GetDlgItem(this, IDC_START));
    const QRect back = screenRect(CDialogBuilder::GetDlgItem(this, IDC_RETURN_TO_TRAY));
    pRect->setCoords(frame.left(), frame.top(),
                     frame.left() + start.width() + 2 * start.height() - 1,
                     back.bottom() + 1 + back.height() + back.height() / 2 + 10 - 1);
}

LRESULT CBumpleView::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
    if (lParam == LPARAM(NIN_TRAYMISSING)) {
        OnTrayMissing();
        return 1;
    }
    // A tray that comes while the box is still open makes the box moot: it closes as its
    // OK button would.
    if (lParam == LPARAM(NIN_TRAYFOUND)) {
        CPlatform::Framework().EndMessageBox(QString::fromLatin1(kTrayFailedText));
        return 1;
    }
    return m_trayIcon.OnIconMessage(wParam, lParam);
}

void CBumpleView::OnTrayMissing() {
    CPlatform::Framework().MessageBox(QString::fromLatin1(kTrayFailedText), MessageIcon::Stop);
    OnRestore();
}

void CBumpleView::OnDestroy() {
    StopEngine(FALSE);
}

void CBumpleView::OnReturnToTray() {
    // Hidden without an icon, the window could never be shown again.
    if (m_trayIcon.IsShown()) {
        window()->hide();
        // History goes with the form and comes back with it.
        m_bHistoryHidden = m_pHistoryWnd != nullptr && m_pHistoryWnd->isVisible();
        if (m_bHistoryHidden)
            m_pHistoryWnd->hide();
    } else
        window()->showMinimized();
}

void CBumpleView::OnShutdown() {
    window()->close();
}

void CBumpleView::OnRestore() {
    if (m_bHistoryHidden && m_pHistoryWnd != nullptr)
        m_pHistoryWnd->show();
    m_bHistoryHidden = FALSE;
    window()->showNormal();
    CFramework& framework = CPlatform::Framework();
    // A dialog that is open stays in front of the window it belongs to, and keeps the focus:
    // the window is not activated too, as X11 would activate it only once it is mapped.
    if (!framework.ActivateModalWindow())
        framework.SetForegroundWindow(window());
}

void CBumpleView::OnExit() {
    window()->close();
}

void CBumpleView::OnAbout() {
    // The tray's menu works while a dialog is open: that one comes to the front instead of
    // a second dialog over it.
    if (CPlatform::Framework().ActivateModalWindow())
        return;
    CBumpleApp::Instance()->OnAppAbout();
}

LRESULT CBumpleView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (int(LOWORD(LPARAM(wParam)))) {
        case IDC_START:
            OnStartOrApply();
            return 1;
        case IDC_RETURN_TO_TRAY:
            OnReturnToTray();
            return 1;
        case IDC_SHUTDOWN:
            OnShutdown();
            return 1;
        case ID_EDIT_NAMES:
            OnEditNames();
            return 1;
        case ID_OPTIONS:
            OnOptions();
            return 1;
        case ID_STATISTICS:
            OnStatistics();
            return 1;
        case ID_HISTORY:
            OnHistory();
            return 1;
        case ID_RESTORE:
            OnRestore();
            return 1;
        case ID_EXIT:
            OnExit();
            return 1;
        case ID_APP_ABOUT:
            OnAbout();
            return 1;
        default:
            return 0;
        }
    case WM_TIMER:
        OnTimer(UINT(wParam));
        return 0;
    case WM_PROBE_SOCKET:
        return OnProbeSocket(wParam, lParam);
    case WM_TARGET_RESOLVED:
        return OnTargetResolved(wParam, lParam);
    case WM_LOCAL_RESOLVED:
        return OnLocalResolved(wParam, lParam);
    case WM_TRAY_NOTIFY:
        return OnTrayNotify(wParam, lParam);
    default:
        return 0;
    }
}

// Enter as in a dialog: a focused push button is pressed, else the form's default button.
void CBumpleView::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() != Qt::Key_Return && pEvent->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(pEvent);
        return;
    }
    auto* pButton = qobject_cast<QPushButton*>(focusWidget());
    if (pButton == nullptr) {
        const QList<QPushButton*> buttons = findChildren<QPushButton*>();
        const auto it = std::find_if(buttons.begin(), buttons.end(),
                                     [](const QPushButton* p) { return p->isDefault(); });
        pButton = it != buttons.end() ? *it : nullptr;
    }
    if (pButton != nullptr && pButton->isEnabled())
        pButton->click();
}

bool CBumpleView::event(QEvent* pEvent) {
    return DispatchMessage(pEvent) || QWidget::event(pEvent);
}
