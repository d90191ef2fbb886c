#pragma once

#include "CFileDescriptor.h"
#include "CLinkCounters.h"

#include <QByteArray>

// The link counters from /proc: the route from /proc/net/route (read once per lookup),
// the byte counters from /proc/net/dev, kept open and read with one pread per reading.
class CProcLinkCounters : public CLinkCounters {
public:
    QString RouteInterface(uint32_t address) override;
    bool ReadBytes(const QString& strInterface, uint64_t* pBytes) override;

    // The interface of the most specific route to the address in the text of
    // /proc/net/route; the loopback interface for 127.0.0.0/8; empty for none.
    static QString RouteFromText(const QByteArray& route, uint32_t address);
    // Received plus sent bytes of the interface in the text of /proc/net/dev.
    static bool BytesFromText(const QByteArray& dev, const QString& strInterface, uint64_t* pBytes);

private:
    CFileDescriptor m_dev;
};
