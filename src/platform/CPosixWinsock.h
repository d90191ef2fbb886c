#pragma once

#include "CWinsock.h"

#include <QObject>

#include <map>
#include <memory>

class QHostInfo;
class QSocketNotifier;

constexpr int WSAENOBUFS = 10055;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSANO_DATA = 11004;

// The socket library on POSIX sockets, QHostInfo and QSocketNotifier.
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

    // Lays the IPv4 addresses of a lookup out as a host entry record in buf: the record,
    // its alias and address lists, the addresses one after another, then the name.
    // Returns the error to report (0 on success).
    static int FillHostEntry(const QHostInfo& info, char* buf, int buflen);

    // Number of sockets open now (for leak checks).
    int OpenSocketCount() const { return int(m_sockets.size()); }

private:
    struct Socket {
        int fd = -1;
        QObject* pWnd = nullptr;
        UINT msg = 0;
        long lEvent = 0;
        std::unique_ptr<QSocketNotifier> pNotifier;
    };

    void OnReadable(SOCKET s);

    std::map<SOCKET, Socket> m_sockets;
    SOCKET m_nextSocket = 1;
    WPARAM m_nextTask = 1;
};
