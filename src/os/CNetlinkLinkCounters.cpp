#include "CNetlinkLinkCounters.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
// Large enough for the longest message the kernel queues at once (a link notification).
constexpr size_t kReceiveSize = 32768;
// Routes, rules and links of both families: any of them can move the route to the target.
constexpr uint32_t kGroups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV4_RULE |
                             RTMGRP_IPV6_ROUTE | (1U << (RTNLGRP_IPV6_RULE - 1));

void AddAttribute(nlmsghdr* pRequest, unsigned short type, const void* pData, size_t size) {
    auto* pAttribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(pRequest) +
                                                 NLMSG_ALIGN(pRequest->nlmsg_len));
    pAttribute->rta_type = type;
    pAttribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(pAttribute), pData, size);
    pRequest->nlmsg_len = NLMSG_ALIGN(pRequest->nlmsg_len) + RTA_ALIGN(pAttribute->rta_len);
}

// Calls onAttribute for each attribute after a fixed header of the given size.
template <typename F>
void ForEachAttribute(const nlmsghdr& message, size_t headerSize, F onAttribute) {
    const size_t offset = NLMSG_LENGTH(NLMSG_ALIGN(headerSize));
    if (message.nlmsg_len < offset)
        return;
    auto* pAttribute =
        reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(&message) + offset);
    unsigned int left = message.nlmsg_len - unsigned(offset);
    for (; RTA_OK(pAttribute, left); pAttribute = RTA_NEXT(pAttribute, left))
        onAttribute(*pAttribute);
}
} // namespace

bool CNetlinkLinkCounters::Open() {
    if (m_socket.IsOpen())
        return true;
    CFileDescriptor s(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = kGroups;
    socklen_t size = sizeof local;
    if (!s.IsOpen() || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return false;
    m_socket = std::move(s);
    m_nPortId = local.nl_pid;
    // The lookup this opens for is the first look.
    m_bChanged = false;
    return true;
}

void CNetlinkLinkCounters::Close() {
    m_socket = CFileDescriptor();
}

bool CNetlinkLinkCounters::Drain(uint32_t seq, bool* pRefused,
                                 const std::function<void(const nlmsghdr&)>& onAnswer) {
    alignas(nlmsghdr) static char buffer[kReceiveSize];
    for (;;) {
        const ssize_t n = m_socket.ReceiveSome(buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0 && errno == ENOBUFS) {
            // Notifications were lost: anything may have changed.
            m_bChanged = true;
            continue;
        }
        if (n <= 0)
            return false;
        if (size_t(n) > sizeof buffer) {
            m_bChanged = true; // a notification too long to read whole
            continue;
        }
        bool answered = false;
        unsigned int left = unsigned(n);
        for (auto* pMessage = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(pMessage, left);
             pMessage = NLMSG_NEXT(pMessage, left)) {
            if (seq == 0 || pMessage->nlmsg_pid != m_nPortId || pMessage->nlmsg_seq != seq) {
                m_bChanged = true;
                continue;
            }
            if (pMessage->nlmsg_type == NLMSG_ERROR) {
                const auto* pError = static_cast<const nlmsgerr*>(NLMSG_DATA(pMessage));
                *pRefused =
                    pMessage->nlmsg_len < NLMSG_LENGTH(sizeof *pError) || pError->error != 0;
            } else {
                onAnswer(*pMessage);
            }
            answered = true;
        }
        if (answered)
            return true;
    }
}

bool CNetlinkLinkCounters::Ask(nlmsghdr* pRequest,
                               const std::function<void(const nlmsghdr&)>& onAnswer) {
    if (!Open())
        return false;
    pRequest->nlmsg_flags = NLM_F_REQUEST;
    pRequest->nlmsg_seq = ++m_nSeq == 0 ? ++m_nSeq : m_nSeq;
    const ssize_t sent =
        m_socket.SendSome(reinterpret_cast<const char*>(pRequest), pRequest->nlmsg_len);
    if (sent != ssize_t(pRequest->nlmsg_len))
        return false;
    // The kernel answers these requests before send returns: what is not queued by now
    // never comes, so nothing here waits.
    bool refused = false;
    m_bAsked = true;
    return Drain(pRequest->nlmsg_seq, &refused, onAnswer) && !refused;
}

int CNetlinkLinkCounters::RouteInterface(const sockaddr_storage& address) {
    struct {
        nlmsghdr header;
        rtmsg route;
        char attributes[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.route);
    request.header.nlmsg_type = RTM_GETROUTE;
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        request.route.rtm_family = AF_INET;
        request.route.rtm_dst_len = 32;
        AddAttribute(&request.header, RTA_DST, &v4.sin_addr, sizeof v4.sin_addr);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            // An IPv4 peer of an IPv6 socket: its packets take the IPv4 route.
            request.route.rtm_family = AF_INET;
            request.route.rtm_dst_len = 32;
            AddAttribute(&request.header, RTA_DST, &v6.sin6_addr.s6_addr[12], 4);
        } else {
            request.route.rtm_family = AF_INET6;
            request.route.rtm_dst_len = 128;
            AddAttribute(&request.header, RTA_DST, &v6.sin6_addr, sizeof v6.sin6_addr);
            if (v6.sin6_scope_id != 0) {
                // A link-local peer is reached on the interface its scope names.
                const uint32_t scope = v6.sin6_scope_id;
                AddAttribute(&request.header, RTA_OIF, &scope, sizeof scope);
            }
        }
    } else {
        return 0;
    }
    int index = 0;
    const bool answered = Ask(&request.header, [&index](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWROUTE)
            return;
        ForEachAttribute(message, sizeof(rtmsg), [&index](const rtattr& attribute) {
            if (attribute.rta_type == RTA_OIF && RTA_PAYLOAD(&attribute) >= sizeof(uint32_t))
                std::memcpy(&index, RTA_DATA(&attribute), sizeof index);
        });
    });
    return answered ? index : 0;
}

bool CNetlinkLinkCounters::ReadBytes(int nInterface, uint64_t* pBytes) {
    struct {
        nlmsghdr header;
        if_stats_msg stats;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.stats);
    request.header.nlmsg_type = RTM_GETSTATS;
    request.stats.ifindex = uint32_t(nInterface);
    request.stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    bool found = false;
    const bool answered = Ask(&request.header, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWSTATS)
            return;
        ForEachAttribute(message, sizeof(if_stats_msg), [&](const rtattr& attribute) {
            if (attribute.rta_type != IFLA_STATS_LINK_64 ||
                RTA_PAYLOAD(&attribute) < sizeof(rtnl_link_stats64))
                return;
            rtnl_link_stats64 stats;
            std::memcpy(&stats, RTA_DATA(&attribute), sizeof stats);
            *pBytes = stats.rx_bytes + stats.tx_bytes;
            found = true;
        });
    });
    return answered && found;
}

bool CNetlinkLinkCounters::Changed() {
    if (!m_socket.IsOpen())
        return true;
    bool refused = false;
    if (!m_bAsked)
        Drain(0, &refused, [](const nlmsghdr&) {});
    m_bAsked = false;
    const bool changed = m_bChanged;
    m_bChanged = false;
    return changed;
}
