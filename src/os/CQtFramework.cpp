#include "CQtFramework.h"

#include "CBoundedWait.h"
#include "CFileDescriptor.h"
#include "CMenu.h"
#include "CPlatform.h"
#include "CWindowMessage.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
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
    int status = 0;
    pid_t done = 0;
    const bool ended =
        CBoundedWait(std::chrono::milliseconds(waitMs)).Until(std::chrono::milliseconds(20), [&] {
            done = waitpid(opener, &status, WNOHANG);
            return done != 0;
        });
    if (!ended)
        return 0;
    return done == opener && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
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
    m_openBoxes.push_back(&box);
    box.exec();
    std::erase(m_openBoxes, &box);
    return IDOK;
}

bool CQtFramework::EndMessageBox(const QString& text) {
    for (QMessageBox* pBox : m_openBoxes) {
        if (pBox->text() == text) {
            pBox->done(QMessageBox::Ok);
            return true;
        }
    }
    return false;
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
    // One watch a window, however often its timers are set and killed.
    connect(pWnd, &QObject::destroyed, this, &CQtFramework::ForgetWindow, Qt::UniqueConnection);
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
    if (auto* pWidget = qobject_cast<QWidget*>(pWnd))
        BringToFront(pWidget->window());
}

void CQtFramework::SetActivationToken(const QByteArray& token) {
    // Qt's Wayland platform activates the next window with it, once.
    if (!token.isEmpty() && QGuiApplication::platformName() == QLatin1String("wayland"))
        qputenv("XDG_ACTIVATION_TOKEN", token);
}

void CQtFramework::BringToFront(QWidget* pWindow) {
    // Wayland compositors give no program the focus it asks for, but they do give it to a
    // window that appears: one shown but not active (covered or minimised) appears anew.
    // A modal box is not hidden, as that would end it; nor is a window that one blocks.
    if (QGuiApplication::platformName() == QLatin1String("wayland") && pWindow->isVisible() &&
        !pWindow->isActiveWindow() && !pWindow->isModal() &&
        QApplication::activeModalWidget() == nullptr) {
        pWindow->hide();
        pWindow->show();
    }
    pWindow->raise();
    pWindow->activateWindow();
}

void CQtFramework::TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                                  QObject* pWnd) {
    QMenu menu;
    CMenu::AppendMenuItems(menu, popup, defaultItem);
    if (const QAction* pChosen = menu.exec(pt))
        PostMessage(pWnd, WM_COMMAND, WPARAM(pChosen->data().toInt()), 0);
}

// The desktop's opener tells by its exit status whether a program took the target (it fails
// for a "mailto:" with no mail program, or is missing). A helper process waits for it and
// writes its result into a pipe that the event loop watches, so the window never waits.
void CQtFramework::ShellExecuteOpen(const QString& target, std::function<void(bool)> done) {
    const QByteArray text = target.toUtf8();
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0) {
        ReportLater(std::move(done), false);
        return;
    }
    const pid_t helper = fork();
    if (helper == 0) {
        const char result = char(RunOpener(text.constData(), kOpenerWaitMs));
        _exit(write(fds[1], &result, 1) == 1 ? 0 : 1);
    }
    close(fds[1]);
    if (helper < 0) {
        close(fds[0]);
        ReportLater(std::move(done), false);
        return;
    }
    auto* pNotifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(pNotifier, &QSocketNotifier::activated, this,
            [pNotifier, helper, done = std::move(done)] {
                const CFileDescriptor pipe(int(pNotifier->socket()));
                pNotifier->setEnabled(false);
                pNotifier->deleteLater();
                char result = 1;
                const ssize_t got = pipe.ReadSome(&result, 1);
                // The helper has written its last byte, or has died: it ends now.
                CBoundedWait(std::chrono::seconds(1)).Until(std::chrono::milliseconds(1), [helper] {
                    return waitpid(helper, nullptr, WNOHANG) != 0;
                });
                done(got == 1 && result == 0);
            });
}

void CQtFramework::ReportLater(std::function<void(bool)> done, bool opened) {
    QMetaObject::invokeMethod(
        this, [done = std::move(done), opened] { done(opened); }, Qt::QueuedConnection);
}

bool CQtFramework::ActivateModalWindow() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr)
        return false;
    BringToFront(pModal);
    return true;
}
