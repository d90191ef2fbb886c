#include "CLoopbackServer.h"
#include "CMessageTarget.h"
#include "CNetworkSandbox.h"
#include "CPosixWinsock.h"
#include "CWindowMessage.h"

#include <QTest>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

namespace {
constexpr UINT kLookupMsg = WM_APP + 1;
constexpr UINT kSocketMsg = WM_APP + 2;

// A window that records the messages it receives.
class CRecorder : public QObject, public CMessageTarget {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Message> m_messages;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        m_messages.push_back({message, wParam, lParam});
        return 0;
    }
    bool event(QEvent* pEvent) override {
        return DispatchMessage(pEvent) || QObject::event(pEvent);
    }

    QList<long> Events(SOCKET s) const {
        QList<long> events;
        for (const Message& m : m_messages)
            if (m.message == kSocketMsg && m.wParam == WPARAM(s))
                events.append(long(LOWORD(m.lParam)));
        return events;
    }
};

sockaddr_in Loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
} // namespace

// The socket library on real loopback sockets.
class TestPosixWinsock : public QObject {
    Q_OBJECT
private slots:
    void init() { REQUIRE_NETWORK_SANDBOX(); }

    void lookupOfLocalhostLeavesAHostEntry() {
        CPosixWinsock sockets;
        CRecorder window;
        alignas(8) char buf[1024];
        std::memset(buf, 0, sizeof buf);
        QVERIFY(sockets.WSAAsyncGetHostByName(&window, kLookupMsg, "localhost", buf, sizeof buf) !=
                0);
        QVERIFY(window.m_messages.empty());
        QTRY_VERIFY_WITH_TIMEOUT(!window.m_messages.empty(), 5000);
        QCOMPARE(window.m_messages[0].message, kLookupMsg);
        QCOMPARE(HIWORD(window.m_messages[0].lParam), WPARAM(0));
        const auto* pEntry = reinterpret_cast<const hostent*>(buf);
        QCOMPARE(pEntry->h_addrtype, AF_INET);
        QCOMPARE(pEntry->h_length, 4);
        QCOMPARE(QByteArray(pEntry->h_name), QByteArray("localhost"));
        in_addr first{};
        std::memcpy(&first, pEntry->h_addr_list[0], 4);
        QCOMPARE(QByteArray(inet_ntoa(first)), QByteArray("127.0.0.1"));
    }

    void failedLookupReportsAnError() {
        CPosixWinsock sockets;
        CRecorder window;
        alignas(8) char buf[1024] = {};
        sockets.WSAAsyncGetHostByName(&window, kLookupMsg, "no-such-host.invalid", buf, sizeof buf);
        QTRY_VERIFY_WITH_TIMEOUT(!window.m_messages.empty(), 10000);
        QVERIFY(HIWORD(window.m_messages[0].lParam) != 0);
    }

    void connectSendReadClose() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        CPosixWinsock sockets;
        CRecorder window;
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(s != INVALID_SOCKET);
        QCOMPARE(sockets.connect(s, Loopback(80)), 0);
        QCOMPARE(sockets.WSAAsyncSelect(s, &window, kSocketMsg, FD_READ | FD_WRITE | FD_CLOSE), 0);
        const QByteArray request = "GET / HTTP/1.0\r\n\r\n";
        QCOMPARE(sockets.send(s, request.constData(), int(request.size()), 0), request.size());
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_READ), 5000);
        char reply[1024] = {};
        QVERIFY(sockets.recv(s, reply, sizeof reply, 0) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_CLOSE), 5000);
        QCOMPARE(window.Events(s), QList<long>({FD_WRITE, FD_READ, FD_CLOSE}));
        QCOMPARE(server.m_received.at(0), request);
        QCOMPARE(sockets.closesocket(s), 0);
        QCOMPARE(sockets.OpenSocketCount(), 0);
    }

    void resetIsACloseWithAnError() {
        CLoopbackServer server(CLoopbackServer::Reset);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        CPosixWinsock sockets;
        CRecorder window;
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QCOMPARE(sockets.connect(s, Loopback(80)), 0);
        sockets.WSAAsyncSelect(s, &window, kSocketMsg, FD_READ | FD_CLOSE);
        sockets.send(s, "GET / HTTP/1.0\r\n\r\n", 18, 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_CLOSE), 5000);
        QCOMPARE(HIWORD(window.m_messages.back().lParam), WPARAM(WSAECONNRESET));
    }

    void refusedConnectFails() {
        CPosixWinsock sockets;
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QCOMPARE(sockets.connect(s, Loopback(81)), SOCKET_ERROR);
        sockets.closesocket(s);
    }

    void handlesAreNeverReused() {
        CPosixWinsock sockets;
        const SOCKET first = sockets.socket(AF_INET, SOCK_STREAM, 0);
        sockets.closesocket(first);
        const SOCKET second = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(second != first);
        QCOMPARE(sockets.closesocket(first), SOCKET_ERROR);
        sockets.closesocket(second);
    }
};

QTEST_GUILESS_MAIN(TestPosixWinsock)
#include "tst_posixwinsock.moc"
