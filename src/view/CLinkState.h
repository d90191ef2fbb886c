#pragma once

#include "WinTypes.h"

#include <QString>

#include <optional>
#include <vector>

// Whether the link is down: after a run of failed probes of any kind and any name, as long
// as kFailuresDown or as the whole list when it is shorter. The link is up again at the
// first answered probe. Each change comes with the notice that tells the user.
class CLinkState {
public:
    static constexpr int kFailuresDown = 3;

    struct Notice {
        QString strTitle;
        QString strText;
    };

    // A probe's outcome is known; nListSize is the number of names in the list now.
    std::optional<Notice> ProbeFailed(int nKind, const QString& strName, int nListSize);
    std::optional<Notice> ProbeAnswered();

    bool IsDown() const { return m_bDown; }
    int FailuresInRow() const { return m_nFailures; }
    // "3 min 05 s" and the like.
    static QString DurationText(DWORD dwMs);
    // "1 probe", "2 probes".
    static QString ProbesText(int nProbes);

private:
    struct Failure {
        QString strName;
        int nKind;
    };
    bool m_bDown = false;
    int m_nFailures = 0;
    DWORD m_dwSince = 0;          // tick count at the run's first failure
    QString m_strSinceText;       // its clock time
    std::vector<Failure> m_first; // the failures that made the link count as down
};
