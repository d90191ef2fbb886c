// One probe: the connect to port 80, the request, and the first reply data.

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
    // An IPv6 address in a Host header goes in brackets, as HTTP requires.
    const QString host = strLocalAddress.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + strLocalAddress + QLatin1Char(']')
                             : strLocalAddress;
    return QByteArrayLiteral("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: Mozilla/3.0 "
                             "(Win95; I)\r\nHost: ") +
           host.toUtf8() + QByteArrayLiteral("\r\nAccept: image/gif, image/jpeg, */*\r\n\r\n");
}

SOCKET CBumpleView::OpenProbeConnection(const QString& strName) {
    CPlatform::Framework().BeginWaitCursor();
    const SOCKET s = OpenTcpSocket(strName, QStringLiteral("80"));
    if (s == INVALID_SOCKET) {
        CPlatform::Framework().EndWaitCursor();
        return INVALID_SOCKET;
    }
    // The connect goes on while the window answers; OnProbeConnected takes it up.
    m_socketPending = s;
    m_strPendingName = strName;
    return s;
}

void CBumpleView::OnProbeConnected(int nError) {
    CWinsock& sockets = CPlatform::Sockets();
    const SOCKET s = m_socketPending;
    const QString name = m_strPendingName;
    // A probe under this one's message box takes m_nProbe over.
    const uint64_t probe = m_nProbe;
    m_socketPending = INVALID_SOCKET;
    if (nError != 0) {
        CloseSocket(s);
        m_history.ProbeFailed(probe, CProbeHistory::ConnectFailure);
        ReportConnectFailure(SkipBlanks(name), QStringLiteral("80"));
        CPlatform::Framework().EndWaitCursor();
        ProbeOpenFailed(name, probe);
        return;
    }
    m_bNewTarget = FALSE;
    m_history.ProbeConnected(probe);
    // The link to watch is the one that carries this connection; the address is kept while
    // the option is off too, so that switching it on watches at once.
    m_linkWatch.Watch(m_saTarget);
    CPlatform::Framework().EndWaitCursor();
    // Only one probe socket is held: an earlier one still open is closed, not leaked.
    CloseProbeSocket();
    m_socket = s;
    sockets.WSAAsyncSelect(m_socket, this, WM_PROBE_SOCKET, FD_READ | FD_WRITE | FD_CLOSE);
    SetStatus(QStringLiteral("Connection made OK"));
    SaveNameList(name);
    m_bWaiting = TRUE;
    m_trayIcon.SetIcon(IDI_WAITING);
    SendProbeRequest();
}

void CBumpleView::AbandonPendingConnect() {
    if (m_socketPending == INVALID_SOCKET)
        return;
    CloseSocket(m_socketPending);
    m_socketPending = INVALID_SOCKET;
    CPlatform::Framework().EndWaitCursor();
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
    // A probe's save is retried without a word.
    SaveOutcome(false);
}

QString CBumpleView::SkipBlanks(const QString& strHost) {
    qsizetype skip = 0;
    while (skip < strHost.size() && strHost[skip] == QLatin1Char(' '))
        ++skip;
    return strHost.mid(skip);
}

SOCKET CBumpleView::OpenTcpSocket(const QString& strHost, const QString& strPort) {
    CWinsock& sockets = CPlatform::Sockets();
    const int port = std::atoi(strPort.toLatin1().constData());
    const QString host = SkipBlanks(strHost);
    if (host.isEmpty() || port == 0)
        return INVALID_SOCKET;

    m_saTarget = sockaddr_storage{};
    auto& address = reinterpret_cast<sockaddr_in&>(m_saTarget);
    auto& address6 = reinterpret_cast<sockaddr_in6&>(m_saTarget);
    bool haveAddress = true;
    if (IsDottedAddress(host)) {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(host.toUtf8().constData());
    } else if (const hostent* pEntry = HostEntry()) {
        m_saTarget.ss_family = sa_family_t(pEntry->h_addrtype);
        void* pTo = pEntry->h_addrtype == AF_INET6 ? static_cast<void*>(&address6.sin6_addr)
                                                   : static_cast<void*>(&address.sin_addr);
        std::memcpy(pTo, pEntry->h_addr_list[0], size_t(pEntry->h_length));
    } else {
        // No usable lookup reply to take the address from: the connect cannot be made.
        haveAddress = false;
    }
    // The port lies at the same place in both families' addresses.
    address.sin_port = htons(uint16_t(port));
    if (haveAddress)
        m_history.ProbeAddress(
            m_nProbe,
            AddressText(m_saTarget.ss_family, m_saTarget.ss_family == AF_INET6
                                                  ? static_cast<const void*>(&address6.sin6_addr)
                                                  : static_cast<const void*>(&address.sin_addr)));

    const SOCKET s =
        sockets.socket(m_saTarget.ss_family == AF_INET6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    // The outcome goes into the history before a message box opens: probes go on under it.
    if (s == INVALID_SOCKET) {
        m_history.ProbeFailed(m_nProbe, CProbeHistory::SocketFailure);
        RecordProblem(PROBLEM_SOCKET, host);
        if (!m_bIgnoreFailures)
            CPlatform::Framework().MessageBox(
                QStringLiteral("Bumple: Error opening stream socket") + BuildReportFooter());
        return INVALID_SOCKET;
    }
    if (!haveAddress || sockets.connect(s, m_saTarget, this, WM_PROBE_SOCKET) < 0) {
        CloseSocket(s);
        m_history.ProbeFailed(m_nProbe, CProbeHistory::ConnectFailure);
        ReportConnectFailure(host, strPort);
        return INVALID_SOCKET;
    }
    return s;
}

void CBumpleView::ReportConnectFailure(const QString& strHost, const QString& strPort) {
    RecordProblem(PROBLEM_HTTP, strHost);
    if (m_bIgnoreFailures) {
        SetStatus(QStringLiteral("Last connection failed"));
        AdvanceToNextName(FALSE, strHost);
    } else {
        CPlatform::Framework().MessageBox(
            QStringLiteral("Bumple: Cannot connect to %1 on port %2.\n\n(The \"Ignore Connection "
                           "Failures\" option in the Options Dialog might help prevent this in "
                           "the future.)")
                .arg(strHost, strPort) +
            BuildReportFooter());
    }
}

void CBumpleView::SendProbeRequest() {
    const QByteArray request = ProbeRequest(m_strLocalAddress);
    CPlatform::Sockets().send(m_socket, request.constData(), int(request.size()), 0);
    SetStatus(QStringLiteral("Bumple was sent"));
}

LRESULT CBumpleView::OnProbeSocket(WPARAM wParam, LPARAM lParam) {
    if (SOCKET(wParam) == m_socketPending && m_socketPending != INVALID_SOCKET &&
        long(LOWORD(lParam)) == FD_CONNECT) {
        OnProbeConnected(int(HIWORD(lParam)));
        return 0;
    }
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
