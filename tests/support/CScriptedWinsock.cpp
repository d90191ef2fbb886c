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
        // Only IPv4 addresses are listed, as the real library does.
        std::vector<quint32> ipv4;
        for (const QString& text : addresses) {
            in_addr address{};
            if (inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1)
                ipv4.push_back(address.s_addr);
        }
        error = CPosixWinsock::FillHostEntry(officialName.isEmpty() ? lookup.name
                                                                    : officialName.toUtf8(),
                                             ipv4, lookup.buf, lookup.buflen);
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

int CScriptedWinsock::connect(SOCKET s, const sockaddr_in& addr) {
    m_connectAddresses.push_back(addr);
    int result = 0;
    if (!m_connectResults.empty()) {
        result = m_connectResults.front();
        m_connectResults.pop_front();
    }
    if (result == 0)
        m_connected.push_back(s);
    return result;
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
