#include "CPosixWinsock.h"

#include "CFileDescriptor.h"
#include "CWindowMessage.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <iterator>
#include <linux/tcp.h>
#include <mutex>
#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// Shared by the sockets object and its lookup threads: a thread hands its answer over
// only while the owner is still set, and the owner is cleared under the lock.
struct CPosixWinsock::LookupGuard {
    std::mutex mutex;
    CPosixWinsock* pOwner;
};

namespace {
// Blocks; runs on a lookup thread. The addresses of name, each once, in the resolver's
// order: 4 bytes each for IPv4, 16 for IPv6. The host's own name without an IPv4 address
// is the host's global IPv6 addresses, as Windows Sockets answers its own name.
int ResolveAddresses(const std::string& name, bool bOwnName, std::vector<QByteArray>* pAddresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* pList = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &pList);
    const auto add = [pAddresses](const void* p, size_t size) {
        const QByteArray address(static_cast<const char*>(p), qsizetype(size));
        if (std::find(pAddresses->begin(), pAddresses->end(), address) == pAddresses->end())
            pAddresses->push_back(address);
    };
    bool haveIPv4 = false;
    for (const addrinfo* p = result == 0 ? pList : nullptr; p != nullptr; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
            add(&reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr, 4);
            haveIPv4 = true;
        } else if (p->ai_family == AF_INET6 && p->ai_addrlen >= sizeof(sockaddr_in6)) {
            add(&reinterpret_cast<const sockaddr_in6*>(p->ai_addr)->sin6_addr, 16);
        }
    }
    if (result == 0)
        ::freeaddrinfo(pList);
    ifaddrs* pInterfaces = nullptr;
    if (bOwnName && !haveIPv4 && ::getifaddrs(&pInterfaces) == 0) {
        std::vector<QByteArray> global;
        std::swap(global, *pAddresses);
        for (const ifaddrs* p = pInterfaces; p != nullptr; p = p->ifa_next) {
            if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET6)
                continue;
            const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(p->ifa_addr)->sin6_addr;
            if (!IN6_IS_ADDR_LOOPBACK(&address) && !IN6_IS_ADDR_LINKLOCAL(&address) &&
                !IN6_IS_ADDR_SITELOCAL(&address) && !IN6_IS_ADDR_MULTICAST(&address) &&
                !IN6_IS_ADDR_UNSPECIFIED(&address) && !IN6_IS_ADDR_V4MAPPED(&address))
                add(&address, 16);
        }
        ::freeifaddrs(pInterfaces);
        // No global address: what the resolver said stands.
        if (pAddresses->empty())
            std::swap(global, *pAddresses);
    }
    if (!pAddresses->empty())
        return 0;
    return result == 0 || result == EAI_NODATA || result == EAI_ADDRFAMILY ? WSANO_DATA
                                                                           : WSAHOST_NOT_FOUND;
}

// The socket library's number for a system error, where the engine's peers tell them apart.
unsigned WinsockError(int error) {
    switch (error) {
    case 0:
        return 0;
    case ECONNRESET:
        return WSAECONNRESET;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    default:
        return unsigned(error);
    }
}
} // namespace

CPosixWinsock::CPosixWinsock() : m_pGuard(std::make_shared<LookupGuard>()) {
    m_pGuard->pOwner = this;
}

CPosixWinsock::~CPosixWinsock() {
    WSACleanup();
    const std::lock_guard lock(m_pGuard->mutex);
    m_pGuard->pOwner = nullptr;
}

int CPosixWinsock::WSAStartup() {
    return 0;
}

void CPosixWinsock::WSACleanup() {
    while (!m_sockets.empty())
        closesocket(m_sockets.begin()->first);
    CancelLookups();
}

void CPosixWinsock::CancelLookups() {
    if (m_lookups.empty())
        return;
    m_lookups.clear();
    // Threads still looking up keep the old guard and hand nothing over.
    {
        const std::lock_guard lock(m_pGuard->mutex);
        m_pGuard->pOwner = nullptr;
    }
    m_pGuard = std::make_shared<LookupGuard>();
    m_pGuard->pOwner = this;
}

