#pragma once

#include <QString>

#include <cstdint>

// The kernel's view of the network links: which interface routes to an address, and how
// many bytes an interface has carried.
class CLinkCounters {
public:
    virtual ~CLinkCounters() = default;

    // The interface that carries the route to the IPv4 address (network byte order);
    // empty when there is no route.
    virtual QString RouteInterface(uint32_t address) = 0;
    // Bytes received plus bytes sent by the interface since it came up; false when they
    // cannot be read (the interface is gone, the counters are unreadable).
    virtual bool ReadBytes(const QString& strInterface, uint64_t* pBytes) = 0;
};
