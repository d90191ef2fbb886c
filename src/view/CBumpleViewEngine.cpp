// Start, stop, the probe at a period end, and the accounting of outcomes.

#include "CBumpleView.h"

#include "CComboBox.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "CWinsock.h"
#include "Resources.h"

#include <QLabel>
#include <QPushButton>

void CBumpleView::OnStartOrApply() {
    StopEngine(FALSE);
    m_trayIcon.SetIcon(IDI_NORMAL);
    m_btnStart->setEnabled(false);
    m_bBusy = TRUE;
    SetStatus(QStringLiteral("Starting Connection"));
    if (!m_bLocalAddressKnown) {
        SetStatus(QStringLiteral("Getting Local IP Address"));
        CPlatform::Framework().BeginWaitCursor();
        ResolveLocalAddress();
    }
    if (m_bLocalAddressKnown)
        ResolveTarget();
}

void CBumpleView::StopEngine(BOOL bNotify) {
    CFramework& framework = CPlatform::Framework();
    m_btnStart->setEnabled(true);
    m_bBusy = FALSE;
    if (m_bProbeTimerSet)
        framework.KillTimer(this, ID_TIMER_TICK);
    if (m_bAutoStartPending)
        framework.KillTimer(this, ID_TIMER_AUTOSTART);
    if (m_bRetryPending)
        framework.KillTimer(this, ID_TIMER_RETRY);
    m_bRetryPending = FALSE;
    if (bNotify)
        m_nLookupFailuresInRow = 0;
    SetStatus(QStringLiteral("NOT RUNNING"));
    m_staticCountdown->setText(QString());
    m_staticNextLabel->setEnabled(false);
    AbandonPendingConnect();
    CloseProbeSocket();
    if (bNotify) {
        m_trayIcon.SetTooltipText(QStringLiteral("Bumple has stopped"));
        m_trayIcon.SetIcon(IDI_STOPPED);
        m_history.SetStopped(true);
    }
    m_bWaiting = FALSE;
}

void CBumpleView::CloseProbeSocket() {
    if (m_socket != INVALID_SOCKET)
        CloseSocket(m_socket);
    m_socket = INVALID_SOCKET;
}

void CBumpleView::CloseSocket(SOCKET s) {
    if (m_bIdleOnly)
        m_linkWatch.Closing(s);
    CPlatform::Sockets().closesocket(s);
}

void CBumpleView::RunTheJob(BOOL bNewTarget) {
    m_btnStart->setEnabled(false);
    m_bBusy = TRUE;
    // The address held is the target's until a probe of it connects: until then the
    // probes carry its name, so that no failure is put down to a name that was not tried.
    const QString name = bNewTarget ? m_strTarget : m_strName;
    m_bLinkInUse = FALSE;
    // Kept apart from m_nProbe: a probe under this one's message box replaces that.
    const uint64_t probe = m_history.ProbeStarted(name);
    m_nProbe = probe;
    if (OpenProbeConnection(name) == INVALID_SOCKET)
        ProbeOpenFailed(name, probe);
}

void CBumpleView::ProbeOpenFailed(const QString& strName, uint64_t nProbe) {
    m_history.ProbeFailed(nProbe, CProbeHistory::SocketFailure);
    RecordProblem(PROBLEM_SOCKET, strName);
    if (!m_bIgnoreFailures)
        StopEngine(TRUE);
}

void CBumpleView::RecordProblem(int nKind, const QString& strName) {
    m_trayIcon.SetIcon(IDI_NORMAL);
    m_strProblemName = strName;
    m_bProblemUnseen = TRUE;
    switch (nKind) {
    case PROBLEM_HTTP:
        ++m_nHttpFailures;
        break;
    case PROBLEM_DNS:
        ++m_nDnsFailures;
        break;
    case PROBLEM_SOCKET:
        ++m_nSocketFailures;
        break;
    default:
        break;
    }
}

void CBumpleView::OnProbeEnded(int nKind, const QString& strName) {
    const std::optional<CLinkState::Notice> notice =
        nKind == CProbeHistory::Answered
            ? m_linkState.ProbeAnswered()
            : m_linkState.ProbeFailed(nKind, strName, m_comboName->GetCount());
    // Without "Ignore Connection Failures" the message box tells whoever sees the form.
    if (notice && m_bNotify && (m_bIgnoreFailures || !window()->isVisible()))
        m_trayIcon.ShowNotification(ID_HISTORY, notice->strTitle, notice->strText);
}

void CBumpleView::AdvanceToNextName(BOOL bFromSelection, const QString& strName) {
    m_strProblemName = strName;
    const int count = m_comboName->GetCount();
    // With no entry there is nothing to move to: the restart takes the box's text again.
    if (count > 0) {
        int index;
        if (bFromSelection) {
            index = m_comboName->GetCurSel();
            if (index < 0)
                index = m_comboName->SetCurSel(CPlatform::Framework().Rand() % count);
        } else {
            index = m_comboName->FindStringExact(strName);
        }
        int next = index + 1;
        if (next == count)
            next = 0;
        m_comboName->SetCurSel(next);
    }
    // Offline every lookup may fail at once: after a whole round of failed lookups the
    // restarts come at most once a second, so the engine does not spin.
    if (m_nLookupFailuresInRow >= qMax(1, count)) {
        CPlatform::Framework().SetTimer(this, ID_TIMER_RETRY, 1000);
        m_bRetryPending = TRUE;
        return;
    }
    OnStartOrApply();
}

QString CBumpleView::BuildReportFooter() const {
    return QStringLiteral("\n\nBumple launched at time ") + m_strLaunchTime +
           QStringLiteral("\nThis message created at time ") +
           CPlatform::Framework().LocalTimeText();
}
