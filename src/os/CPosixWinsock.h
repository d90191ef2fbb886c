#pragma once

#include "CWinsock.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

constexpr int WSAENOBUFS = 10055;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSANO_DATA = 11004;

// The socket library on POSIX sockets and QSocketNotifier; each lookup runs getaddrinfo on
// a thread of its own, so a slow name server freezes nothing, not even the program's end.
class CPosixWinsock : public QObject, public CWinsock {
    Q_OBJECT
public:
    CPosixWinsock();
    ~CPosixWinsock() override;

    int WSAStartup() override;
    void WSACleanup() override;
    int gethostname(char* name, int namelen) override;
    WPARAM WSAAsyncGetHostByName(QObject* pWnd, UINT msg, const QByteArray& name, char* buf,
                                 int buflen) override;
    SOCKET socket(int af, int type, int protocol) override;
    int connect(SOCKET s, const sockaddr_storage& addr, QObject* pWnd, UINT msg) override;
    int WSAAsyncSelect(SOCKET s, QObject* pWnd, UINT msg, long lEvent) override;
    int send(SOCKET s, const char* buf, int len, int flags) override;
    int recv(SOCKET s, char* buf, int len, int flags) override;
    int closesocket(SOCKET s) override;
    bool OwnCounts(SOCKET s, uint64_t* pBytes) override;

    // Lays the addresses of a lookup (network byte order, 4 bytes for IPv4, 16 for IPv6) out
    // as a host entry record in buf: the record, its alias and address lists, the addresses
    // one after another, then the name. The record holds the IPv4 addresses when there are
    // any, else the IPv6 ones. Returns the error to report (0 on success).
    static int FillHostEntry(const QByteArray& name, const std::vector<QByteArray>& addresses,
                             char* buf, int buflen);
    // The 16 bytes of an IPv6 literal, as typed or in brackets; false when text is none.
    static bool ParseIPv6Literal(const QByteArray& text, QByteArray* pAddress);

    // How long a connect waits for the peer before it fails with WSAETIMEDOUT.
    static constexpr int kConnectTimeoutMs = 21000;
    void SetConnectTimeout(int ms);

    // Number of sockets open now and of lookups not answered yet (for leak checks).
    int OpenSocketCount() const { return int(m_sockets.size()); }
    int PendingLookupCount() const { return int(m_lookups.size()); }

private:
    struct Socket {
        int fd = -1;
        QObject* pWnd = nullptr;
        UINT msg = 0;
        long lEvent = 0;
        std::unique_ptr<QSocketNotifier> pNotifier;
        // A connect in progress: writable when it is done, or the bound runs out first.
        std::unique_ptr<QSocketNotifier> pConnectNotifier;
        std::unique_ptr<QTimer> pConnectTimer;
    };

    struct Lookup {
        QPointer<QObject> pWnd; // a reply for a window that is gone is dropped
        UINT msg = 0;
        QByteArray name;
        char* buf = nullptr;
        int buflen = 0;
    };
    struct LookupGuard;

    void OnReadable(SOCKET s);
    // Ends a connect in progress and posts its completion; error 0 reads the socket's own.
    void FinishConnect(SOCKET s, int error);
    void OnLookupDone(WPARAM task, int error, const std::vector<QByteArray>& addresses);
    void CancelLookups();

    std::map<SOCKET, Socket> m_sockets;
    std::map<WPARAM, Lookup> m_lookups;
    std::shared_ptr<LookupGuard> m_pGuard;
    int m_nConnectTimeoutMs = kConnectTimeoutMs;
    SOCKET m_nextSocket = 1;
    WPARAM m_nextTask = 1;
};
