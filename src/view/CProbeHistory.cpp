#include "CProbeHistory.h"

#include "CFramework.h"
#include "CPlatform.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

static_assert(sizeof(CProbeHistory::Entry) == 32, "an entry stays small");
static_assert(sizeof(CProbeHistory::Entry) * CProbeHistory::kMaxEntries <= 4u * 1024 * 1024 * 4 / 5,
              "the entries leave room for the deque's blocks, names and times within 4 MiB");

namespace {
constexpr uint16_t kNoText = 0xFFFF;
// A sleep shorter than this is not worth a stretch of its own.
constexpr int64_t kShortestSleepMs = 1000;

bool IsProbe(uint8_t nKind) {
    return nKind <= CProbeHistory::NoReply;
}

uint32_t ClampMs(int64_t ms) {
    return uint32_t(std::clamp<int64_t>(ms, 0, UINT32_MAX));
}

QString DurationText(int64_t ms) {
    const int64_t s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    if (s < 86400)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s / 3600 % 24);
}

// A name that begins like a formula is exported with an apostrophe before it, so that a
// spreadsheet shows it rather than runs it; no host name begins so.
QByteArray CsvText(const QString& text) {
    QByteArray quoted = text.toUtf8();
    if (!quoted.isEmpty() && QByteArrayView("=+-@\t\r").contains(quoted.front()))
        quoted.prepend('\'');
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

QByteArray IsoTime(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate).toLatin1();
}
} // namespace

bool CProbeHistory::IsFailure(int nKind) {
    return nKind >= LookupFailure && nKind <= ConnectFailure;
}

