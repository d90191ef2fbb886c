#pragma once

#include "CFileDescriptor.h"

#include <QByteArray>
#include <QObject>

// One program a key (a settings folder on a display). The first start holds a lock in the
// user's runtime folder for as long as it runs and listens on a socket beside it; a later
// start with the same key hands its request over through that socket and ends. The kernel
// drops the lock of a program that crashed, so a socket file it left blocks nothing.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        First,      // this start holds the lock
        HandedOver, // the holder took the request
        NoAnswer,   // the holder did not take it in time
        Alone       // no private runtime folder: every start runs on its own
    };

    explicit CSingleInstance(const QByteArray& key);
    ~CSingleInstance() override;

    // Needs no event loop: takes the lock, or hands the request to the one that holds it.
    Outcome Claim(const QByteArray& request);
    // Needs the event loop: from now on the requests of later starts come as Received.
    void Listen();

signals:
    void Received(const QByteArray& request);

private:
    bool TryLock();
    bool HandOver(const QByteArray& request) const;
    void OnConnection();

    QByteArray m_lockPath;
    QByteArray m_socketPath;
    CFileDescriptor m_lock;
    CFileDescriptor m_listen;
};
