#include "CLoopbackServer.h"
#include "CMessageTarget.h"
#include "CNetworkSandbox.h"
#include "CPosixWinsock.h"
#include "CWindowMessage.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

sockaddr_storage Storage(const sockaddr_in& address) {
    sockaddr_storage storage{};
    std::memcpy(&storage, &address, sizeof address);
    return storage;
}

// Waits, bounded, for the completion of the connect of s; its error, -1 when none came.
int Connected(CRecorder& window, SOCKET s) {
    if (!QTest::qWaitFor([&] { return window.Events(s).contains(FD_CONNECT); }, 10000))
        return -1;
    for (const CRecorder::Message& m : window.m_messages)
        if (m.wParam == WPARAM(s) && LOWORD(m.lParam) == WPARAM(FD_CONNECT))
            return int(HIWORD(m.lParam));
    return -1;
}
} // namespace

// The socket library on real loopback sockets.
class TestPosixWinsock : public QObject {
    Q_OBJECT
private slots:
    void init() { REQUIRE_NETWORK_SANDBOX(); }

    void lookup_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("address"); // empty: the lookup fails
        QTest::newRow("localhost") << QByteArray("localhost") << QByteArray("127.0.0.1");
        QTest::newRow("address") << QByteArray("127.0.0.1") << QByteArray("127.0.0.1");
        QTest::newRow("unknown") << QByteArray("no-such-host.invalid") << QByteArray();
        QTest::newRow("zero byte") << QByteArray("localhost\0.invalid", 18) << QByteArray();
        QTest::newRow("10000 letters") << QByteArray(10000, 'a') << QByteArray();
        QTest::newRow("non-ASCII") << QByteArray("b\xc3\xbc"
                                                 "cher.invalid")
                                   << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe.invalid") << QByteArray();
        // Names of the sandbox: one with ::1 alone, one with 127.0.0.1 and ::1.
        QTest::newRow("AAAA only") << QByteArray("ipv6-only.bumple.test") << QByteArray("::1");
        QTest::newRow("A and AAAA: A")
            << QByteArray("dual-stack.bumple.test") << QByteArray("127.0.0.1");
        QTest::newRow("IPv6 literal") << QByteArray("fd00:1::1") << QByteArray("fd00:1::1");
        QTest::newRow("bracketed") << QByteArray("[fd00:1::1]") << QByteArray("fd00:1::1");
        QTest::newRow("bad literal") << QByteArray("[fd00:1::1:::]") << QByteArray();
        QTest::newRow("half bracketed") << QByteArray("[fd00:1::1") << QByteArray();
    }
    void lookup() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, address);
        CPosixWinsock sockets;
        CRecorder window;
        alignas(8) char buf[1024];
        std::memset(buf, 0, sizeof buf);
        const WPARAM task =
            sockets.WSAAsyncGetHostByName(&window, kLookupMsg, name, buf, sizeof buf);
        QVERIFY(task != 0);
        QVERIFY(window.m_messages.empty());
        QTRY_VERIFY_WITH_TIMEOUT(!window.m_messages.empty(), 10000);
        QCOMPARE(window.m_messages.size(), size_t(1));
        QCOMPARE(window.m_messages[0].message, kLookupMsg);
        QCOMPARE(window.m_messages[0].wParam, task);
        QCOMPARE(sockets.PendingLookupCount(), 0);
        if (address.isEmpty()) {
            QVERIFY(HIWORD(window.m_messages[0].lParam) != 0);
            return;
        }
        QCOMPARE(HIWORD(window.m_messages[0].lParam), WPARAM(0));
        const auto* pEntry = reinterpret_cast<const hostent*>(buf);
        const bool ipv6 = address.contains(':');
        QCOMPARE(pEntry->h_addrtype, ipv6 ? AF_INET6 : AF_INET);
        QCOMPARE(pEntry->h_length, ipv6 ? 16 : 4);
        QCOMPARE(QByteArray(pEntry->h_name), name);
        char first[INET6_ADDRSTRLEN] = {};
        QVERIFY(inet_ntop(pEntry->h_addrtype, pEntry->h_addr_list[0], first, sizeof first));
        QCOMPARE(QByteArray(first), address);
    }

    // A reply for a window that is gone is dropped: the buffer it owned is never written.
    void replyForAWindowThatIsGoneIsDropped() {
        CPosixWinsock sockets;
        alignas(8) char buf[1024] = {};
        auto* pWindow = new CRecorder;
        QVERIFY(sockets.WSAAsyncGetHostByName(pWindow, kLookupMsg, "localhost", buf, sizeof buf));
        delete pWindow;
        QTRY_COMPARE_WITH_TIMEOUT(sockets.PendingLookupCount(), 0, 10000);
        QVERIFY(std::all_of(std::begin(buf), std::end(buf), [](char c) { return c == 0; }));
    }

    // Clean-up cancels what is outstanding: no reply comes after it.
    void cleanupCancelsLookups() {
        CPosixWinsock sockets;
        CRecorder window;
        alignas(8) char buf[1024] = {};
        QVERIFY(sockets.WSAAsyncGetHostByName(&window, kLookupMsg, "localhost", buf, sizeof buf));
        sockets.WSACleanup();
        QCOMPARE(sockets.PendingLookupCount(), 0);
        // localhost is answered within milliseconds, so a reply not dropped comes in time.
        QTest::qWait(500);
        QVERIFY(window.m_messages.empty());
        QVERIFY(std::all_of(std::begin(buf), std::end(buf), [](char c) { return c == 0; }));
        // The library goes on working after it.
        QVERIFY(sockets.WSAAsyncGetHostByName(&window, kLookupMsg, "localhost", buf, sizeof buf));
        QTRY_VERIFY_WITH_TIMEOUT(!window.m_messages.empty(), 10000);
        QCOMPARE(HIWORD(window.m_messages[0].lParam), WPARAM(0));
    }

    void connectSendReadClose() {
        CLoopbackServer server(CLoopbackServer::Reply);
        QVERIFY2(server.IsListening(), qPrintable(server.Error()));
        CPosixWinsock sockets;
        CRecorder window;
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(s != INVALID_SOCKET);
        QCOMPARE(sockets.connect(s, Storage(Loopback(80)), &window, kSocketMsg), 0);
        QCOMPARE(Connected(window, s), 0);
        QCOMPARE(sockets.WSAAsyncSelect(s, &window, kSocketMsg, FD_READ | FD_WRITE | FD_CLOSE), 0);
        const QByteArray request = "GET / HTTP/1.0\r\n\r\n";
        QCOMPARE(sockets.send(s, request.constData(), int(request.size()), 0), request.size());
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_READ), 5000);
        char reply[1024] = {};
        QVERIFY(sockets.recv(s, reply, sizeof reply, 0) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_CLOSE), 5000);
        QCOMPARE(window.Events(s), QList<long>({FD_CONNECT, FD_WRITE, FD_READ, FD_CLOSE}));
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
        QCOMPARE(sockets.connect(s, Storage(Loopback(80)), &window, kSocketMsg), 0);
        QCOMPARE(Connected(window, s), 0);
        sockets.WSAAsyncSelect(s, &window, kSocketMsg, FD_READ | FD_CLOSE);
        sockets.send(s, "GET / HTTP/1.0\r\n\r\n", 18, 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.Events(s).contains(FD_CLOSE), 5000);
        QCOMPARE(HIWORD(window.m_messages.back().lParam), WPARAM(WSAECONNRESET));
    }

    void refusedConnectFails() {
        CPosixWinsock sockets;
        CRecorder window;
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QCOMPARE(sockets.connect(s, Storage(Loopback(81)), &window, kSocketMsg), 0);
        QCOMPARE(Connected(window, s), WSAECONNREFUSED);
        sockets.closesocket(s);
    }

    // A peer that never answers (a listener whose backlog is full drops the SYN): the
    // connect returns at once, messages are handled while it is pending, and its completion
    // comes as a timed-out connect's.
    void unansweredConnectGivesUpAfterItsTimeout() {
        QCOMPARE(CPosixWinsock::kConnectTimeoutMs, 21000);
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 0), 0);
        QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        CPosixWinsock sockets;
        CRecorder window;
        sockets.SetConnectTimeout(300);
        const SOCKET filler = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QCOMPARE(sockets.connect(filler, Storage(address), &window, kSocketMsg), 0);
        QCOMPARE(Connected(window, filler), 0);
        const SOCKET s = sockets.socket(AF_INET, SOCK_STREAM, 0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(sockets.connect(s, Storage(address), &window, kSocketMsg), 0);
        PostMessage(&window, kLookupMsg, 0, 0);
        QCOMPARE(Connected(window, s), WSAETIMEDOUT);
        QCOMPARE(window.m_messages.at(1).message, kLookupMsg);
        QVERIFY(clock.elapsed() >= 290);
        sockets.WSACleanup();
        ::close(listener);
    }

    // The empty name is the local host, as Windows Sockets answers it.
    void emptyNameIsTheLocalHost() {
        char host[256] = {};
        CPosixWinsock sockets;
        QCOMPARE(sockets.gethostname(host, sizeof host - 1), 0);
        CRecorder window;
        alignas(8) char empty[1024] = {};
        alignas(8) char named[1024] = {};
        QVERIFY(sockets.WSAAsyncGetHostByName(&window, kLookupMsg, QByteArray(), empty, 1024));
        QVERIFY(sockets.WSAAsyncGetHostByName(&window, kLookupMsg, host, named, 1024));
        QTRY_COMPARE_WITH_TIMEOUT(window.m_messages.size(), size_t(2), 10000);
        QCOMPARE(HIWORD(window.m_messages[0].lParam), HIWORD(window.m_messages[1].lParam));
        if (HIWORD(window.m_messages[1].lParam) != 0)
            QSKIP("the local host name has no address here");
        const auto* pEmpty = reinterpret_cast<const hostent*>(empty);
        const auto* pNamed = reinterpret_cast<const hostent*>(named);
        QCOMPARE(QByteArray(pEmpty->h_name), QByteArray(host));
        QCOMPARE(std::memcmp(pEmpty->h_addr_list[0], pNamed->h_addr_list[0], 4), 0);
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
