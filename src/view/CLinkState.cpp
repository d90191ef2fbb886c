#include "CLinkState.h"

#include "CFramework.h"
#include "CPlatform.h"
#include "CProbeHistory.h"

#include <algorithm>

std::optional<CLinkState::Notice> CLinkState::ProbeFailed(int nKind, const QString& strName,
                                                          int nListSize) {
    CFramework& framework = CPlatform::Framework();
    if (m_nFailures++ == 0) {
        m_dwSince = framework.GetTickCount();
        m_strSinceText = framework.LocalTimeText();
        m_first.clear();
    }
    if (m_bDown)
        return std::nullopt;
    m_first.push_back({strName, nKind});
    if (m_nFailures < std::clamp(nListSize, 1, kFailuresDown))
        return std::nullopt;
    m_bDown = true;
    QString text = QStringLiteral("Since %1, %2 in a row failed:")
                       .arg(m_strSinceText, ProbesText(m_nFailures));
    for (const Failure& failure : m_first)
        text +=
            QStringLiteral("\n%1: %2").arg(failure.strName, CProbeHistory::KindText(failure.nKind));
    return Notice{QStringLiteral("The link is down"), text};
}

std::optional<CLinkState::Notice> CLinkState::ProbeAnswered() {
    const bool bWasDown = m_bDown;
    const int failures = m_nFailures;
    m_bDown = false;
    m_nFailures = 0;
    if (!bWasDown)
        return std::nullopt;
    const DWORD elapsed = CPlatform::Framework().GetTickCount() - m_dwSince;
    return Notice{QStringLiteral("The link is back"),
                  QStringLiteral("It was down for %1; %2 failed.")
                      .arg(DurationText(elapsed), ProbesText(failures))};
}

QString CLinkState::ProbesText(int nProbes) {
    return nProbes == 1 ? QStringLiteral("1 probe") : QStringLiteral("%1 probes").arg(nProbes);
}

QString CLinkState::DurationText(DWORD dwMs) {
    const DWORD seconds = dwMs / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}
