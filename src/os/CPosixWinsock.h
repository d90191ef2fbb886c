#pragma once

#include "CWinsock.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;

constexpr int WSAENOBUFS = 10055;
constexpr int WSAECONNRESET = 10054;
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
    int connect(SOCKET s, const sockaddr_in& addr) override;
    int WSAAsyncSelect(SOCKET s, QObject* pWnd, UINT msg, long lEvent) override;
    int send(SOCKET s, const char* buf, int len, int flags) override;
    int recv(SOCKET s, char* buf, int len, int flags) override;
    int closesocket(SOCKET s) override;
    bool OwnCounts(SOCKET s, uint64_t* pBytes) override;

    // Lays the IPv4 addresses of a lookup (network byte order) out as a host entry record in
    // buf: the record, its alias and address lists, the addresses one after another, then
    // the name. Returns the error to report (0 on success).
    static int FillHostEntry(const QByteArray& name, const std::vector<quint32>& addresses,
                             char* buf, int buflen);

    // How long a connect waits for the peer before it fails with ETIMEDOUT.
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
    // Waits, bounded, for a connect in progress; its error, 0 when connected.
    int WaitConnected(int fd) const;
    void OnLookupDone(WPARAM task, int error, const std::vector<quint32>& addresses);
    void CancelLookups();

    std::map<SOCKET, Socket> m_sockets;
    std::map<WPARAM, Lookup> m_lookups;
    std::shared_ptr<LookupGuard> m_pGuard;
    int m_nConnectTimeoutMs = kConnectTimeoutMs;
    SOCKET m_nextSocket = 1;
    WPARAM m_nextTask = 1;
};
