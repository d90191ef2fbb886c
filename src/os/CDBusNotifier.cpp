#include "CDBusNotifier.h"

#include "CPlatform.h"
#include "CWindowMessage.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kDBusTimeoutMs = 5000;
// How long the server shows a notification: its own choice.
constexpr int kServerDefaultTimeout = -1;

QDBusMessage Call(const QString& strMethod) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, strMethod);
}

// Runs done(reply) when the call's answer, error or timeout arrives.
template <typename Done> void CallAsync(const QDBusMessage& message, QObject* pContext, Done done) {
    auto* pWatcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(message, kDBusTimeoutMs), pContext);
    QObject::connect(pWatcher, &QDBusPendingCallWatcher::finished, pContext,
                     [done](QDBusPendingCallWatcher* pCall) {
                         pCall->deleteLater();
                         done(pCall->reply());
                     });
}
} // namespace

void CDBusNotifier::Notify(const NOTIFYICONDATA& nid, UINT nCommand, const QString& strTitle,
                           const QString& strText) {
    m_nid = nid;
    m_pOwner = nid.hWnd;
    m_nCommand = nCommand;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ShowBalloon(strTitle, strText);
        return;
    }
    if (!m_bListening)
        m_bListening = bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                   SLOT(OnActionInvoked(uint, QString)));
    CallAsync(Call(QStringLiteral("GetCapabilities")), this,
              [this, strTitle, strText](const QDBusMessage& reply) {
                  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                      ShowBalloon(strTitle, strText);
                      return;
                  }
                  const QStringList capabilities = reply.arguments().constFirst().toStringList();
                  Send(capabilities.contains(QStringLiteral("actions")), strTitle, strText);
              });
}

void CDBusNotifier::Send(bool bActions, const QString& strTitle, const QString& strText) {
    QDBusMessage notify = Call(QStringLiteral("Notify"));
    const QString appName = QCoreApplication::applicationName();
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("category"), QStringLiteral("network"));
    QStringList actions;
    if (bActions)
        actions << QStringLiteral("default") << QStringLiteral("History");
    // The desktop entry names its icon after the program.
    notify << appName << m_nLastId << appName.toLower() << strTitle << strText << actions << hints
           << kServerDefaultTimeout;
    CallAsync(notify, this, [this, strTitle, strText](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            ShowBalloon(strTitle, strText);
            return;
        }
        m_nLastId = reply.arguments().constFirst().toUInt();
    });
}

void CDBusNotifier::OnActionInvoked(uint id, const QString& strAction) {
    if (id == m_nLastId && id != 0 && strAction == QLatin1String("default") && m_pOwner != nullptr)
        PostMessage(m_pOwner, WM_COMMAND, WPARAM(m_nCommand), 0);
}

void CDBusNotifier::ShowBalloon(const QString& strTitle, const QString& strText) {
    // A server that went away takes its notifications with it.
    m_nLastId = 0;
    if (m_pOwner != nullptr)
        CPlatform::Tray().ShowBalloon(m_nid, strTitle, strText);
}
