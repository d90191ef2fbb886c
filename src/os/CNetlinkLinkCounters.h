#pragma once

#include "CFileDescriptor.h"
#include "CLinkCounters.h"

#include <functional>

struct nlmsghdr;

// The link counters from rtnetlink, on one socket opened at the first call: the kernel's
// own route lookup for the address, one interface's 64-bit statistics by index, and the
// route, rule and link notifications, which tell when to look again.
class CNetlinkLinkCounters : public CLinkCounters {
public:
    int RouteInterface(const sockaddr_storage& address) override;
    bool ReadBytes(int nInterface, uint64_t* pBytes) override;
    bool Changed() override;
    void Close() override;

private:
    bool Open();
    // Sends the request and reads up to its answer, which goes to onAnswer; false when
    // none came or the kernel refused. Every other message is a notification.
    bool Ask(nlmsghdr* pRequest, const std::function<void(const nlmsghdr&)>& onAnswer);
    // Reads what is queued without waiting; true once the answer to seq was seen.
    bool Drain(uint32_t seq, bool* pRefused, const std::function<void(const nlmsghdr&)>& onAnswer);

    CFileDescriptor m_socket;
    uint32_t m_nPortId = 0;
    uint32_t m_nSeq = 0;
    bool m_bChanged = true;
    // A request read the queue since the last Changed: what came before its answer is known.
    bool m_bAsked = false;
};
