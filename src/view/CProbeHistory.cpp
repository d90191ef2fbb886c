#include "CProbeHistory.h"

#include "CFramework.h"
#include "CPlatform.h"

#include <QDateTime>

#include <algorithm>
#include <map>

static_assert(sizeof(CProbeHistory::Entry) * CProbeHistory::kMaxEntries <= 4u * 1024 * 1024 * 2 / 5,
              "the entries leave room for the deque's blocks and the names within 4 MiB");

namespace {
constexpr uint16_t kNoName = 0xFFFF;

bool IsProbe(uint8_t nKind) {
    return nKind <= CProbeHistory::NoReply;
}
} // namespace

uint16_t CProbeHistory::NameIndex(const QString& strName) {
    const auto it = m_nameIndex.constFind(strName);
    if (it != m_nameIndex.constEnd())
        return it.value();
    // So many different names share the last index rather than overflow it.
    if (m_names.size() >= kNoName - 1) {
        if (m_names.size() == kNoName - 1)
            m_names.push_back(QStringLiteral("(other names)"));
        return kNoName - 1;
    }
    const auto index = uint16_t(m_names.size());
    m_names.push_back(strName);
    m_nameIndex.insert(strName, index);
    return index;
}

CProbeHistory::Entry& CProbeHistory::Append(Kind kind, uint16_t nName) {
    CFramework& framework = CPlatform::Framework();
    if (m_entries.size() >= kMaxEntries) {
        m_entries.pop_front();
        ++m_nDropped;
    }
    m_entries.push_back(
        {framework.GetTickCount(), -1, uint32_t(framework.Time()), nName, uint8_t(kind)});
    return m_entries.back();
}

CProbeHistory::Entry* CProbeHistory::Pending() {
    if (m_nPending < m_nDropped || m_nPending - m_nDropped >= m_entries.size())
        return nullptr;
    return &m_entries[size_t(m_nPending - m_nDropped)];
}

void CProbeHistory::EndWithoutReply() {
    if (const Entry* pEntry = Pending()) {
        m_nPending = UINT64_MAX;
        emit ProbeEnded(NoReply, m_names[pEntry->nName]);
    }
}

void CProbeHistory::ProbeStarted(const QString& strName) {
    EndWithoutReply();
    Append(NoReply, NameIndex(strName));
    m_nPending = m_nDropped + m_entries.size() - 1;
    emit Changed();
}

void CProbeHistory::ProbeAnswered() {
    if (Entry* pEntry = Pending()) {
        pEntry->nKind = Answered;
        pEntry->nValueMs = int32_t(
            std::min<DWORD>(CPlatform::Framework().GetTickCount() - pEntry->dwAt, INT32_MAX));
        m_nPending = UINT64_MAX;
        emit Changed();
        emit ProbeEnded(Answered, m_names[pEntry->nName]);
    }
}

void CProbeHistory::ProbeFailed() {
    if (Entry* pEntry = Pending()) {
        pEntry->nKind = SocketFailure;
        m_nPending = UINT64_MAX;
        emit Changed();
        emit ProbeEnded(SocketFailure, m_names[pEntry->nName]);
    }
}

void CProbeHistory::LookupFailed(const QString& strName) {
    EndWithoutReply();
    Append(LookupFailure, NameIndex(strName));
    emit Changed();
    emit ProbeEnded(LookupFailure, strName);
}

void CProbeHistory::Skip() {
    const DWORD now = CPlatform::Framework().GetTickCount();
    if (m_entries.empty() || m_entries.back().nKind != Skipped)
        Append(Skipped, kNoName).nValueMs = 0;
    Entry& stretch = m_entries.back();
    stretch.nValueMs = int32_t(std::min<DWORD>(now - stretch.dwAt, INT32_MAX));
    emit Changed();
}

void CProbeHistory::SetStopped(bool bStopped) {
    if (bStopped == m_bStopped)
        return;
    m_bStopped = bStopped;
    if (bStopped) {
        Append(Stopped, kNoName);
    } else {
        // The stretch ends now; it may have been dropped from the front meanwhile.
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
            if (it->nKind == Stopped) {
                it->nValueMs = int32_t(
                    std::min<DWORD>(CPlatform::Framework().GetTickCount() - it->dwAt, INT32_MAX));
                break;
            }
    }
    emit Changed();
}

const CProbeHistory::Entry* CProbeHistory::LastEnded() const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (IsProbe(it->nKind) && m_nPending != m_nDropped + uint64_t(m_entries.rend() - it) - 1)
            return &*it;
    return nullptr;
}

std::vector<CProbeHistory::NameSummary> CProbeHistory::Summaries() const {
    std::vector<NameSummary> rows;
    std::map<uint16_t, size_t> rowOf;
    std::vector<std::vector<int32_t>> times;
    for (const Entry& entry : m_entries) {
        if (!IsProbe(entry.nKind))
            continue;
        auto [it, added] = rowOf.emplace(entry.nName, rows.size());
        if (added) {
            rows.push_back({});
            rows.back().strName = m_names[entry.nName];
            times.emplace_back();
        }
        NameSummary& row = rows[it->second];
        ++row.nProbes;
        switch (entry.nKind) {
        case Answered:
            ++row.nAnswered;
            row.nLastAnswered = entry.nClock;
            times[it->second].push_back(entry.nValueMs);
            break;
        case LookupFailure:
            ++row.nLookupFailures;
            break;
        case SocketFailure:
            ++row.nSocketFailures;
            break;
        default:
            ++row.nNoReply;
            break;
        }
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<int32_t>& t = times[i];
        if (t.empty())
            continue;
        // The lower middle of an even count: a time that was measured, not an average.
        const auto middle = t.begin() + (t.size() - 1) / 2;
        std::nth_element(t.begin(), middle, t.end());
        rows[i].nMedianMs = *middle;
        rows[i].nWorstMs = *std::max_element(t.begin(), t.end());
    }
    return rows;
}

QString CProbeHistory::KindText(int nKind) {
    switch (nKind) {
    case Answered:
        return QStringLiteral("answered");
    case LookupFailure:
        return QStringLiteral("lookup failure");
    case SocketFailure:
        return QStringLiteral("socket failure");
    case NoReply:
        return QStringLiteral("no reply");
    case Skipped:
        return QStringLiteral("skipped, link in use");
    default:
        return QStringLiteral("stopped");
    }
}

QString CProbeHistory::Description() const {
    int probes = 0;
    int answered = 0;
    const Entry* pLastFailure = nullptr;
    for (const Entry& entry : m_entries) {
        if (!IsProbe(entry.nKind))
            continue;
        ++probes;
        if (entry.nKind == Answered)
            ++answered;
        else if (entry.nKind != NoReply)
            pLastFailure = &entry;
    }
    QString text = QStringLiteral("%1 probes, %2 answered").arg(probes).arg(answered);
    if (pLastFailure == nullptr)
        return text + QStringLiteral(", no failure.");
    return text + QStringLiteral(", last failure: %1 with %2 at %3.")
                      .arg(KindText(pLastFailure->nKind), m_names[pLastFailure->nName],
                           QDateTime::fromSecsSinceEpoch(pLastFailure->nClock)
                               .toString(QStringLiteral("HH:mm:ss")));
}
