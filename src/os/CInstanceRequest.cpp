#include "CInstanceRequest.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>

namespace {
constexpr char kMagic[] = "BMPL";
// A request is carried out only while this much of its sender's wait is left, so that the
// answer reaches the sender before it gives up.
constexpr quint64 kMarginMs = 500;
} // namespace

QByteArray CInstanceRequest::Encode(quint8 type, const QByteArray& payload, quint64 deadlineMs) {
    QByteArray frame(kHeaderSize, '\0');
    char* p = frame.data();
    std::memcpy(p, kMagic, 4);
    p[4] = char(kVersion);
    p[5] = char(type);
    qToBigEndian<quint64>(deadlineMs, p + 8);
    qToBigEndian<quint32>(quint32(payload.size()), p + 16);
    return frame + payload;
}

std::optional<CInstanceRequest::Frame> CInstanceRequest::Decode(QByteArray& buffer, qsizetype limit,
                                                                bool& bad) {
    // The magic and the version are checked as soon as they are here: garbage ends at once.
    const char* p = buffer.constData();
    const size_t known = size_t(std::min<qsizetype>(buffer.size(), 4));
    bad = std::memcmp(p, kMagic, known) != 0 || (buffer.size() > 4 && quint8(p[4]) != kVersion);
    if (bad || buffer.size() < kHeaderSize)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(p + 16);
    bad = p[6] != 0 || p[7] != 0 || qsizetype(length) > limit;
    if (bad || buffer.size() < kHeaderSize + qsizetype(length))
        return std::nullopt;
    Frame frame{quint8(p[5]), qFromBigEndian<quint64>(p + 8), buffer.mid(kHeaderSize, length)};
    buffer.remove(0, kHeaderSize + qsizetype(length));
    return frame;
}

quint64 CInstanceRequest::MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1000 + quint64(now.tv_nsec) / 1000000;
}

CInstanceRequest::CInstanceRequest(CFileDescriptor connection, int waitMs, QObject* pParent)
    : QObject(pParent), m_connection(std::move(connection)), m_waitMs(waitMs) {
    m_pRead = new QSocketNotifier(m_connection.Get(), QSocketNotifier::Read, this);
    connect(m_pRead, &QSocketNotifier::activated, this, &CInstanceRequest::OnReadable);
    // A sender that never completes its request is not waited for.
    QTimer::singleShot(waitMs, this, [this] {
        if (!m_bReady)
            End();
    });
}

CInstanceRequest::~CInstanceRequest() {
    // The notifiers go before the descriptor they watch.
    delete m_pRead;
    delete m_pWrite;
}

bool CInstanceRequest::Accept(const QByteArray& result) {
    return Send(Answer::Done, result);
}

bool CInstanceRequest::Refuse(const QByteArray& reason) {
    return Send(Answer::Refused, reason);
}

bool CInstanceRequest::SendLine(const QByteArray& line) {
    return Send(Answer::Line, line);
}

void CInstanceRequest::OnReadable() {
    char buffer[4096];
    const ssize_t n = m_connection.ReadSome(buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN)
        return;
    if (n <= 0) {
        m_bGone = true;
        if (m_bReady && !m_bAnswered)
            emit Gone();
        End();
        return;
    }
    // Whatever follows a whole request is no request: only the sender's going counts.
    if (m_bReady)
        return;
    m_in.append(buffer, n);
    bool bad = false;
    std::optional<Frame> frame = Decode(m_in, kMaxRequest, bad);
    if (bad) {
        End();
        return;
    }
    if (!frame)
        return;
    m_request = std::move(*frame);
    m_bReady = true;
    if (!SenderWaits()) {
        End();
        return;
    }
    emit Ready(this);
}

bool CInstanceRequest::SenderWaits() const {
    if (MonotonicMs() + kMarginMs >= m_request.deadlineMs)
        return false;
    return m_connection.Poll(POLLRDHUP, 0) == 0;
}

bool CInstanceRequest::Send(Answer answer, const QByteArray& payload) {
    if (!m_bReady || m_bAnswered || m_bEnded)
        return false;
    m_bAnswered = answer != Answer::Line;
    m_out += Encode(quint8(answer), payload);
    // A sender that stopped reading is not buffered for without end.
    if (m_out.size() > kHeaderSize + kMaxAnswer) {
        m_bGone = true;
        End();
        return false;
    }
    Flush();
    // An answer the sender does not take in time is dropped with its connection.
    if (m_bAnswered && !m_bEnded)
        QTimer::singleShot(m_waitMs, this, &CInstanceRequest::End);
    return !m_bGone;
}

void CInstanceRequest::Flush() {
    while (!m_out.isEmpty()) {
        const ssize_t n = m_connection.SendSome(m_out.constData(), size_t(m_out.size()));
        if (n < 0 && errno == EAGAIN) {
            if (m_pWrite == nullptr) {
                m_pWrite = new QSocketNotifier(m_connection.Get(), QSocketNotifier::Write, this);
                connect(m_pWrite, &QSocketNotifier::activated, this, &CInstanceRequest::Flush);
            }
            m_pWrite->setEnabled(true);
            return;
        }
        if (n <= 0) {
            m_bGone = true;
            if (!m_bAnswered)
                emit Gone();
            End();
            return;
        }
        m_out.remove(0, n);
    }
    if (m_pWrite != nullptr)
        m_pWrite->setEnabled(false);
    if (m_bAnswered)
        End();
}

void CInstanceRequest::End() {
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_pRead->setEnabled(false);
    if (m_pWrite != nullptr)
        m_pWrite->setEnabled(false);
    deleteLater();
}
