#include "CPosixWinsock.h"

#include "CWindowMessage.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/tcp.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
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
// Blocks; runs on a lookup thread. The IPv4 addresses of name, each once, in order.
int ResolveIPv4(const std::string& name, std::vector<quint32>* pAddresses) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pList = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &pList);
    if (result != 0)
        return result == EAI_NODATA || result == EAI_ADDRFAMILY ? WSANO_DATA : WSAHOST_NOT_FOUND;
    for (const addrinfo* p = pList; p != nullptr; p = p->ai_next) {
        if (p->ai_family != AF_INET || p->ai_addrlen < sizeof(sockaddr_in))
            continue;
        const quint32 address = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
        if (std::find(pAddresses->begin(), pAddresses->end(), address) == pAddresses->end())
            pAddresses->push_back(address);
    }
    ::freeaddrinfo(pList);
    return pAddresses->empty() ? WSANO_DATA : 0;
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

int CPosixWinsock::FillHostEntry(const QByteArray& name, const std::vector<quint32>& addresses,
                                 char* buf, int buflen) {
    if (addresses.empty())
        return WSANO_DATA;

    const size_t listBytes = (addresses.size() + 1) * sizeof(char*);
    const size_t need = sizeof(hostent) + sizeof(char*) + listBytes + addresses.size() * 4 +
                        size_t(name.size()) + 1;
    if (need > size_t(buflen))
        return WSAENOBUFS;

    auto* pEntry = reinterpret_cast<hostent*>(buf);
    auto** ppAliases = reinterpret_cast<char**>(buf + sizeof(hostent));
    auto** ppAddresses = ppAliases + 1;
    char* pData = reinterpret_cast<char*>(ppAddresses + addresses.size() + 1);
    ppAliases[0] = nullptr;
    for (size_t i = 0; i < addresses.size(); ++i) {
        ppAddresses[i] = pData;
        std::memcpy(pData, &addresses[i], 4);
        pData += 4;
    }
    ppAddresses[addresses.size()] = nullptr;
    std::memcpy(pData, name.constData(), size_t(name.size()) + 1);
    pEntry->h_name = pData;
    pEntry->h_aliases = ppAliases;
    pEntry->h_addrtype = AF_INET;
    pEntry->h_length = 4;
    pEntry->h_addr_list = ppAddresses;
    return 0;
}

WPARAM CPosixWinsock::WSAAsyncGetHostByName(QObject* pWnd, UINT msg, const QByteArray& name,
                                            char* buf, int buflen) {
    if (pWnd == nullptr || buf == nullptr)
        return 0;
    // As in Windows Sockets, the empty name is the local host.
    QByteArray host = name;
    if (host.isEmpty()) {
        char local[256] = {};
        if (gethostname(local, sizeof local - 1) != 0)
            return 0;
        host = local;
    }
    const WPARAM task = m_nextTask++;
    m_lookups[task] = Lookup{pWnd, msg, host, buf, buflen};
    // International names are looked up in their ASCII form; a name that has none, or that
    // holds a zero byte (the resolver would see only its start), is not found.
    const QByteArray ace = QUrl::toAce(QString::fromUtf8(host));
    if (host.contains('\0') || ace.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, task] { OnLookupDone(task, WSAHOST_NOT_FOUND, {}); },
            Qt::QueuedConnection);
        return task;
    }
    try {
        std::thread([pGuard = m_pGuard, task, host = ace.toStdString()] {
            std::vector<quint32> addresses;
            const int error = ResolveIPv4(host, &addresses);
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

void CPosixWinsock::OnLookupDone(WPARAM task, int error, const std::vector<quint32>& addresses) {
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

// Blocks the caller as a blocking connect does, but gives up after the 21 s that a Windows
// stack takes for its SYN retries, not after the two minutes Linux tries for.
int CPosixWinsock::connect(SOCKET s, const sockaddr_in& addr) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return SOCKET_ERROR;
    const int fd = it->second.fd;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return SOCKET_ERROR;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0)
        error = errno == EINPROGRESS || errno == EINTR ? WaitConnected(fd) : errno;
    fcntl(fd, F_SETFL, flags);
    errno = error;
    return error != 0 ? SOCKET_ERROR : 0;
}

int CPosixWinsock::WaitConnected(int fd) const {
    const QDeadlineTimer deadline(m_nConnectTimeoutMs);
    pollfd poll{fd, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&poll, 1, int(deadline.remainingTime()));
        if (ready > 0)
            break;
        if (ready == 0)
            return ETIMEDOUT;
        if (errno != EINTR)
            return errno;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
        return errno;
    return error;
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
    const unsigned error = n == 0 ? 0 : errno == ECONNRESET ? WSAECONNRESET : unsigned(errno);
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
