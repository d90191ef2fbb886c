#pragma once

#include "CLinkCounters.h"

#include <QStringList>

// Links as the test sets them: one route for every address, counters the test moves on.
class CScriptedLinkCounters : public CLinkCounters {
public:
    QString RouteInterface(uint32_t) override {
        ++m_nRouteLookups;
        return m_strInterface;
    }
    bool ReadBytes(const QString& strInterface, uint64_t* pBytes) override {
        m_reads.append(strInterface);
        *pBytes = m_nBytes;
        return m_bReadable;
    }

    // The script
    QString m_strInterface = QStringLiteral("lo");
    uint64_t m_nBytes = 0;
    bool m_bReadable = true;

    // What was asked for
    int m_nRouteLookups = 0;
    QStringList m_reads;
};
