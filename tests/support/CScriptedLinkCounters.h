#pragma once

#include "CLinkCounters.h"

#include <QList>

#include <map>

// Links as the test sets them: one route for every address, counters per interface index
// that the test moves on, and changes that the test announces.
class CScriptedLinkCounters : public CLinkCounters {
public:
    int RouteInterface(const sockaddr_storage&) override {
        ++m_nRouteLookups;
        m_bOpen = true;
        return m_nInterface;
    }
    bool ReadBytes(int nInterface, uint64_t* pBytes) override {
        m_reads.append(nInterface);
        m_bOpen = true;
        const auto it = m_bytes.find(nInterface);
        if (it == m_bytes.end() || !m_bReadable)
            return false;
        *pBytes = it->second;
        return true;
    }
    bool Changed() override { return std::exchange(m_bChanged, false); }
    void Close() override { m_bOpen = false; }

    // The script: the route's interface (0: none), each interface's bytes (an index not
    // here is gone), whether counters can be read, and a change not looked at yet.
    int m_nInterface = 1;
    std::map<int, uint64_t> m_bytes = {{1, 0}};
    bool m_bReadable = true;
    bool m_bChanged = false;

    // What was asked for
    int m_nRouteLookups = 0;
    QList<int> m_reads;
    bool m_bOpen = false;
};
