#pragma once

#include "CFileDescriptor.h"
#include "CInstanceRequest.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <optional>

class CBoundedWait;
class QSocketNotifier;

// One program a key (a settings folder on a display). The first start holds a lock in the
// user's runtime folder for as long as it runs and listens on a socket beside it; a later
// start with the same key sends its request through that socket, learns whether it was
// carried out, and ends. The kernel drops the lock of a program that crashed, so a socket
// file it left blocks nothing.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        First,      // this start holds the lock (Claim only)
        Done,       // the holder carried the request out
        Refused,    // the holder did not carry it out, and said why
        NoAnswer,   // the holder did not answer in time
        NotRunning, // no program holds the lock (Ask only)
        Alone       // no private runtime folder: every start runs on its own
    };
    // Streamed lines of an answer; false stops the reading.
    using LineHandler = std::function<bool(const QByteArray& line)>;

    explicit CSingleInstance(const QByteArray& key);
    ~CSingleInstance() override;

    // The key of a settings folder, named by its real path, on the display Qt uses: for X11
    // the host and display number of displayOption or else $DISPLAY, for Wayland the
    // socket's path.
    static QByteArray Key(const QByteArray& realFolder, const QString& platform,
                          const QByteArray& displayOption);

    // Needs no event loop: takes the lock, or sends the request to the one that holds it.
    // pAnswer, when given, receives the answer's payload.
    Outcome Claim(CInstanceRequest::Kind kind, const QByteArray& payload,
                  QByteArray* pAnswer = nullptr);
    // As Claim, but never takes the lock; onLine gets the lines an answer streams. waitMs
    // bounds the wait for the answer.
    Outcome Ask(CInstanceRequest::Kind kind, const QByteArray& payload,
                QByteArray* pAnswer = nullptr, const LineHandler& onLine = {},
                int waitMs = kAnswerWaitMs);
    // How long a later start tries to reach the holder and waits for its answer.
    static constexpr int kAnswerWaitMs = 5000;
    // Needs an application object: from now on the requests of later starts come as Received,
    // in the event loop and in every message box's.
    void Listen();

signals:
    // A whole request whose sender still waits; answer it through the request.
    void Received(CInstanceRequest* pRequest);

private:
    Outcome Exchange(bool claim, CInstanceRequest::Kind kind, const QByteArray& payload,
                     QByteArray* pAnswer, const LineHandler& onLine, int waitMs);
    void TakeSocket();
    std::optional<Outcome> TryAsk(const QByteArray& frame, const CBoundedWait& wait,
                                  QByteArray* pAnswer, const LineHandler& onLine) const;
    void OnConnection();
    void Resume();

    QByteArray m_lockPath;
    QByteArray m_socketPath;
    CFileDescriptor m_lock;
    CFileDescriptor m_listen;
    QSocketNotifier* m_pListener = nullptr;
    int m_nOpen = 0;
    bool m_bPaused = false;
};