QString CProbeHistory::ClockText(int64_t nSeconds, int64_t nNow) {
    const QDateTime at = QDateTime::fromSecsSinceEpoch(nSeconds);
    if (at.date() == QDateTime::fromSecsSinceEpoch(nNow).date())
        return at.toString(QStringLiteral("HH:mm:ss"));
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

const QString& CProbeHistory::Text(uint16_t nIndex) const {
    static const QString none;
    return nIndex < m_texts.size() ? m_texts[nIndex] : none;
}

uint16_t CProbeHistory::TextIndex(const QString& strText) {
    const auto it = m_textIndex.constFind(strText);
    if (it != m_textIndex.constEnd())
        return it.value();
    // So many different texts share the last index rather than overflow it.
    if (m_texts.size() >= kNoText - 1) {
        if (m_texts.size() == kNoText - 1)
            m_texts.push_back(QStringLiteral("(other names)"));
        return kNoText - 1;
    }
    const auto index = uint16_t(m_texts.size());
    m_texts.push_back(strText);
    m_textIndex.insert(strText, index);
    return index;
}

const CProbeHistory::Entry* CProbeHistory::At(uint64_t nNumber) const {
    if (nNumber < m_nDropped || nNumber - m_nDropped >= m_entries.size())
        return nullptr;
    return &m_entries[size_t(nNumber - m_nDropped)];
}

CProbeHistory::Entry* CProbeHistory::At(uint64_t nNumber) {
    return const_cast<Entry*>(std::as_const(*this).At(nNumber));
}

void CProbeHistory::Count(const Entry& entry, int nSign) {
    if (!IsProbe(entry.nKind))
        return;
    NameState& state = m_names[entry.nName];
    NameSummary& s = state.summary;
    const int n = nSign * int(entry.nCount);
    s.nProbes += n;
    switch (entry.nKind) {
    case Answered: {
        s.nAnswered += n;
        uint32_t& times = state.times[entry.nValueMs];
        times += uint32_t(nSign);
        if (times == 0)
            state.times.erase(entry.nValueMs);
        if (nSign > 0)
            s.nLastAnswered = entry.nClock;
        else if (s.nAnswered == 0)
            s.nLastAnswered = -1;
        break;
    }
    case LookupFailure:
        s.nLookupFailures += n;
        break;
    case SocketFailure:
        s.nSocketFailures += n;
        break;
    case ConnectFailure:
        s.nConnectFailures += n;
        break;
    default:
        s.nNoReply += n;
        break;
    }
}

void CProbeHistory::DropFront() {
    const Entry entry = m_entries.front();
    m_entries.pop_front();
    ++m_nDropped;
    if (!IsProbe(entry.nKind)) {
        m_stretchMs[entry.nKind] -= entry.nLengthMs;
        --m_stretches[entry.nKind];
        return;
    }
    Count(entry, -1);
    const auto it = m_names.find(entry.nName);
    if (it->second.summary.nProbes > 0)
        return;
    // The name's last entry is gone: its row goes, and the rows after it move up.
    m_rows.erase(m_rows.begin() + it->second.nRow);
    m_names.erase(it);
    for (size_t row = 0; row < m_rows.size(); ++row)
        m_names[m_rows[row]].nRow = int(row);
    m_bRowsDropped = true;
}

uint64_t CProbeHistory::Push(const Entry& entry) {
    if (m_entries.size() >= kMaxEntries)
        DropFront();
    m_entries.push_back(entry);
    const uint64_t number = m_nDropped + m_entries.size() - 1;
    if (!IsProbe(entry.nKind)) {
        m_stretchMs[entry.nKind] += entry.nLengthMs;
        ++m_stretches[entry.nKind];
        return number;
    }
    NameState& state = m_names[entry.nName];
    if (state.nRow < 0) {
        state.nRow = int(m_rows.size());
        state.summary.strName = Text(entry.nName);
        m_rows.push_back(entry.nName);
    }
    state.nBefore = state.nNewest;
    state.nNewest = number;
    Count(entry, +1);
    return number;
}

int64_t CProbeHistory::Now() {
    CFramework& framework = CPlatform::Framework();
    const int64_t now = framework.TickCount64();
    // The time asleep grows only while the machine sleeps: that stretch is shown as such.
    const int64_t asleep = now - framework.AwakeTickCount64();
    if (m_nAsleepMs >= 0 && asleep - m_nAsleepMs >= kShortestSleepMs) {
        const int64_t length = asleep - m_nAsleepMs;
        Push({now - length, uint32_t(int64_t(framework.Time()) - length / 1000), ClampMs(length), 0,
              0, kNoText, kNoText, Suspended});
    }
    m_nAsleepMs = asleep;
    return now;
}

uint64_t CProbeHistory::Append(Kind kind, uint16_t nName) {
    const int64_t now = Now();
    return Push({now, uint32_t(CPlatform::Framework().Time()), 0, -1, IsProbe(kind) ? 1u : 0u,
                 nName, kNoText, uint8_t(kind)});
}

void CProbeHistory::Fold(uint64_t nNumber) {
    const Entry& entry = *At(nNumber);
    if (IsFailure(entry.nKind))
        m_nLastFailure = nNumber;
    NameState& state = m_names[entry.nName];
    Entry* pInto = At(state.nBefore);
    // Only the newest entry can go, and only into the name's entry just before it.
    if (nNumber != m_nDropped + m_entries.size() - 1 || state.nNewest != nNumber ||
        pInto == nullptr || !IsFailure(entry.nKind) || pInto->nKind != entry.nKind ||
        pInto->nAddress != entry.nAddress || entry.nAt - pInto->nAt > int64_t(UINT32_MAX))
        return;
    pInto->nCount += entry.nCount;
    pInto->nLengthMs = uint32_t(entry.nAt - pInto->nAt);
    m_entries.pop_back();
    state.nNewest = state.nBefore;
    state.nBefore = kNone;
    m_nLastFailure = state.nNewest;
}

void CProbeHistory::Emit(uint16_t nName) {
    if (m_bRowsDropped) {
        m_bRowsDropped = false;
        emit Changed(-1);
        return;
    }
    const auto it = m_names.find(nName);
    emit Changed(it == m_names.end() ? kNoRow : it->second.nRow);
}

void CProbeHistory::EndWithoutReply() {
    const Entry* pEntry = At(m_nWaiting);
    if (pEntry == nullptr || pEntry->nKind != NoReply || m_nGivenUp == m_nWaiting)
        return;
    // A late reply still counts: the entry stays the awaited one.
    m_nGivenUp = m_nWaiting;
    emit ProbeEnded(NoReply, Text(pEntry->nName));
}

uint64_t CProbeHistory::ProbeStarted(const QString& strName) {
    EndWithoutReply();
    const uint16_t name = TextIndex(strName);
    const uint64_t number = Append(NoReply, name);
    // Probes under message boxes nest; one that never ends is dropped after a few.
    if (m_opening.size() >= 8)
        m_opening.erase(m_opening.begin());
    m_opening.push_back({m_nNextProbe, number});
    Emit(name);
    return m_nNextProbe++;
}

uint64_t CProbeHistory::Opening(uint64_t nProbe, bool bRemove) {
    for (auto it = m_opening.begin(); it != m_opening.end(); ++it)
        if (it->first == nProbe) {
            const uint64_t number = it->second;
            if (bRemove)
                m_opening.erase(it);
            return number;
        }
    return kNone;
}

void CProbeHistory::ProbeAddress(uint64_t nProbe, const QString& strAddress) {
    if (Entry* pEntry = At(Opening(nProbe, false)))
        pEntry->nAddress = TextIndex(strAddress);
}

void CProbeHistory::ProbeConnected(uint64_t nProbe) {
    const uint64_t number = Opening(nProbe, true);
    if (number != kNone)
        m_nWaiting = number;
}

void CProbeHistory::ProbeAnswered() {
    Entry* pEntry = At(m_nWaiting);
    m_nWaiting = kNone;
    if (pEntry == nullptr || pEntry->nKind != NoReply)
        return;
    Count(*pEntry, -1);
    pEntry->nKind = Answered;
    pEntry->nValueMs = int32_t(std::min<int64_t>(Now() - pEntry->nAt, INT32_MAX));
    Count(*pEntry, +1);
    Emit(pEntry->nName);
    emit ProbeEnded(Answered, Text(pEntry->nName));
}

void CProbeHistory::ProbeFailed(uint64_t nProbe, Kind kind) {
    const uint64_t number = Opening(nProbe, true);
    Entry* pEntry = At(number);
    if (pEntry == nullptr || pEntry->nKind != NoReply)
        return;
    const uint16_t name = pEntry->nName;
    Count(*pEntry, -1);
    pEntry->nKind = kind;
    Count(*pEntry, +1);
    Fold(number);
    Emit(name);
    emit ProbeEnded(kind, Text(name));
}

void CProbeHistory::LookupFailed(const QString& strName) {
    EndWithoutReply();
    const uint16_t name = TextIndex(strName);
    Fold(Append(LookupFailure, name));
    Emit(name);
    emit ProbeEnded(LookupFailure, strName);
}

const CProbeHistory::Entry* CProbeHistory::LastEnded() const {
    const auto opening = [this](uint64_t nNumber) {
        return std::any_of(m_opening.begin(), m_opening.end(),
                           [nNumber](const auto& probe) { return probe.second == nNumber; });
    };
    for (uint64_t number = m_nDropped + m_entries.size(); number-- > m_nDropped;) {
        const Entry& entry = *At(number);
        const bool bInFlight = entry.nKind == NoReply &&
                               ((number == m_nWaiting && number != m_nGivenUp) || opening(number));
        if (IsProbe(entry.nKind) && !bInFlight)
            return &entry;
    }
    return nullptr;
}

void CProbeHistory::Skip() {
    const int64_t now = Now();
    Entry* pStretch = m_entries.empty() ? nullptr : &m_entries.back();
    if (pStretch == nullptr || pStretch->nKind != Skipped || now - pStretch->nAt > UINT32_MAX)
        pStretch = At(Append(Skipped, kNoText));
    const uint32_t length = ClampMs(now - pStretch->nAt);
    m_stretchMs[Skipped] += int64_t(length) - pStretch->nLengthMs;
    pStretch->nLengthMs = length;
    Emit(kNoText);
}

void CProbeHistory::SetStopped(bool bStopped) {
    if (bStopped == m_bStopped)
        return;
    m_bStopped = bStopped;
    if (bStopped) {
        m_nStopped = Append(Stopped, kNoText);
    } else if (Entry* pStretch = At(m_nStopped)) {
        // The stretch ends now; it may have been dropped from the front meanwhile.
        pStretch->nLengthMs = ClampMs(Now() - pStretch->nAt);
        m_stretchMs[Stopped] += pStretch->nLengthMs;
    }
    Emit(kNoText);
}

CProbeHistory::NameSummary CProbeHistory::Summary(int nRow) const {
    const NameState& state = m_names.at(m_rows[size_t(nRow)]);
    NameSummary row = state.summary;
    if (state.times.empty())
        return row;
    // The lower middle of an even count: a time that was measured, not an average.
    int64_t left = (row.nAnswered - 1) / 2;
    for (const auto& [ms, count] : state.times) {
        left -= count;
        if (left < 0) {
            row.nMedianMs = ms;
            break;
        }
    }
    row.nWorstMs = state.times.rbegin()->first;
    return row;
}

std::vector<CProbeHistory::NameSummary> CProbeHistory::Summaries() const {
    std::vector<NameSummary> rows;
    for (int row = 0; row < RowCount(); ++row)
        rows.push_back(Summary(row));
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
    case ConnectFailure:
        return QStringLiteral("connect failure");
    case NoReply:
        return QStringLiteral("no reply");
    case Skipped:
        return QStringLiteral("skipped, link in use");
    case Stopped:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("asleep");
    }
}

