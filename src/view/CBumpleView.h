#pragma once

// The main form view and the keep-alive engine: every member of the engine lives here.

#include "CLinkState.h"
#include "CLinkWatch.h"
#include "CMessageTarget.h"
#include "CProbeHistory.h"
#include "CTrayNotifyIcon.h"
#include "WinTypes.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <sys/socket.h>

class CComboBox;
class CDataExchange;
class CEdit;
class CHistoryWnd;
class CProfileStore;
class QJsonObject;
class QLabel;
class QPushButton;

// Private window messages
constexpr UINT WM_PROBE_SOCKET = WM_APP + 0x08;
constexpr UINT WM_TARGET_RESOLVED = WM_APP + 0x10;
constexpr UINT WM_LOCAL_RESOLVED = WM_APP + 0x18;
constexpr UINT WM_TRAY_NOTIFY = WM_APP + 0x64;

// Window timers
constexpr UINT ID_TIMER_TICK = 101;
constexpr UINT ID_TIMER_RETRY = 102;
constexpr UINT ID_TIMER_AUTOSTART = 103;
// Tries settings that could not be saved again, while any are pending.
constexpr UINT ID_TIMER_SAVE = 104;

// Problem kinds
constexpr int PROBLEM_HTTP = 0;
constexpr int PROBLEM_DNS = 1;
constexpr int PROBLEM_SOCKET = 2;

class CBumpleView : public QWidget, public CMessageTarget {
    Q_OBJECT
public:
    explicit CBumpleView(QWidget* pParent = nullptr);
    ~CBumpleView() override;

    // Form and commands
    void DoDataExchange(CDataExchange* pDX);
    void OnInitialUpdate();
    void CalcFrameRect(QRect* pRect) const;
    // Lays the form out and fits the frame to it, both at most once; the frame calls this
    // before it is shown. A start that stays hidden never measures a text.
    void PrepareToShow();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    // No tray shows the icon: the box, then the window, the only way left to reach Bumple.
    void OnTrayMissing();
    // The desktop's icon theme restyles the icons shown so far.
    void OnThemeIcons();
    void OnDestroy();
    void OnReturnToTray();
    void OnShutdown();
    void OnEditNames();
    void OnOptions();
    void OnStatistics();
    void OnHistory();
    void OnRestore();
    void OnExit();
    void OnAbout();

    // Name list
    void LoadNameList();

    // Engine
    void OnStartOrApply();
    void StopEngine(BOOL bNotify);
    void RunTheJob(BOOL bNewTarget);
    void ResolveLocalAddress();
    LRESULT OnLocalResolved(WPARAM wParam, LPARAM lParam);
    void ResolveTarget();
    LRESULT OnTargetResolved(WPARAM wParam, LPARAM lParam);
    void ArmSchedule();
    void OnTimer(UINT nIDEvent);
    void RandomizePeriod();
    // The countdown has ended: the probe, or the switch to a random name.
    void EndPeriod();
    // Starts the probe's connect; its completion comes to OnProbeConnected.
    SOCKET OpenProbeConnection(const QString& strName);
    SOCKET OpenTcpSocket(const QString& strHost, const QString& strPort);
    void OnProbeConnected(int nError);
    void SendProbeRequest();
    LRESULT OnProbeSocket(WPARAM wParam, LPARAM lParam);
    void RecordProblem(int nKind, const QString& strName);
    // The engine's state for scripts and status bars, as one JSON object.
    QJsonObject StatusObject() const;
    // Why a probe cannot go at once; empty when it can.
    QString WhyNoProbeNow() const;
    // Probes at once, as if the countdown had ended.
    void ProbeNow();
    // Follows the link's state through each probe's outcome and tells the desktop of a change.
    void OnProbeEnded(int nKind, const QString& strName);
    void AdvanceToNextName(BOOL bFromSelection, const QString& strName);
    QString BuildReportFooter() const;

