#include "CRemoteControl.h"

#include "CBumpleView.h"
#include "CInstanceRequest.h"
#include "CPlatform.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <algorithm>

namespace {
QByteArray StatusLine(const CBumpleView* pView) {
    return QJsonDocument(pView->StatusObject()).toJson(QJsonDocument::Compact);
}
} // namespace

void CRemoteControl::OnRequest(CInstanceRequest* pRequest, CBumpleView* pView) {
    using Kind = CInstanceRequest::Kind;
    const Kind kind = pRequest->GetKind();
    if (kind < Kind::Status || kind > Kind::Quit) {
        pRequest->Refuse(QByteArrayLiteral("bumple: the Bumple that runs does not know this "
                                           "request"));
        return;
    }
    if (pView == nullptr) {
        pRequest->Refuse(QByteArrayLiteral("bumple: Bumple is still starting"));
        return;
    }
    switch (kind) {
    case Kind::Status:
        pRequest->Accept(StatusLine(pView));
        return;
    case Kind::Follow:
        Follow(pRequest, pView);
        return;
    case Kind::ProbeNow:
        if (const QString why = pView->WhyNoProbeNow(); !why.isEmpty())
            pRequest->Refuse(QByteArrayLiteral("bumple: ") + why.toUtf8());
        else if (pRequest->Accept())
            pView->ProbeNow();
        return;
    case Kind::History:
    case Kind::Quit:
        // Posted, as the tray's commands are: the answer goes out before a window or the end.
        if (pRequest->Accept())
            PostMessage(CPlatform::MainWindow(), WM_COMMAND,
                        kind == Kind::Quit ? ID_EXIT : ID_HISTORY, 0);
        return;
    case Kind::Show: // refused above: the hand-over is the application's
        return;
    }
}

void CRemoteControl::Follow(CInstanceRequest* pRequest, CBumpleView* pView) {
    const QByteArray line = StatusLine(pView);
    if (!pRequest->SendLine(line))
        return;
    m_followers.push_back({pRequest, line});
    if (m_pFollowedView != pView) {
        m_pFollowedView = pView;
        connect(pView, &CBumpleView::EngineChanged, this, [this, pView] { SendChanges(pView); });
    }
}

void CRemoteControl::SendChanges(const CBumpleView* pView) {
    std::erase_if(m_followers,
                  [](const Follower& follower) { return follower.pRequest == nullptr; });
    if (m_followers.empty())
        return;
    const QByteArray line = StatusLine(pView);
    for (Follower& follower : m_followers) {
        if (follower.last == line)
            continue;
        follower.last = line;
        follower.pRequest->SendLine(line);
    }
}
