#include "CMessageTarget.h"

#include "CWindowMessage.h"

bool CMessageTarget::DispatchMessage(QEvent* pEvent) {
    if (pEvent->type() != CWindowMessage::EventType())
        return false;
    const auto* pMsg = static_cast<const CWindowMessage*>(pEvent);
    WindowProc(pMsg->m_message, pMsg->m_wParam, pMsg->m_lParam);
    return true;
}
