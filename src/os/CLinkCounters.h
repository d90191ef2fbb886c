#pragma once

#include <cstdint>

struct sockaddr_storage;

// The kernel's view of the network links: which interface it sends to an address through,
// how many bytes an interface has carried, and whether routes, rules or links changed.
class CLinkCounters {
public:
    virtual ~CLinkCounters() = default;

    // The index of the interface that carries the route to the address (AF_INET or
    // AF_INET6) as the kernel chooses it: rules, tables, metrics; 0 when there is none.
    virtual int RouteInterface(const sockaddr_storage& address) = 0;
    // Bytes received plus bytes sent on the wire by the interface since it came up; false
    // when they cannot be read (the interface is gone).
    virtual bool ReadBytes(int nInterface, uint64_t* pBytes) = 0;
    // True when routes, rules or links may have changed since the last call (what a reading
    // met on the way to its answer included).
    virtual bool Changed() = 0;
    // Lets go of whatever the calls above hold open, until the next call.
    virtual void Close() = 0;
};
