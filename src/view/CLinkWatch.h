#pragma once

#include <QString>

#include <cstdint>
#include <sys/socket.h>

// Watches the link to the probed address for traffic, for "Bumple Only When Idle". Every
// doubt (no route, the interface gone, counters that cannot be read or that went back)
// reads as an idle link, so that the probe goes as scheduled.
class CLinkWatch {
public:
    // Bytes in both directions together in one tick above which the link counts as in use:
    // more than the housekeeping of an idle link sends in a second (ARP, NTP, DHCP, mDNS,
    // other programs' TCP keep-alives: each well under 200 bytes a second), less than any
    // use that keeps a link up by itself (one web request, a mail fetch, a voice call).
    static constexpr uint64_t kThresholdBytes = 1024;

    // Looks up the interface that routes to the address.
    void Watch(const sockaddr_storage& address);
    // Forgets the interface: nothing is read until the next Watch.
    void Forget();
    // Reads the counters once. True when the link carried more than the threshold since
    // the last reading; a reading across Bumple's own exchange (bOwnExchange) never counts.
    bool Busy(bool bOwnExchange);

private:
    QString m_strInterface;
    bool m_bHaveLast = false;
    uint64_t m_nLastBytes = 0;
};
