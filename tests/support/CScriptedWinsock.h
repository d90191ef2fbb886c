#pragma once

#include "CWinsock.h"

#include <QByteArray>
#include <QStringList>

#include <deque>
#include <map>
#include <set>
#include <vector>

class QObject;

// A socket library driven by the test: lookups wait until the test answers them, connects
// succeed or fail as scripted, sends are recorded and reads return scripted data.
class CScriptedWinsock : public CWinsock {
public:
    int WSAStartup() override;
    void WSACleanup() override { ++m_nCleanups; }
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

    // Answers the oldest outstanding lookup: fills its buffer with the addresses (dotted
    // texts) and posts its message with the error. Returns false when none is outstanding.
    bool CompleteLookup(int error, const QStringList& addresses = {},
                        const QString& officialName = QString());
    // Posts the completion of the oldest connect held (m_bHoldConnects) with the error.
    bool CompleteConnect(int error);
    // Posts a socket event for s as the library would.
    void PostEvent(SOCKET s, long event, int error = 0);
    // The socket of the last successful connect.
    SOCKET LastSocket() const { return m_connected.empty() ? INVALID_SOCKET : m_connected.back(); }

    struct Lookup {
        QObject* pWnd;
        UINT msg;
        QByteArray name;
        char* buf;
        int buflen;
    };
    std::deque<Lookup> m_pending;
    QStringList m_lookups; // every name asked for, in order

    // The script
    int m_nStartupResult = 0;
    QByteArray m_hostName = "testhost";
    bool m_bRefuseLookups = false;
    bool m_bSocketFails = false;
    std::deque<int> m_connectResults; // 0 or SOCKET_ERROR in turn; 0 when used up
    bool m_bHoldConnects = false;     // connects stay in progress until CompleteConnect
    QByteArray m_replyData = "HTTP/1.0 200 OK\r\n\r\n";

    // What happened
    int m_nStartups = 0;
    int m_nCleanups = 0;
    std::vector<sockaddr_storage> m_connectAddresses;
    std::vector<SOCKET> m_connected;
    std::vector<QByteArray> m_sent;
    std::set<SOCKET> m_open;
    std::vector<SOCKET> m_closed;
    std::vector<long> m_selectMasks;
    std::map<SOCKET, uint64_t> m_ownCounts; // what each socket exchanged, as the test moves it

private:
    SOCKET m_nextSocket = 100;
    QObject* m_pSelectWnd = nullptr;
    UINT m_selectMsg = 0;
    std::deque<SOCKET> m_held; // connects in progress, oldest first
};
