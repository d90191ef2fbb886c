#include "CQuitSignals.h"

#include "CPlatform.h"
#include "CWindowMessage.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t g_writeFd = -1;
} // namespace

CQuitSignals::CQuitSignals(UINT nExitCommand) : m_nExitCommand(nExitCommand) {
    if (pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd = m_fds[1];
    m_pNotifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQuitSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = &CQuitSignals::OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &m_previous[i]);
}

CQuitSignals::~CQuitSignals() {
    if (m_fds[0] < 0)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &m_previous[i], nullptr);
    g_writeFd = -1;
    delete m_pNotifier;
    close(m_fds[0]);
    close(m_fds[1]);
}

void CQuitSignals::OnSignal(int signal) {
    // Only async-signal-safe calls here; a full pipe already holds a signal to handle.
    const int savedErrno = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = write(g_writeFd, &byte, 1);
    errno = savedErrno;
}

void CQuitSignals::OnReadable() {
    char bytes[16];
    while (read(m_fds[0], bytes, sizeof bytes) > 0) {
    }
    if (m_bReceived)
        return;
    m_bReceived = true;
    if (QWidget* pMainWnd = CPlatform::MainWindow())
        SendMessage(pMainWnd, WM_COMMAND, WPARAM(m_nExitCommand), 0);
    // Before the main loop runs (a message box of start-up is open), the quit of "E&xit"
    // does nothing: end the loops that run instead.
    QCoreApplication::exit(0);
}
