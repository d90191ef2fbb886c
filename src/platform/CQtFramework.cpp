#include "CQtFramework.h"

#include "CFrameWnd.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <ctime>

CQtFramework::CQtFramework() = default;

int CQtFramework::MessageBox(const QString& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Stop          ? QMessageBox::Critical
                    : icon == MessageIcon::Information ? QMessageBox::Information
                                                       : QMessageBox::Warning,
                    QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    CFrameWnd::AfxGetMainWnd());
    // Modal to its owner only: the tray icon stays usable while the box is open.
    box.setWindowModality(Qt::WindowModal);
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
                                         [pWnd](const auto& t) { return t.second.first == pWnd; }))
        connect(pWnd, &QObject::destroyed, this, [this, pWnd] { ForgetWindow(pWnd); });
    m_timers[qtId] = {pWnd, id};
}

void CQtFramework::KillTimer(QObject* pWnd, UINT id) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.first == pWnd && it->second.second == id) {
            QObject::killTimer(it->first);
            m_timers.erase(it);
            return;
        }
    }
}

void CQtFramework::ForgetWindow(QObject* pWnd) {
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.first == pWnd) {
            QObject::killTimer(it->first);
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
}

void CQtFramework::timerEvent(QTimerEvent* pEvent) {
    const auto it = m_timers.find(pEvent->timerId());
    if (it != m_timers.end())
        SendMessage(it->second.first, WM_TIMER, it->second.second, 0);
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

bool CQtFramework::ShellExecuteOpen(const QString& target) {
    return QDesktopServices::openUrl(QUrl(target));
}

bool CQtFramework::ActivateModalWindow() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr)
        return false;
    pModal->raise();
    pModal->activateWindow();
    return true;
}
