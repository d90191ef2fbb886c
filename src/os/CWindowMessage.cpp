#include "CWindowMessage.h"

#include "CMessageTarget.h"

#include <QCoreApplication>

CWindowMessage::CWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
    : QEvent(EventType()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

QEvent::Type CWindowMessage::EventType() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void PostMessage(QObject* pWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (pWnd != nullptr)
        QCoreApplication::postEvent(pWnd, new CWindowMessage(message, wParam, lParam));
}

LRESULT SendMessage(QObject* pWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* pTarget = dynamic_cast<CMessageTarget*>(pWnd);
    return pTarget != nullptr ? pTarget->WindowProc(message, wParam, lParam) : 0;
}
