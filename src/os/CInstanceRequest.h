#pragma once

#include "CFileDescriptor.h"

#include <QByteArray>
#include <QObject>

#include <optional>

class QSocketNotifier;

// One request of a later start to the program that runs, and its answer. On the socket both
// travel as frames: "BMPL", the version, a type (the request's kind, or the answer's), two
// zero bytes, the sender's deadline in milliseconds of the monotonic clock (requests only),
// the payload's length and the payload; numbers big-endian.
//
// A request is answered once, by Accept or Refuse, and may stream lines before that. It is
// handed out only while its sender still waits, and deletes itself once answered or once
// its sender has gone.
class CInstanceRequest : public QObject {
    Q_OBJECT
public:
    // What a later start asks for; new kinds take new numbers. A kind the program does not
    // know is refused.
    enum class Kind : quint8 {
        Show = 1, // the hand-over: the payload is the document (or nothing), a zero byte and
                  // the launcher's activation token (or nothing)
        // Scripts and status bars; no payload.
        Status = 2,   // the answer is the engine's state, one JSON object
        Follow = 3,   // the state as a line now and on every change, for as long as both run
        ProbeNow = 4, // a probe at once; refused when the engine is stopped
        History = 5,  // the History window opens
        Quit = 6,     // the program ends, as Exit ends it
    };
    enum class Answer : quint8 {
        Done = 1,    // carried out; the payload is the result, if any
        Refused = 2, // not carried out; the payload says why, for the user
        Line = 3,    // one streamed line; more frames follow
    };
    struct Frame {
        quint8 type = 0;
        quint64 deadlineMs = 0;
        QByteArray payload;
    };
    static constexpr quint8 kVersion = 1;
    static constexpr qsizetype kHeaderSize = 20;
    static constexpr qsizetype kMaxRequest = 64 * 1024;
    static constexpr qsizetype kMaxAnswer = 4 * 1024 * 1024;

    static QByteArray Encode(quint8 type, const QByteArray& payload, quint64 deadlineMs = 0);
    // Takes one whole frame off the front of buffer. Nothing while it is incomplete; bad set
    // when the bytes are no frame of this version or longer than limit.
    static std::optional<Frame> Decode(QByteArray& buffer, qsizetype limit, bool& bad);
    static quint64 MonotonicMs();

    // Takes over an accepted connection that does not block, and reads the request from it.
    // waitMs bounds the time for the whole request.
    CInstanceRequest(CFileDescriptor connection, int waitMs, QObject* pParent);
    ~CInstanceRequest() override;

    Kind GetKind() const { return Kind(m_request.type); }
    const QByteArray& Payload() const { return m_request.payload; }
    // Each true when the answer went out to a sender that still waits: carry out what was
    // asked only then. Accept and Refuse end the request.
    bool Accept(const QByteArray& result = {});
    bool Refuse(const QByteArray& reason);
    bool SendLine(const QByteArray& line);

signals:
    // The whole request is here and its sender waits: answer it (now or later).
    void Ready(CInstanceRequest* pRequest);
    // The sender has gone; the request deletes itself next.
    void Gone();

private:
    void OnReadable();
    bool Send(Answer answer, const QByteArray& payload);
    void Flush();
    void End();
    bool SenderWaits() const;

    CFileDescriptor m_connection;
    int m_waitMs = 0;
    QSocketNotifier* m_pRead = nullptr;
    QSocketNotifier* m_pWrite = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    Frame m_request;
    bool m_bReady = false;
    bool m_bAnswered = false;
    bool m_bGone = false;
    bool m_bEnded = false;
};
