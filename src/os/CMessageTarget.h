#pragma once

#include "WinTypes.h"

class QEvent;

// A window that handles window messages: its WindowProc is its message map.
// Event handlers of QObject subclasses hand posted CWindowMessage events to it
// through DispatchMessage.
class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    // WM_COMMAND: nonzero when the window handled the command, 0 when it did not (a frame
    // then offers it to the next handler). Other messages return their own result.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    // True when the event was a window message and has been handled.
    bool DispatchMessage(QEvent* pEvent);
};
