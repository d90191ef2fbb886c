#include "CQtFramework.h"

#include "CPlatform.h"
#include "CWindowMessage.h"
#include "MenuResource.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Runs in a child of the program: starts the desktop's opener and waits for it, bounded.
// Its result is the opener's exit status, or 0 when the opener is still running at the bound
// (it has started a program in the foreground), which then goes on as an orphan: neither
// killed nor left a zombie. Only calls that are safe after fork() in a threaded program.
int RunOpener(const char* target, int waitMs) {
    const pid_t opener = fork();
    if (opener < 0)
        return 1;
    if (opener == 0) {
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0)
            dup2(null, STDIN_FILENO);
        execlp("xdg-open", "xdg-open", target, static_cast<char*>(nullptr));
        _exit(127);
    }
    constexpr int kStepMs = 20;
    for (int waited = 0; waited < waitMs; waited += kStepMs) {
        int status = 0;
        const pid_t done = waitpid(opener, &status, WNOHANG);
        if (done == opener)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        if (done < 0 && errno != EINTR)
            return 1;
        const timespec step{0, kStepMs * 1000 * 1000};
        nanosleep(&step, nullptr);
    }
    return 0;
}
} // namespace

CQtFramework::CQtFramework() = default;

int CQtFramework::MessageBox(const QString& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Stop          ? QMessageBox::Critical
                    : icon == MessageIcon::Information ? QMessageBox::Information
                                                       : QMessageBox::Warning,
                    QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    CPlatform::MainWindow());
    // Modal to its owner only: the tray icon stays usable while the box is open.
    box.setWindowModality(Qt::WindowModal);
    // Names and the footer's lines are shown as they are, never taken for markup.
    box.setTextFormat(Qt::PlainText);
    RearmRunningTimer();
    box.exec();
    return IDOK;
}

void CQtFramework::BeginWaitCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CQtFramework::EndWaitCursor() {
    if (QGuiApplication::overrideCursor() != nullptr)
        QGuiApplication::restoreOverrideCursor();
}

void CQtFramework::MessageBeep() {
    QApplication::beep();
}

DWORD CQtFramework::GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return DWORD(std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u);
}

std::time_t CQtFramework::Time() {
    return std::time(nullptr);
}

QString CQtFramework::LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16] = {};
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return QString::fromLatin1(text);
}

void CQtFramework::Srand(unsigned int seed) {
    std::srand(seed);
}

int CQtFramework::Rand() {
    return std::rand();
}

void CQtFramework::Sleep(DWORD ms) {
    QThread::msleep(ms);
}

void CQtFramework::SetTimer(QObject* pWnd, UINT id, UINT ms) {
    KillTimer(pWnd, id);
    const int qtId = startTimer(int(ms), Qt::PreciseTimer);
    if (qtId == 0)
        return;
    if (m_timers.empty() || std::none_of(m_timers.begin(), m_timers.end(),
                                         [pWnd](const auto& t) { return t.second.pWnd == pWnd; }))
        connect(pWnd, &QObject::destroyed, this, [this, pWnd] { ForgetWindow(pWnd); });
    m_timers[qtId] = {pWnd, id, ms};
}

void CQtFramework::KillTimer(QObject* pWnd, UINT id) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.pWnd == pWnd && it->second.id == id) {
            QObject::killTimer(it->first);
            m_timers.erase(it);
            return;
        }
    }
}

void CQtFramework::ForgetWindow(QObject* pWnd) {
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.pWnd == pWnd) {
            QObject::killTimer(it->first);
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
}

void CQtFramework::timerEvent(QTimerEvent* pEvent) {
    const auto it = m_timers.find(pEvent->timerId());
    if (it == m_timers.end())
        return;
    const int outer = m_nRunningTimer;
    m_nRunningTimer = it->first;
    SendMessage(it->second.pWnd, WM_TIMER, it->second.id, 0);
    m_nRunningTimer = outer;
}

// Qt delivers no timer again while its own handler runs, but a window timer keeps ticking
// under a box that its handler opens: the handler's timer goes on under a fresh registration.
void CQtFramework::RearmRunningTimer() {
    const auto it = m_timers.find(m_nRunningTimer);
    if (it == m_timers.end())
        return;
    const Timer timer = it->second;
    const int qtId = startTimer(int(timer.ms), Qt::PreciseTimer);
    if (qtId == 0)
        return;
    QObject::killTimer(it->first);
    m_timers.erase(it);
    m_timers[qtId] = timer;
    m_nRunningTimer = 0;
}

QSize CQtFramework::ScreenSize() {
    const QScreen* pScreen = QGuiApplication::primaryScreen();
    return pScreen != nullptr ? pScreen->geometry().size() : QSize(1024, 768);
}

QPoint CQtFramework::GetCursorPos() {
    return QCursor::pos();
}

void CQtFramework::SetForegroundWindow(QObject* pWnd) {
    if (auto* pWidget = qobject_cast<QWidget*>(pWnd)) {
        pWidget->window()->raise();
        pWidget->window()->activateWindow();
    }
}

void CQtFramework::AppendMenuItems(QMenu& menu, const MenuResource& popup, int defaultItem) {
    for (int i = 0; i < int(popup.items.size()); ++i) {
        const MenuItemResource& item = popup.items[i];
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* pAction = menu.addAction(QString::fromLatin1(item.text));
        pAction->setData(item.id);
        if (i == defaultItem)
            menu.setDefaultAction(pAction);
    }
}

void CQtFramework::TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                                  QObject* pWnd) {
    QMenu menu;
    AppendMenuItems(menu, popup, defaultItem);
    if (const QAction* pChosen = menu.exec(pt))
        PostMessage(pWnd, WM_COMMAND, WPARAM(pChosen->data().toInt()), 0);
}

// The desktop's opener tells by its exit status whether a program took the target (it fails
// for a "mailto:" with no mail program, or is missing).
bool CQtFramework::ShellExecuteOpen(const QString& target) {
    const QByteArray text = target.toUtf8();
    const pid_t helper = fork();
    if (helper < 0)
        return false;
    if (helper == 0)
        _exit(RunOpener(text.constData(), kOpenerWaitMs));
    int status = 0;
    while (waitpid(helper, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CQtFramework::ActivateModalWindow() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr)
        return false;
    pModal->raise();
    pModal->activateWindow();
    return true;
}
