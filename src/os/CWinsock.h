#pragma once

#include "WinTypes.h"

#include <QByteArray>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

class QObject;

// The socket library as the engine uses it: lookups and socket events come back as
// messages posted to a window, everything else is a plain call.
class CWinsock {
public:
    virtual ~CWinsock() = default;

    virtual int WSAStartup() = 0; // 0 on success
    virtual void WSACleanup() = 0;
    virtual int gethostname(char* name, int namelen) = 0;
    // Starts a lookup and returns a task handle at once (0 when refused). On completion a
    // host entry record (struct hostent, its data in the same buffer) is left at the start
    // of buf and msg is posted to pWnd with the error in the high word of lParam.
    virtual WPARAM WSAAsyncGetHostByName(QObject* pWnd, UINT msg, const QByteArray& name, char* buf,
                                         int buflen) = 0;
    virtual SOCKET socket(int af, int type, int protocol) = 0;
    // Starts the connect and returns at once: SOCKET_ERROR when it cannot start, else 0 and
    // its completion is posted as msg with wParam = socket, lParam = FD_CONNECT (low word)
    // and error (high word, 0 when connected).
    virtual int connect(SOCKET s, const sockaddr_storage& addr, QObject* pWnd, UINT msg) = 0;
    // Makes the socket non-blocking; its events are posted as msg with wParam = socket,
    // lParam = event (low word) and error (high word).
    virtual int WSAAsyncSelect(SOCKET s, QObject* pWnd, UINT msg, long lEvent) = 0;
    virtual int send(SOCKET s, const char* buf, int len, int flags) = 0;
    virtual int recv(SOCKET s, char* buf, int len, int flags) = 0;
    virtual int closesocket(SOCKET s) = 0;
    // What the connected socket has put on the wire and taken off it so far, both directions,
    // headers included; false when the system does not count it.
    virtual bool OwnCounts(SOCKET s, uint64_t* pBytes) = 0;
};
