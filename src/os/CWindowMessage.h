#pragma once

#include "WinTypes.h"

#include <QEvent>

class QObject;

// A window message as a Qt event: posted replies and notifications reach their window
// between other events, also inside modal loops, exactly like posted Win32 messages.
class CWindowMessage : public QEvent {
public:
    CWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    static QEvent::Type EventType();

    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

// Queues the message for the window; it is handled after what is already queued.
void PostMessage(QObject* pWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Delivers the message at once and returns the window's result.
LRESULT SendMessage(QObject* pWnd, UINT message, WPARAM wParam, LPARAM lParam);