int CPosixWinsock::gethostname(char* name, int namelen) {
    return ::gethostname(name, size_t(namelen)) == 0 ? 0 : SOCKET_ERROR;
}

bool CPosixWinsock::ParseIPv6Literal(const QByteArray& text, QByteArray* pAddress) {
    QByteArray literal = text.trimmed();
    if (literal.startsWith('[') && literal.endsWith(']'))
        literal = literal.mid(1, literal.size() - 2);
    in6_addr address{};
    if (literal.contains('\0') || inet_pton(AF_INET6, literal.constData(), &address) != 1)
        return false;
    *pAddress = QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
    return true;
}

int CPosixWinsock::FillHostEntry(const QByteArray& name, const std::vector<QByteArray>& addresses,
                                 char* buf, int buflen) {
    // IPv4 whenever the name has it; IPv6 only for a name without.
    const bool haveIPv4 = std::any_of(addresses.begin(), addresses.end(),
                                      [](const QByteArray& a) { return a.size() == 4; });
    const qsizetype length = haveIPv4 ? 4 : 16;
    std::vector<QByteArray> chosen;
    std::copy_if(addresses.begin(), addresses.end(), std::back_inserter(chosen),
                 [length](const QByteArray& a) { return a.size() == length; });
    if (chosen.empty())
        return WSANO_DATA;

    const size_t listBytes = (chosen.size() + 1) * sizeof(char*);
    const size_t need = sizeof(hostent) + sizeof(char*) + listBytes +
                        chosen.size() * size_t(length) + size_t(name.size()) + 1;
    if (need > size_t(buflen))
        return WSAENOBUFS;

    auto* pEntry = reinterpret_cast<hostent*>(buf);
    auto** ppAliases = reinterpret_cast<char**>(buf + sizeof(hostent));
    auto** ppAddresses = ppAliases + 1;
    char* pData = reinterpret_cast<char*>(ppAddresses + chosen.size() + 1);
    ppAliases[0] = nullptr;
    for (size_t i = 0; i < chosen.size(); ++i) {
        ppAddresses[i] = pData;
        std::memcpy(pData, chosen[i].constData(), size_t(length));
        pData += length;
    }
    ppAddresses[chosen.size()] = nullptr;
    std::memcpy(pData, name.constData(), size_t(name.size()) + 1);
    pEntry->h_name = pData;
    pEntry->h_aliases = ppAliases;
    pEntry->h_addrtype = haveIPv4 ? AF_INET : AF_INET6;
    pEntry->h_length = int(length);
    pEntry->h_addr_list = ppAddresses;
    return 0;
}

