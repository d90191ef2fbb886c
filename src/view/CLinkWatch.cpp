#include "CLinkWatch.h"

#include "CLinkCounters.h"
#include "CPlatform.h"

#include <netinet/in.h>

void CLinkWatch::Watch(const sockaddr_storage& address) {
    // Only IPv4 routes are read here; any other link is not watched, so probes keep time.
    const QString strInterface =
        address.ss_family == AF_INET
            ? CPlatform::Links().RouteInterface(
                  reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr)
            : QString();
    if (strInterface != m_strInterface)
        m_bHaveLast = false;
    m_strInterface = strInterface;
}

void CLinkWatch::Forget() {
    m_strInterface.clear();
    m_bHaveLast = false;
}

bool CLinkWatch::Busy(bool bOwnExchange) {
    uint64_t bytes = 0;
    if (m_strInterface.isEmpty() || !CPlatform::Links().ReadBytes(m_strInterface, &bytes)) {
        m_bHaveLast = false;
        return false;
    }
    const bool haveLast = m_bHaveLast;
    const uint64_t last = m_nLastBytes;
    m_bHaveLast = true;
    m_nLastBytes = bytes;
    // Counters that went back belong to an interface that came up anew.
    if (!haveLast || bytes < last || bOwnExchange)
        return false;
    return bytes - last > kThresholdBytes;
}
