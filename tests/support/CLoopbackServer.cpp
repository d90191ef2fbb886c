#include "CLoopbackServer.h"

#include <QTcpSocket>

#include <sys/socket.h>

CLoopbackServer::CLoopbackServer(Mode mode, quint16 port, const QHostAddress& address)
    : m_mode(mode) {
    connect(&m_server, &QTcpServer::newConnection, this, &CLoopbackServer::OnConnection);
    m_server.listen(address, port);
}

CLoopbackServer::~CLoopbackServer() {
    for (QTcpSocket* pSocket : m_sockets)
        delete pSocket;
}

void CLoopbackServer::OnConnection() {
    while (QTcpSocket* pSocket = m_server.nextPendingConnection()) {
        pSocket->setParent(nullptr);
        const size_t index = m_received.size();
        m_received.emplace_back();
        m_sockets.push_back(pSocket);
        connect(pSocket, &QTcpSocket::readyRead, this,
                [this, pSocket, index] { OnData(pSocket, index); });
        connect(pSocket, &QTcpSocket::disconnected, this, [this, pSocket] {
            ++m_nClosedByPeer;
            std::erase(m_sockets, pSocket);
            pSocket->deleteLater();
        });
    }
}

void CLoopbackServer::OnData(QTcpSocket* pSocket, size_t index) {
    // Copied, not shared: what readAll returns holds a whole read buffer.
    const QByteArray data = pSocket->readAll();
    m_received[index].append(data.constData(), data.size());
    if (!m_received[index].endsWith("\r\n\r\n"))
        return;
    switch (m_mode) {
    case Reply: {
        const qsizetype piece = (m_reply.size() + m_chunks - 1) / m_chunks;
        for (qsizetype at = 0; at < m_reply.size(); at += piece) {
            pSocket->write(m_reply.mid(at, piece));
            pSocket->flush();
            pSocket->waitForBytesWritten(1000);
        }
        pSocket->disconnectFromHost();
        break;
    }
    case CloseAtOnce:
        pSocket->disconnectFromHost();
        break;
    case Reset: {
        // A zero linger turns the close into a reset.
        const linger hard{1, 0};
        setsockopt(int(pSocket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        pSocket->abort();
        break;
    } break;
    case Silent:
    case Trickle:
        break;
    }
}

void CLoopbackServer::TrickleOne() {
    for (QTcpSocket* pSocket : m_sockets)
        if (pSocket->state() == QAbstractSocket::ConnectedState)
            pSocket->write(m_reply.left(1));
}