QString CProbeHistory::Description() const {
    int probes = 0;
    int answered = 0;
    for (const auto& [name, state] : m_names) {
        probes += state.summary.nProbes;
        answered += state.summary.nAnswered;
    }
    QString text = QStringLiteral("%1 probes, %2 answered").arg(probes).arg(answered);
    const int64_t now = CPlatform::Framework().Time();
    const auto* pLast = At(m_nLastFailure);
    if (pLast == nullptr)
        text += QStringLiteral(", no failure.");
    else
        text += QStringLiteral(", last failure: %1 with %2 at %3.")
                    .arg(KindText(pLast->nKind), Text(pLast->nName),
                         ClockText(int64_t(pLast->nClock) + pLast->nLengthMs / 1000, now));
    // The stretches without probes, so that a gap is not taken for a quiet link.
    const Entry* pOpen = m_bStopped ? At(m_nStopped) : nullptr;
    const auto stretch = [&](Kind kind, const char* what) {
        const int count = m_stretches[kind] - (kind == Stopped && pOpen != nullptr ? 1 : 0);
        if (count > 0)
            text += QStringLiteral(" %1 %2 times for %3.")
                        .arg(QLatin1String(what))
                        .arg(count)
                        .arg(DurationText(m_stretchMs[kind]));
    };
    stretch(Skipped, "Held back while the link was in use");
    stretch(Stopped, "Stopped");
    stretch(Suspended, "Asleep");
    if (pOpen != nullptr)
        text += QStringLiteral(" Stopped since %1.").arg(ClockText(pOpen->nClock, now));
    return text;
}

QByteArray CProbeHistory::Csv() const {
    QByteArray csv("start,last,name,address,outcome,count,time_to_first_byte_ms\r\n");
    for (const Entry& entry : m_entries) {
        const int64_t last = int64_t(entry.nClock) + entry.nLengthMs / 1000;
        csv += IsoTime(entry.nClock) + ',' + IsoTime(last) + ',' + CsvText(Text(entry.nName)) +
               ',' + CsvText(Text(entry.nAddress)) + ',' + CsvText(KindText(entry.nKind)) + ',' +
               QByteArray::number(entry.nCount) + ',' +
               (entry.nKind == Answered ? QByteArray::number(entry.nValueMs) : QByteArray()) +
               "\r\n";
    }
    return csv;
}
