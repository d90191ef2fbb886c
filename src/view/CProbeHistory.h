#pragma once

#include "WinTypes.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

// Every probe since launch, in memory only: its outcome, its name and the time from the
// start of the connection to the first reply byte; with them the stretches in which
// "Bumple Only When Idle" skipped probes and those in which the engine was stopped.
// Times come from the framework's monotonic tick count and its clock.
class CProbeHistory : public QObject {
    Q_OBJECT
public:
    enum Kind : uint8_t { Answered, LookupFailure, SocketFailure, NoReply, Skipped, Stopped };

    // 16 bytes: the bound below keeps the whole history within 4 MiB.
    struct Entry {
        DWORD dwAt;       // tick count at the start
        int32_t nValueMs; // time to the first byte, or a stretch's length; -1 for none
        uint32_t nClock;  // the clock's seconds at the start
        uint16_t nName;   // index into the names; unused by stretches
        uint8_t nKind;
    };
    static constexpr size_t kMaxEntries = 100000;

    struct NameSummary {
        QString strName;
        int nProbes = 0;
        int nAnswered = 0;
        int nLookupFailures = 0;
        int nSocketFailures = 0;
        int nNoReply = 0;
        int64_t nLastAnswered = -1; // the clock's seconds
        int nMedianMs = -1;
        int nWorstMs = -1;
    };

    // A probe's connection starts now; it counts as without reply until answered.
    void ProbeStarted(const QString& strName);
    void ProbeAnswered();
    void ProbeFailed();
    void LookupFailed(const QString& strName);
    // The countdown started over because the link was in use: a skipped stretch grows.
    void Skip();
    // The engine stopped with notice, or runs again: a stopped stretch opens or closes.
    void SetStopped(bool bStopped);

    const std::deque<Entry>& Entries() const { return m_entries; }
    // The last probe whose outcome is known, or null.
    const Entry* LastEnded() const;
    const QString& Name(uint16_t nName) const { return m_names[nName]; }
    // One row for each name, in the order the names were first probed.
    std::vector<NameSummary> Summaries() const;
    // The whole history in one sentence: probes, answered, and the last failure.
    QString Description() const;
    static QString KindText(int nKind);

signals:
    void Changed();
    // A probe's outcome is final: answered, failed, or left without a reply when the next
    // probe or lookup comes.
    void ProbeEnded(int nKind, const QString& strName);

private:
    Entry& Append(Kind kind, uint16_t nName);
    uint16_t NameIndex(const QString& strName);
    Entry* Pending();
    // A pending probe that is still waiting now ends without a reply.
    void EndWithoutReply();

    std::deque<Entry> m_entries;
    uint64_t m_nDropped = 0;          // entries dropped at the front so far
    uint64_t m_nPending = UINT64_MAX; // number of the probe waiting for its reply
    bool m_bStopped = false;
    std::vector<QString> m_names;
    QHash<QString, uint16_t> m_nameIndex;
};