    // The pieces of the engine that are pure functions of their input.
    // The period text in seconds; false when it is rejected.
    static bool PeriodSeconds(const QString& strText, BOOL bDebug, int* pSeconds);
    // Seconds left as the countdown shows them: "%2d:%2d" with the seconds' tens as a digit.
    static QString FormatTimeLeft(int nSeconds);
    static QByteArray ProbeRequest(const QString& strLocalAddress);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Members, in declaration order
    CTrayNotifyIcon m_trayIcon;
    HICON m_hIconNormal = nullptr;
    QPushButton* m_btnStart = nullptr;
    CComboBox* m_comboName = nullptr;
    CEdit* m_editPeriod = nullptr;
    QLabel* m_staticNextLabel = nullptr;
    QLabel* m_staticCountdown = nullptr;
    QLabel* m_staticStatus = nullptr;
    DWORD m_dwLaunchTicks = 0;
    QString m_strLaunchTime;
    BOOL m_bLocalAddressKnown = FALSE;
    SOCKET m_socket = INVALID_SOCKET;
    QString m_strLocalAddress;
    QSize m_sizeFrame;
    BOOL m_bSizeKnown = FALSE;
    BOOL m_bWaiting = FALSE;
    char m_szReply[1026] = {};
    int m_nTick = 0;
    int m_nPeriod = 0;
    int m_nCurPeriod = 0;
    QString m_strPeriod;
    QString m_strName;
    int m_nNameSel = 0;
    QString m_strTarget;
    BOOL m_bNewTarget = FALSE;
    BOOL m_bBusy = FALSE;
    BOOL m_bProbeTimerSet = FALSE;
    BOOL m_bAutoStartPending = FALSE;
    BOOL m_bFirstProbe = FALSE;
    BOOL m_bIgnoreFailures = TRUE;
    BOOL m_bRandomName = FALSE;
    BOOL m_bRandomTime = FALSE;
    BOOL m_bAutoStart = TRUE;
    BOOL m_bDebug = FALSE;
    int m_nDnsFailures = 0;
    int m_nHttpFailures = 0;
    int m_nSocketFailures = 0;
    int m_nSuccesses = 0;
    BOOL m_bProblemUnseen = FALSE;
    QString m_strProblemName;
    alignas(8) char m_hostBuf[1024] = {};
    // The probe whose connect is in progress, and the address it goes to.
    SOCKET m_socketPending = INVALID_SOCKET;
    QString m_strPendingName;
    sockaddr_storage m_saTarget = {};

    // "Bumple Only When Idle": setting "IdleOnly"; the link to the target is watched only
    // while it is on.
    BOOL m_bIdleOnly = FALSE;
    CLinkWatch m_linkWatch;
    // The last tick's reading started the countdown over.
    BOOL m_bLinkInUse = FALSE;
    // Every probe since launch, for the History window.
    CProbeHistory m_history;
    // The history's number of the probe whose connection is being opened.
    uint64_t m_nProbe = CProbeHistory::kNone;
    // "Notify When Link Goes Down": setting "Notify". The link's state is kept either way.
    BOOL m_bNotify = FALSE;
    CLinkState m_linkState;

signals:
    // Every text the status line shows, in turn.
    void StatusChanged(const QString& strText);
    // Something StatusObject shows may have changed.
    void EngineChanged();

protected:
    bool event(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    static CProfileStore& Store();
    void SetStatus(const QString& strText);
    // The host entry record in m_hostBuf when it is whole, else null.
    const struct hostent* HostEntry() const;
    void SaveNameList(const QString& strName);
    // After a save: arms the retry while anything is pending, and when the user asked for
    // the save and it failed, says so with the file and the reason.
    void SaveOutcome(bool bAsked);
    // Timer 104: the pending settings again, at growing intervals while they fail.
    void RetrySave();
    void ShowTimeLeft();
    int PickRandomName();
    void CloseProbeSocket();
    // Closes a socket of a probe; with the idle watch on, what it exchanged is Bumple's own.
    void CloseSocket(SOCKET s);
    // The connect of a probe failed: what the open of a probe counts, says and does then.
    void ReportConnectFailure(const QString& strHost, const QString& strPort);
    void ProbeOpenFailed(const QString& strName, uint64_t nProbe);
    // A stop drops a connect still in progress; its probe stays without reply.
    void AbandonPendingConnect();
    static QString SkipBlanks(const QString& strHost);
    // An address of either family as text: dotted, or IPv6's colon form.
    static QString AddressText(int nFamily, const void* pAddress);
    // A name that begins with a digit and is no IPv6 literal: taken as a dotted address.
    static bool IsDottedAddress(const QString& strName);

    BOOL m_bLaidOut = FALSE;
    BOOL m_bFitPending = FALSE; // the initial update has run, the frame is not fitted yet
    // Target lookups failed in a row since the schedule was last armed or the engine
    // stopped; once a whole round of the list has failed, each restart waits for timer 102.
    int m_nLookupFailuresInRow = 0;
    BOOL m_bRetryPending = FALSE;
    QPointer<CHistoryWnd> m_pHistoryWnd;
    // The interval of the retry of pending settings, in seconds; 0 while none is armed.
    int m_nSaveRetrySeconds = 0;
    BOOL m_bHistoryHidden = FALSE; // "Return To Tray" hid it with the form
};
