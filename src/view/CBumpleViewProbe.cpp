// One probe: the blocking connect to port 80, the request, and the first reply data.

#include "CBumpleView.h"

#include "CComboBox.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CWinsock.h"
#include "Resources.h"
#include "SettingsTable.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

QByteArray CBumpleView::ProbeRequest(const QString& strLocalAddress) {
    return QByteArrayLiteral("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: Mozilla/3.0 "
                             "(Win95; I)\r\nHost: ") +
           strLocalAddress.toUtf8() +
           QByteArrayLiteral("\r\nAccept: image/gif, image/jpeg, */*\r\n\r\n");
}

SOCKET CBumpleView::OpenProbeConnection(const QString& strName) {
    CPlatform::Framework().BeginWaitCursor();
    const SOCKET s = OpenTcpSocket(strName, QStringLiteral("80"));
    CPlatform::Framework().EndWaitCursor();
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    // Only one probe socket is held: an earlier one still open is closed, not leaked.
    CloseProbeSocket();
    m_socket = s;
    CPlatform::Sockets().WSAAsyncSelect(m_socket, this, WM_PROBE_SOCKET,
                                        FD_READ | FD_WRITE | FD_CLOSE);
    SetStatus(QStringLiteral("Connection made OK"));
    SaveNameList(strName);
    return m_socket;
}

void CBumpleView::SaveNameList(const QString& strName) {
    CProfileStore& store = Store();
    using namespace SettingsTable;
    store.WriteProfileString(kSection, kOften, m_strPeriod);
    m_strName = strName;
    if (m_comboName->FindStringExact(m_strName) < 0)
        m_comboName->SetCurSel(m_comboName->AddString(m_strName));
    m_nNameSel = m_comboName->FindStringExact(m_strName);
    m_comboName->SetCurSel(m_nNameSel);
    // A crash or another instance sees the old list or the new one, never a mix.
    QStringList names;
    for (int i = 0; i < m_comboName->GetCount(); ++i)
        names.append(m_comboName->GetLBText(i));
    store.WriteNameList(names, m_nNameSel);
}

SOCKET CBumpleView::OpenTcpSocket(const QString& strHost, const QString& strPort) {
    CWinsock& sockets = CPlatform::Sockets();
    CFramework& framework = CPlatform::Framework();
    const int port = std::atoi(strPort.toLatin1().constData());
    qsizetype skip = 0;
    while (skip < strHost.size() && strHost[skip] == QLatin1Char(' '))
        ++skip;
    const QString host = strHost.mid(skip);
    if (host.isEmpty() || port == 0)
        return INVALID_SOCKET;

    sockaddr_in address{};
    bool haveAddress = true;
    if (host[0] >= QLatin1Char('0') && host[0] <= QLatin1Char('9')) {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(host.toUtf8().constData());
    } else if (const hostent* pEntry = HostEntry()) {
        address.sin_family = sa_family_t(pEntry->h_addrtype);
        std::memcpy(&address.sin_addr, pEntry->h_addr_list[0], size_t(pEntry->h_length));
    } else {
        // No usable lookup reply to take the address from: the connect cannot be made.
        haveAddress = false;
    }
    address.sin_port = htons(uint16_t(port));

    const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        RecordProblem(PROBLEM_SOCKET, host);
        if (!m_bIgnoreFailures)
            framework.MessageBox(QStringLiteral("Bumple: Error opening stream socket") +
                                 BuildReportFooter());
        return INVALID_SOCKET;
    }
    if (!haveAddress || sockets.connect(s, address) < 0) {
        if (m_bIdleOnly)
            m_linkWatch.Closing(s);
        sockets.closesocket(s);
        RecordProblem(PROBLEM_HTTP, host);
        if (m_bIgnoreFailures) {
            SetStatus(QStringLiteral("Last connection failed"));
            AdvanceToNextName(FALSE, host);
        } else {
            framework.MessageBox(QStringLiteral("Bumple: Cannot connect to %1 on port %2.\n\n(The "
                                                "\"Ignore Connection Failures\" option in the "
                                                "Options Dialog might help prevent this in the "
                                                "future.)")
                                     .arg(host, strPort) +
                                 BuildReportFooter());
        }
        return INVALID_SOCKET;
    }
    // The link to watch is the one that carries this connection; the address is kept while
    // the option is off too, so that switching it on watches at once.
    sockaddr_storage target{};
    std::memcpy(&target, &address, sizeof address);
    m_linkWatch.Watch(target);
    return s;
}

void CBumpleView::SendProbeRequest() {
    const QByteArray request = ProbeRequest(m_strLocalAddress);
    CPlatform::Sockets().send(m_socket, request.constData(), int(request.size()), 0);
    SetStatus(QStringLiteral("Bumple was sent"));
}

LRESULT CBumpleView::OnProbeSocket(WPARAM wParam, LPARAM lParam) {
    if (SOCKET(wParam) != m_socket || m_socket == INVALID_SOCKET)
        return 0;
    switch (long(LOWORD(lParam))) {
    case FD_READ:
        std::memset(m_szReply, 0, sizeof m_szReply);
        m_szReply[sizeof m_szReply - 1] = '\n';
        CPlatform::Sockets().recv(m_socket, m_szReply, 1024, 0);
        if (m_bWaiting) {
            m_bWaiting = FALSE;
            m_bBusy = FALSE;
            m_trayIcon.SetIcon(IDI_NORMAL);
            SetStatus(QStringLiteral("Bumple completed at ") +
                      CPlatform::Framework().LocalTimeText());
            ++m_nSuccesses;
            m_history.ProbeAnswered();
        }
        break;
    case FD_CLOSE:
        CloseProbeSocket();
        break;
    default:
        break;
    }
    return 0;
}
