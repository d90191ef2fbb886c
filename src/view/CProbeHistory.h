#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <unordered_map>
#include <vector>

// Every probe since launch, in memory only: its outcome, its name and address and the time
// from the start of the connection to the first reply byte; with them the stretches in which
// "Bumple Only When Idle" held probes back, the engine was stopped, or the machine slept.
// Consecutive identical failures of one name share one entry with a count. Times come from
// the framework's 64-bit tick count, which runs on while the machine sleeps, and its clock.
class CProbeHistory : public QObject {
    Q_OBJECT
public:
    enum Kind : uint8_t {
        Answered,
        LookupFailure,
        SocketFailure,
        ConnectFailure,
        NoReply,
        Skipped,
        Stopped,
        Suspended
    };
    static constexpr int kKinds = Suspended + 1;

    // 32 bytes: the bound below keeps the whole history within 4 MiB.
    struct Entry {
        int64_t nAt;        // tick count at the start
        uint32_t nClock;    // the clock's seconds at the start
        uint32_t nLengthMs; // from the start to the last probe folded in, or a stretch's end
        int32_t nValueMs;   // time to the first byte; -1 for none
        uint32_t nCount;    // probes in the entry
        uint16_t nName;     // index into the texts; unused by stretches
        uint16_t nAddress;  // index into the texts
        uint8_t nKind;
    };
    static constexpr size_t kMaxEntries = 100000;
    static constexpr uint64_t kNone = UINT64_MAX;

    struct NameSummary {
        QString strName;
        int nProbes = 0;
        int nAnswered = 0;
        int nLookupFailures = 0;
        int nSocketFailures = 0;
        int nConnectFailures = 0;
        int nNoReply = 0;
        int64_t nLastAnswered = -1; // the clock's seconds
        int nMedianMs = -1;
        int nWorstMs = -1;
    };

    // A probe's connection is being opened; it counts as without reply until it is answered
    // or fails. The number names the probe in the calls below.
    uint64_t ProbeStarted(const QString& strName);
    void ProbeAddress(uint64_t nProbe, const QString& strAddress);
    // The probe's connection is open: it is the one whose reply ProbeAnswered takes.
    void ProbeConnected(uint64_t nProbe);
    void ProbeAnswered();
    // Only the first outcome of a probe counts; a later one is ignored.
    void ProbeFailed(uint64_t nProbe, Kind kind);
    void LookupFailed(const QString& strName);
    // The countdown started over because the link was in use: a skipped stretch grows.
    void Skip();
    // The engine stopped with notice, or runs again: a stopped stretch opens or closes.
    void SetStopped(bool bStopped);

    const std::deque<Entry>& Entries() const { return m_entries; }
    // A name or an address; empty for none.
    const QString& Text(uint16_t nIndex) const;
    // The stopped stretch at this place in Entries() has not ended yet.
    bool IsOpenStretch(size_t nIndex) const {
        return m_bStopped && m_nStopped - m_nDropped == nIndex;
    }
    // The last probe whose outcome is known, or null.
    const Entry* LastEnded() const;
    // One row for each name, in the order the names were first probed.
    int RowCount() const { return int(m_rows.size()); }
    NameSummary Summary(int nRow) const;
    std::vector<NameSummary> Summaries() const;
    // The whole history in one sentence: probes, answered, the last failure and the stretches.
    QString Description() const;
    // One line for each entry: start, last probe, name, address, outcome, count, time to
    // the first byte; times in ISO 8601 with the offset from UTC.
    QByteArray Csv() const;
    static QString KindText(int nKind);
    // "HH:mm:ss", with the date in front when it is not the day of nNow.
    static QString ClockText(int64_t nSeconds, int64_t nNow);
    static bool IsFailure(int nKind);

signals:
    // Row nRow of the summaries changed or was added; kNoRow: only the chart changed;
    // -1: rows went away, read them all.
    void Changed(int nRow);
    // A probe's outcome is final: answered, failed, or left without a reply when the next
    // probe or lookup comes.
    void ProbeEnded(int nKind, const QString& strName);

public:
    static constexpr int kNoRow = -2;

private:
    struct NameState {
        int nRow = -1;
        NameSummary summary;
        std::map<int32_t, uint32_t> times; // answered times and how often each came
        uint64_t nNewest = kNone;          // the newest entry of the name
        uint64_t nBefore = kNone;          // the one before it
    };
    // The tick count now; a sleep since the last call becomes a stretch first.
    int64_t Now();
    uint64_t Append(Kind kind, uint16_t nName);
    uint64_t Push(const Entry& entry);
    void DropFront();
    uint16_t TextIndex(const QString& strText);
    const Entry* At(uint64_t nNumber) const;
    Entry* At(uint64_t nNumber);
    uint64_t Opening(uint64_t nProbe, bool bRemove);
    void Count(const Entry& entry, int nSign);
    // Takes a failure into the name's entry before it when that is the same failure.
    void Fold(uint64_t nNumber);
    void Emit(uint16_t nName);
    // The probe awaiting its reply goes without one as far as anyone can tell now.
    void EndWithoutReply();

    std::deque<Entry> m_entries;
    uint64_t m_nDropped = 0; // entries dropped at the front so far
    uint64_t m_nNextProbe = 0;
    // Probes being opened (outer ones stay open under a message box): probe, entry.
    std::vector<std::pair<uint64_t, uint64_t>> m_opening;
    uint64_t m_nWaiting = kNone; // entry of the probe whose reply is awaited
    uint64_t m_nGivenUp = kNone; // the awaited entry already announced as without reply
    uint64_t m_nStopped = kNone; // entry of the open stopped stretch
    uint64_t m_nLastFailure = kNone;
    int64_t m_stretchMs[kKinds] = {};
    int m_stretches[kKinds] = {};
    bool m_bStopped = false;
    int64_t m_nAsleepMs = -1; // time asleep at the last entry
    std::vector<QString> m_texts;
    QHash<QString, uint16_t> m_textIndex;
    std::unordered_map<uint16_t, NameState> m_names; // by text index
    std::vector<uint16_t> m_rows;                    // text indices of the rows
    bool m_bRowsDropped = false;
};
