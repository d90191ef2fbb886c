#pragma once

#include "WinTypes.h"

#include <sys/socket.h>

#include <cstdint>

// Watches the link to the probed address for traffic, for "Bumple Only When Idle". Every
// doubt (no route, the interface gone, counters that cannot be read or that went back)
// reads as an idle link, so that the probe goes as scheduled.
class CLinkWatch {
public:
    // Bytes on the wire, headers included, in both directions together in one tick above
    // which the link counts as in use: more than the housekeeping of an idle link sends in
    // a second (ARP, NTP, DHCP, mDNS, other programs' TCP keep-alives: each well under 200
    // bytes a second), less than any use that keeps a link up by itself (one web request,
    // a mail fetch, a voice call).
    static constexpr uint64_t kThresholdBytes = 1024;

    // The address the probes go to (AF_INET or AF_INET6); its link is looked up at the
    // next reading. Only remembered: it costs nothing while the option is off.
    void Watch(const sockaddr_storage& address);
    // Lets go of the kernel's links until the next reading.
    void Forget();
    // Reads the link once. True when it carried more than the threshold since the last
    // reading besides Bumple's own exchange on the probe socket s (INVALID_SOCKET: none).
    bool Busy(SOCKET s);
    // The probe socket s closes: what it exchanged since the last reading is Bumple's own.
    void Closing(SOCKET s);

private:
    // Bumple's own bytes since the last reading; false when the socket's counts are unknown.
    bool OwnBytes(SOCKET s, uint64_t* pBytes);

    sockaddr_storage m_address{};
    bool m_bLookUp = true;
    int m_nInterface = 0;
    bool m_bHaveLast = false;
    uint64_t m_nLastBytes = 0;
    // The probe socket's counts at the last reading, and what closed sockets exchanged since.
    SOCKET m_ownSocket = INVALID_SOCKET;
    uint64_t m_nOwnLast = 0;
    uint64_t m_nOwnClosed = 0;
};
