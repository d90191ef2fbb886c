#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <vector>

class CBumpleView;
class CInstanceRequest;

// The running program's side of the commands that scripts and status bars send: the
// engine's state, once or as a stream of its changes, a probe at once, the History window,
// and the end.
class CRemoteControl : public QObject {
    Q_OBJECT
public:
    // Any request but the hand-over; a kind this program does not know is refused. pView is
    // null until start-up is over; what needs the engine is refused until then.
    void OnRequest(CInstanceRequest* pRequest, CBumpleView* pView);

private:
    void Follow(CInstanceRequest* pRequest, CBumpleView* pView);
    // Sends each follower the state when it differs from the last line it got.
    void SendChanges(const CBumpleView* pView);

    struct Follower {
        QPointer<CInstanceRequest> pRequest;
        QByteArray last;
    };
    std::vector<Follower> m_followers;
    QPointer<CBumpleView> m_pFollowedView;
};
