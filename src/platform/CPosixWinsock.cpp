#include "CPosixWinsock.h"

#include "CWindowMessage.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

CPosixWinsock::CPosixWinsock() = default;

CPosixWinsock::~CPosixWinsock() {
    WSACleanup();
}

int CPosixWinsock::WSAStartup() {
    return 0;
}

void CPosixWinsock::WSACleanup() {
    while (!m_sockets.empty())
        closesocket(m_sockets.begin()->first);
}

int CPosixWinsock::gethostname(char* name, int namelen) {
    return ::gethostname(name, size_t(namelen)) == 0 ? 0 : SOCKET_ERROR;
}

int CPosixWinsock::FillHostEntry(const QHostInfo& info, char* buf, int buflen) {
    if (info.error() != QHostInfo::NoError)
        return WSAHOST_NOT_FOUND;
    std::vector<quint32> addresses;
    for (const QHostAddress& address : info.addresses()) {
        bool isIPv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIPv4);
        if (isIPv4 && address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.push_back(htonl(ipv4));
    }
    if (addresses.empty())
        return WSANO_DATA;

    const QByteArray name = info.hostName().toUtf8();
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
    if (pWnd == nullptr || buf == nullptr || name.isEmpty())
        return 0;
    const WPARAM task = m_nextTask++;
    // The window is the context: a reply for a window that is gone is dropped, so the
    // buffer it owned is never written.
    QHostInfo::lookupHost(QString::fromUtf8(name), pWnd,
                          [pWnd, msg, buf, buflen, task](const QHostInfo& info) {
                              const int error = FillHostEntry(info, buf, buflen);
                              PostMessage(pWnd, msg, task, MAKELPARAM(0, unsigned(error)));
                          });
    return task;
}

SOCKET CPosixWinsock::socket(int af, int type, int protocol) {
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return INVALID_SOCKET;
    const SOCKET s = m_nextSocket++;
    m_sockets[s].fd = fd;
    return s;
}

int CPosixWinsock::connect(SOCKET s, const sockaddr_in& addr) {
    const auto it = m_sockets.find(s);
    if (it == m_sockets.end())
        return SOCKET_ERROR;
    int result;
    do {
        result = ::connect(it->second.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? SOCKET_ERROR : 0;
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
