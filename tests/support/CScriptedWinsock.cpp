#include "CScriptedWinsock.h"

#include "CPosixWinsock.h"
#include "CWindowMessage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

int CScriptedWinsock::WSAStartup() {
    ++m_nStartups;
    return m_nStartupResult;
}

int CScriptedWinsock::gethostname(char* name, int namelen) {
    std::strncpy(name, m_hostName.constData(), size_t(namelen) - 1);
    return 0;
}

WPARAM CScriptedWinsock::WSAAsyncGetHostByName(QObject* pWnd, UINT msg, const QByteArray& name,
                                               char* buf, int buflen) {
    m_lookups.append(QString::fromUtf8(name));
    if (m_bRefuseLookups)
        return 0;
    m_pending.push_back({pWnd, msg, name, buf, buflen});
    return WPARAM(m_lookups.size());
}

bool CScriptedWinsock::CompleteLookup(int error, const QStringList& addresses,
                                      const QString& officialName) {
    if (m_pending.empty())
        return false;
    const Lookup lookup = m_pending.front();
    m_pending.pop_front();
    if (error == 0) {
        // Dotted texts are IPv4 addresses, the others IPv6; the record takes them as the
        // real library does.
        std::vector<QByteArray> bytes;
        for (const QString& text : addresses) {
            in6_addr address{};
            const int af = text.contains(QLatin1Char(':')) ? AF_INET6 : AF_INET;
            if (inet_pton(af, text.toLatin1().constData(), &address) == 1)
                bytes.emplace_back(reinterpret_cast<const char*>(&address), af == AF_INET ? 4 : 16);
        }
        error = CPosixWinsock::FillHostEntry(officialName.isEmpty() ? lookup.name
                                                                    : officialName.toUtf8(),
                                             bytes, lookup.buf, lookup.buflen);
    }
    PostMessage(lookup.pWnd, lookup.msg, 1, MAKELPARAM(0, unsigned(error)));
    return true;
}

SOCKET CScriptedWinsock::socket(int, int, int) {
    if (m_bSocketFails)
        return INVALID_SOCKET;
    const SOCKET s = m_nextSocket++;
    m_open.insert(s);
    return s;
}

int CScriptedWinsock::connect(SOCKET s, const sockaddr_storage& addr, QObject* pWnd, UINT msg) {
    m_connectAddresses.push_back(addr);
    m_pSelectWnd = pWnd;
    m_selectMsg = msg;
    m_held.push_back(s);
    if (!m_bHoldConnects) {
        int result = 0;
        if (!m_connectResults.empty()) {
            result = m_connectResults.front();
            m_connectResults.pop_front();
        }
        CompleteConnect(result == 0 ? 0 : WSAECONNREFUSED);
    }
    return 0;
}

bool CScriptedWinsock::CompleteConnect(int error) {
    if (m_held.empty())
        return false;
    const SOCKET s = m_held.front();
    m_held.pop_front();
    if (error == 0)
        m_connected.push_back(s);
    PostEvent(s, FD_CONNECT, error);
    return true;
}

int CScriptedWinsock::WSAAsyncSelect(SOCKET, QObject* pWnd, UINT msg, long lEvent) {
    m_pSelectWnd = pWnd;
    m_selectMsg = msg;
    m_selectMasks.push_back(lEvent);
    return 0;
}

void CScriptedWinsock::PostEvent(SOCKET s, long event, int error) {
    PostMessage(m_pSelectWnd, m_selectMsg, WPARAM(s), MAKELPARAM(unsigned(event), unsigned(error)));
}

int CScriptedWinsock::send(SOCKET, const char* buf, int len, int) {
    m_sent.emplace_back(buf, len);
    return len;
}

int CScriptedWinsock::recv(SOCKET, char* buf, int len, int) {
    const int n = std::min(len, int(m_replyData.size()));
    std::memcpy(buf, m_replyData.constData(), size_t(n));
    return n;
}

bool CScriptedWinsock::OwnCounts(SOCKET s, uint64_t* pBytes) {
    *pBytes = m_ownCounts[s];
    return m_open.count(s) == 1;
}

int CScriptedWinsock::closesocket(SOCKET s) {
    m_closed.push_back(s);
    return m_open.erase(s) == 1 ? 0 : SOCKET_ERROR;
}