WPARAM CPosixWinsock::WSAAsyncGetHostByName(QObject* pWnd, UINT msg, const QByteArray& name,
                                            char* buf, int buflen) {
    if (pWnd == nullptr || buf == nullptr)
        return 0;
    // As in Windows Sockets, the empty name is the local host.
    QByteArray host = name;
    char local[256] = {};
    if (gethostname(local, sizeof local - 1) != 0 && host.isEmpty())
        return 0;
    const bool ownName = host.isEmpty() || host == local;
    if (host.isEmpty())
        host = local;
    const WPARAM task = m_nextTask++;
    m_lookups[task] = Lookup{pWnd, msg, host, buf, buflen};
    // A host name never holds a colon or a bracket: such a text is an IPv6 literal (as typed
    // or in brackets) or nothing. International names are looked up in their ASCII form; a
    // name that has none, or that holds a zero byte (the resolver would see only its start),
    // is not found.
    QByteArray literal;
    const QByteArray ace = QUrl::toAce(QString::fromUtf8(host));
    const bool isLiteral = host.contains(':') || host.contains('[') || host.contains(']');
    if (isLiteral || host.contains('\0') || ace.isEmpty()) {
        const bool found = isLiteral && ParseIPv6Literal(host, &literal);
        QMetaObject::invokeMethod(
            this,
            [this, task, found, literal] {
                if (found)
                    OnLookupDone(task, 0, {literal});
                else
                    OnLookupDone(task, WSAHOST_NOT_FOUND, {});
            },
            Qt::QueuedConnection);
        return task;
    }
    try {
        std::thread([pGuard = m_pGuard, task, ownName, host = ace.toStdString()] {
            std::vector<QByteArray> addresses;
            const int error = ResolveAddresses(host, ownName, &addresses);
            const std::lock_guard lock(pGuard->mutex);
            if (CPosixWinsock* pOwner = pGuard->pOwner)
                QMetaObject::invokeMethod(
                    pOwner,
                    [pOwner, task, error, addresses] {
                        pOwner->OnLookupDone(task, error, addresses);
                    },
                    Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        m_lookups.erase(task);
        return 0;
    }
    return task;
}

void CPosixWinsock::OnLookupDone(WPARAM task, int error, const std::vector<QByteArray>& addresses) {
    const auto it = m_lookups.find(task);
    if (it == m_lookups.end())
        return;
    const Lookup lookup = it->second;
    m_lookups.erase(it);
    if (lookup.pWnd.isNull())
        return;
    if (error == 0)
        error = FillHostEntry(lookup.name, addresses, lookup.buf, lookup.buflen);
    PostMessage(lookup.pWnd, lookup.msg, task, MAKELPARAM(0, unsigned(error)));
}

SOCKET CPosixWinsock::socket(int af, int type, int protocol) {
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return INVALID_SOCKET;
    const SOCKET s = m_nextSocket++;
    m_sockets[s].fd = fd;
    return s;
}

void CPosixWinsock::SetConnectTimeout(int ms) {
    m_nConnectTimeoutMs = ms;
}

// Never blocks: the window answers while the peer is awaited. The attempt gives up after
// the 21 s that a Windows stack takes for its SYN retries, not after the two minutes Linux
// tries for.
int CPosixWinsock::connect(SOCKET s, const sockaddr_storage& addr, QObject* pWnd, UINT msg) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end() || pWnd == nullptr)
        return SOCKET_ERROR;
    Socket& sock = it->second;
    const int flags = fcntl(sock.fd, F_GETFL);
    if (flags < 0 || fcntl(sock.fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return SOCKET_ERROR;
    sock.pWnd = pWnd;
    sock.msg = msg;
    const socklen_t length =
        addr.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::connect(sock.fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0) {
        PostMessage(pWnd, msg, WPARAM(s), MAKELPARAM(FD_CONNECT, 0));
        return 0;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        PostMessage(pWnd, msg, WPARAM(s), MAKELPARAM(FD_CONNECT, WinsockError(errno)));
        return 0;
    }
    sock.pConnectNotifier = std::make_unique<QSocketNotifier>(sock.fd, QSocketNotifier::Write);
    QObject::connect(sock.pConnectNotifier.get(), &QSocketNotifier::activated, this,
                     [this, s] { FinishConnect(s, 0); });
    sock.pConnectTimer = std::make_unique<QTimer>();
    sock.pConnectTimer->setSingleShot(true);
    QObject::connect(sock.pConnectTimer.get(), &QTimer::timeout, this,
                     [this, s] { FinishConnect(s, ETIMEDOUT); });
    sock.pConnectTimer->start(m_nConnectTimeoutMs);
    return 0;
}

void CPosixWinsock::FinishConnect(SOCKET s, int error) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end() || !it->second.pConnectTimer)
        return;
    Socket& sock = it->second;
    sock.pConnectNotifier.reset();
    sock.pConnectTimer.reset();
    socklen_t length = sizeof error;
    if (error == 0 && getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
        error = errno;
    PostMessage(sock.pWnd, sock.msg, WPARAM(s), MAKELPARAM(FD_CONNECT, WinsockError(error)));
}

int CPosixWinsock::WSAAsyncSelect(SOCKET s, QObject* pWnd, UINT msg, long lEvent) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end() || pWnd == nullptr)
        return SOCKET_ERROR;
    Socket& sock = it->second;
    const int flags = fcntl(sock.fd, F_GETFL);
    if (flags < 0 || fcntl(sock.fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return SOCKET_ERROR;
    sock.pWnd = pWnd;
    sock.msg = msg;
    sock.lEvent = lEvent;
    sock.pNotifier = std::make_unique<QSocketNotifier>(sock.fd, QSocketNotifier::Read);
    QObject::connect(sock.pNotifier.get(), &QSocketNotifier::activated, this,
                     [this, s] { OnReadable(s); });
    // A connected socket can be written at once.
    if ((lEvent & FD_WRITE) != 0)
        PostMessage(pWnd, msg, WPARAM(s), MAKELPARAM(FD_WRITE, 0));
    return 0;
}

void CPosixWinsock::OnReadable(SOCKET s) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return;
    Socket& sock = it->second;
    char peek;
    const ssize_t n = ::recv(sock.fd, &peek, 1, MSG_PEEK);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // One notice per condition, as the socket library does: reading re-enables FD_READ;
    // a close is reported once.
    sock.pNotifier->setEnabled(false);
    if (n > 0) {
        if ((sock.lEvent & FD_READ) != 0)
            PostMessage(sock.pWnd, sock.msg, WPARAM(s), MAKELPARAM(FD_READ, 0));
        return;
    }
    const unsigned error = n == 0 ? 0 : WinsockError(errno);
    if ((sock.lEvent & FD_CLOSE) != 0)
        PostMessage(sock.pWnd, sock.msg, WPARAM(s), MAKELPARAM(FD_CLOSE, error));
    sock.pNotifier.reset();
}

int CPosixWinsock::send(SOCKET s, const char* buf, int len, int flags) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return SOCKET_ERROR;
    const ssize_t n = ::send(it->second.fd, buf, size_t(len), flags | MSG_NOSIGNAL);
    return n < 0 ? SOCKET_ERROR : int(n);
}

