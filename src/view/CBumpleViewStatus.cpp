// The engine as scripts and status bars see it, and their probe on demand.

#include "CBumpleView.h"

#include "CComboBox.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLabel>

QJsonObject CBumpleView::StatusObject() const {
    const bool bArmed = m_staticNextLabel->isEnabled();
    QString state = QStringLiteral("stopped");
    if (m_bWaiting)
        state = QStringLiteral("waiting");
    else if (bArmed && m_bLinkInUse)
        state = QStringLiteral("held");
    else if (bArmed || m_bBusy || m_bRetryPending)
        state = QStringLiteral("running");
    QJsonObject status{
        {QStringLiteral("state"), state},
        {QStringLiteral("next"), bArmed ? m_nCurPeriod - m_nTick : -1},
        {QStringLiteral("name"), m_comboName->GetWindowText()},
        {QStringLiteral("down"), m_linkState.IsDown()},
        {QStringLiteral("failedInRow"), m_linkState.FailuresInRow()},
        {QStringLiteral("successes"), m_nSuccesses},
        {QStringLiteral("httpFailures"), m_nHttpFailures},
        {QStringLiteral("dnsFailures"), m_nDnsFailures},
        {QStringLiteral("socketFailures"), m_nSocketFailures},
    };
    if (const CProbeHistory::Entry* pLast = m_history.LastEnded()) {
        status.insert(QStringLiteral("last"), CProbeHistory::KindText(pLast->nKind));
        status.insert(QStringLiteral("lastName"), m_history.Text(pLast->nName));
        // A folded entry ends with its last probe; the time is the one History shows, so it
        // does not move from one reading to the next.
        status.insert(
            QStringLiteral("lastAt"),
            QDateTime::fromSecsSinceEpoch(int64_t(pLast->nClock) + pLast->nLengthMs / 1000)
                .toString(QStringLiteral("HH:mm:ss")));
        status.insert(QStringLiteral("lastMs"), int(pLast->nValueMs));
    }
    return status;
}

QString CBumpleView::WhyNoProbeNow() const {
    // A second connect would leave the first one's socket behind.
    if (m_socketPending != INVALID_SOCKET)
        return QStringLiteral("Bumple is connecting; try again in a moment");
    if (m_staticNextLabel->isEnabled())
        return {};
    return m_bBusy || m_bRetryPending ? QStringLiteral("Bumple is starting; try again in a moment")
                                      : QStringLiteral("Bumple is stopped; press Start first");
}

void CBumpleView::ProbeNow() {
    EndPeriod();
    if (m_staticNextLabel->isEnabled())
        ShowTimeLeft();
}
