#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpServer>

#include <vector>

class QTcpSocket;

// An HTTP server on 127.0.0.1 (or another loopback address) that answers each connection as
// its mode says and keeps what every connection sent.
class CLoopbackServer : public QObject {
    Q_OBJECT
public:
    enum Mode {
        Reply,       // after the request: m_reply in m_chunks pieces, then close
        Silent,      // accept, read, never answer
        CloseAtOnce, // close as soon as the request is in, without data
        Reset,       // reset the connection as soon as the request is in
        Trickle,     // one byte of m_reply per pump, never closing
    };

    explicit CLoopbackServer(Mode mode, quint16 port = 80,
                             const QHostAddress& address = QHostAddress::LocalHost);
    ~CLoopbackServer() override;

    bool IsListening() const { return m_server.isListening(); }
    quint16 Port() const { return m_server.serverPort(); }
    QString Error() const { return m_server.errorString(); }
    // Sends the next trickled byte on every open connection.
    void TrickleOne();

    Mode m_mode;
    QByteArray m_reply = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
    int m_chunks = 1;
    std::vector<QByteArray> m_received; // per connection, in order of arrival
    int m_nClosedByPeer = 0;

private:
    void OnConnection();
    void OnData(QTcpSocket* pSocket, size_t index);

    QTcpServer m_server;
    std::vector<QTcpSocket*> m_sockets;
};