int CPosixWinsock::recv(SOCKET s, char* buf, int len, int flags) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return SOCKET_ERROR;
    const ssize_t n = ::recv(it->second.fd, buf, size_t(len), flags);
    if (it->second.pNotifier)
        it->second.pNotifier->setEnabled(true);
    return n < 0 ? SOCKET_ERROR : int(n);
}

int CPosixWinsock::closesocket(SOCKET s) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return SOCKET_ERROR;
    it->second.pNotifier.reset();
    it->second.pConnectNotifier.reset();
    it->second.pConnectTimer.reset();
    ::close(it->second.fd);
    m_sockets.erase(it);
    return 0;
}

bool CPosixWinsock::OwnCounts(SOCKET s, uint64_t* pBytes) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return false;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(it->second.fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < offsetof(tcp_info, tcpi_segs_in) + sizeof info.tcpi_segs_in)
        return false;
    sockaddr_storage local{};
    socklen_t localSize = sizeof local;
    const bool v6 =
        ::getsockname(it->second.fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
        local.ss_family == AF_INET6;
    // Each segment's headers as the link counts them: IP, TCP with its timestamps, and the
    // 14 bytes of an Ethernet frame (a tunnel counts less, so its own share errs high).
    const uint64_t header =
        (v6 ? 40 : 20) + 20 + ((info.tcpi_options & TCPI_OPT_TIMESTAMPS) != 0 ? 12 : 0) + 14;
    // Bytes sent again count on the wire too, where the kernel tells them apart.
    const bool haveSent = size >= offsetof(tcp_info, tcpi_bytes_sent) + sizeof info.tcpi_bytes_sent;
    *pBytes = (haveSent ? info.tcpi_bytes_sent : info.tcpi_bytes_acked) + info.tcpi_bytes_received +
              header * (uint64_t(info.tcpi_segs_in) + info.tcpi_segs_out);
    return true;
}
