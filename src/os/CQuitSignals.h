#pragma once

#include "WinTypes.h"

#include <QObject>

#include <csignal>

class QSocketNotifier;

// SIGTERM (a logout), SIGINT (Ctrl+C) and SIGHUP (a closed terminal) end the program as
// "E&xit" does. The handler only writes the signal's number into a pipe; the exit command is
// sent to the main window from the event loop that reads it.
class CQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit CQuitSignals(UINT nExitCommand);
    ~CQuitSignals() override;

    // A signal has been handled.
    bool Received() const { return m_bReceived; }

private:
    static void OnSignal(int signal);
    void OnReadable();

    bool m_bReceived = false;
    UINT m_nExitCommand;
    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_pNotifier = nullptr;
    struct sigaction m_previous[3] = {};
};
