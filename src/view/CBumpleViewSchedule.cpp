// The one-second schedule, the countdown and the random choices at a period end.

#include "CBumpleView.h"

#include "CComboBox.h"
#include "CEdit.h"
#include "CFramework.h"
#include "CNumberText.h"
#include "CPlatform.h"
#include "CProfileStore.h"

#include <QLabel>
#include <QPushButton>

bool CBumpleView::PeriodSeconds(const QString& strText, BOOL bDebug, int* pSeconds) {
    float minutes = 0.0f;
    const bool isNumber = CNumberText::ScanFloat(strText, &minutes);
    // Whole minutes from 1 to 60, tested on the float itself so that huge values and
    // infinities are never converted to int.
    const bool accepted = bDebug || (isNumber && minutes >= 1.0f && minutes < 61.0f);
    if (!accepted)
        return false;
    if (bDebug)
        minutes = 0.25f;
    // The single-precision minutes times 60, kept exact: 1.3 lies just below 1.3 and gives 77.
    *pSeconds = int(double(minutes) * 60.0);
    return true;
}

QString CBumpleView::FormatTimeLeft(int nSeconds) {
    const int minutes = nSeconds / 60;
    const int seconds = nSeconds - minutes * 60;
    QString text = QString::asprintf("%2d:%2d", minutes, seconds);
    if (text.size() > 3 && text[3] == QLatin1Char(' '))
        text[3] = QLatin1Char('0');
    return text;
}

void CBumpleView::ArmSchedule() {
    const QString text = m_editPeriod->GetWindowText();
    int seconds = 0;
    if (!PeriodSeconds(text, m_bDebug, &seconds)) {
        StopEngine(TRUE);
        m_editPeriod->SetWindowText(m_strPeriod);
        CPlatform::Framework().MessageBox(
            QStringLiteral("Bumple: Time period must be between 1 and 60"));
        return;
    }
    m_nLookupFailuresInRow = 0;
    m_bLinkInUse = FALSE;
    m_history.SetStopped(false);
    m_strPeriod = text;
    m_nPeriod = seconds;
    m_nCurPeriod = m_nPeriod;
    m_nTick = m_nPeriod - 1;
    m_strTarget = m_comboName->GetWindowText();
    m_staticNextLabel->setEnabled(true);
    m_bFirstProbe = TRUE;
    CPlatform::Framework().SetTimer(this, ID_TIMER_TICK, 1000);
    m_bProbeTimerSet = TRUE;
    m_bNewTarget = TRUE;
}

void CBumpleView::OnTimer(UINT nIDEvent) {
    if (nIDEvent == ID_TIMER_AUTOSTART) {
        CPlatform::Framework().KillTimer(this, ID_TIMER_AUTOSTART);
        m_bAutoStartPending = FALSE;
        OnStartOrApply();
        return;
    }
    if (nIDEvent == ID_TIMER_SAVE) {
        RetrySave();
        return;
    }
    if (nIDEvent == ID_TIMER_RETRY) {
        CPlatform::Framework().KillTimer(this, ID_TIMER_RETRY);
        m_bRetryPending = FALSE;
        OnStartOrApply();
        return;
    }
    // The ticks of a pending connect are not counted, as a blocking connect never saw them.
    if (nIDEvent != ID_TIMER_TICK || m_socketPending != INVALID_SOCKET)
        return;

    if (!m_bBusy)
        m_btnStart->setEnabled(true);
    ++m_nTick;
    if (m_bIdleOnly) {
        // Read at every tick, so that the next reading spans one second only. The first
        // probe after arming goes all the same: it checks the name.
        const bool busy = m_linkWatch.Busy(m_socket) && !m_bFirstProbe;
        // The tip tells of the last second only: it counts down again once the link is quiet.
        m_bLinkInUse = busy;
        if (busy) {
            m_nTick = 0;
            m_history.Skip();
        }
    }
    if (m_nTick >= m_nCurPeriod)
        EndPeriod();
    if (m_staticNextLabel->isEnabled())
        ShowTimeLeft();
}

void CBumpleView::EndPeriod() {
    m_nTick = 0;
    if (!m_bRandomName || m_bFirstProbe) {
        m_bFirstProbe = FALSE;
        if (m_bRandomTime)
            RandomizePeriod();
        else
            m_nCurPeriod = m_nPeriod;
        RunTheJob(m_bNewTarget);
    } else {
        m_nNameSel = PickRandomName();
        m_comboName->SetCurSel(m_nNameSel);
        m_strTarget = m_comboName->GetWindowText();
        OnStartOrApply();
    }
}

int CBumpleView::PickRandomName() {
    CFramework& framework = CPlatform::Framework();
    const int count = m_comboName->GetCount();
    if (count == 0)
        return -1;
    const int selection = m_comboName->GetCurSel();
    int index = framework.Rand() % count;
    while (count > 1 && index == selection)
        index = framework.Rand() % count;
    return index;
}

void CBumpleView::RandomizePeriod() {
    const int bound = m_bDebug ? 5 : 30;
    int r;
    int k;
    do {
        r = CPlatform::Framework().Rand();
        k = r % 32;
        if (k > bound)
            k = bound;
    } while (k <= 0);
    if (r % 2 != 0)
        k = -k;
    if (m_nPeriod == 3600 && k > 0)
        k = -k;
    m_nCurPeriod = m_nPeriod + k;
}

void CBumpleView::ShowTimeLeft() {
    const QString text = FormatTimeLeft(m_nCurPeriod - m_nTick);
    m_staticCountdown->setText(text);
    QString tip = QStringLiteral("Bumple in ") + text;
    if ((m_nDnsFailures != 0 || m_nHttpFailures != 0 || m_nSocketFailures != 0) &&
        m_bIgnoreFailures && m_bProblemUnseen)
        tip += QStringLiteral("   Please check the Statistics dialog box");
    else if (m_bLinkInUse)
        tip += QStringLiteral("   Link in use");
    if (Store().HasPending())
        tip += QStringLiteral("   Settings not saved yet");
    m_trayIcon.SetTooltipText(tip);
    emit EngineChanged();
}
