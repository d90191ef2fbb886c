#include "CLinkWatch.h"

#include "CLinkCounters.h"
#include "CPlatform.h"
#include "CWinsock.h"

void CLinkWatch::Watch(const sockaddr_storage& address) {
    m_address = address;
    m_bLookUp = true;
}

void CLinkWatch::Forget() {
    CPlatform::Links().Close();
    m_bLookUp = true;
    m_bHaveLast = false;
}

bool CLinkWatch::OwnBytes(SOCKET s, uint64_t* pBytes) {
    uint64_t own = m_nOwnClosed;
    m_nOwnClosed = 0;
    bool known = true;
    if (s != INVALID_SOCKET) {
        uint64_t counts = 0;
        known = CPlatform::Sockets().OwnCounts(s, &counts);
        // A socket not seen at the last reading exchanged all of its counts since.
        own += s == m_ownSocket && counts >= m_nOwnLast ? counts - m_nOwnLast : counts;
        m_nOwnLast = counts;
    }
    m_ownSocket = s;
    *pBytes = own;
    return known;
}

void CLinkWatch::Closing(SOCKET s) {
    // After the socket's last counts the link may still carry its tail: the closing
    // handshake, and on a slow line a full segment that the peer sent again because its
    // timer ran out while the original still queued (seen on a 64 kbit/s line).
    constexpr uint64_t kTail = 1514 + 2 * 66;
    uint64_t own = 0;
    OwnBytes(s, &own);
    m_nOwnClosed = own + kTail;
    m_ownSocket = INVALID_SOCKET;
}

bool CLinkWatch::Busy(SOCKET s) {
    CLinkCounters& links = CPlatform::Links();
    uint64_t own = 0;
    const bool ownKnown = OwnBytes(s, &own);
    uint64_t bytes = 0;
    bool read = !m_bLookUp && m_nInterface != 0 && links.ReadBytes(m_nInterface, &bytes);
    // The reading brings the news of changes with it, so a quiet tick costs one request.
    if (!read || links.Changed()) {
        m_bLookUp = false;
        const int index = m_address.ss_family == AF_UNSPEC ? 0 : links.RouteInterface(m_address);
        if (index != m_nInterface)
            m_bHaveLast = false;
        m_nInterface = index;
        read = index != 0 && links.ReadBytes(index, &bytes);
    }
    if (!read) {
        // Gone, or never there: look again at the next reading.
        m_bLookUp = true;
        m_bHaveLast = false;
        return false;
    }
    const bool haveLast = m_bHaveLast;
    const uint64_t last = m_nLastBytes;
    m_bHaveLast = true;
    m_nLastBytes = bytes;
    // Counters that went back belong to an interface that came up anew, or wrapped.
    if (!haveLast || bytes < last || !ownKnown)
        return false;
    const uint64_t carried = bytes - last;
    return carried > own && carried - own > kThresholdBytes;
}
