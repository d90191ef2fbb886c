#pragma once

#include "CNotifier.h"

#include <QObject>
#include <QPointer>
#include <QString>

// Notifications through org.freedesktop.Notifications on the session bus. Every call is
// asynchronous: the capabilities are asked first, so that the default action is offered
// only where the server shows actions; a server that is missing or fails sends the text to
// the tray icon's balloon instead.
class CDBusNotifier : public QObject, public CNotifier {
    Q_OBJECT
public:
    void Notify(const NOTIFYICONDATA& nid, UINT nCommand, const QString& strTitle,
                const QString& strText) override;

private slots:
    void OnActionInvoked(uint id, const QString& strAction);

private:
    void Send(bool bActions, const QString& strTitle, const QString& strText);
    void ShowBalloon(const QString& strTitle, const QString& strText);

    NOTIFYICONDATA m_nid{};
    QPointer<QObject> m_pOwner; // m_nid.hWnd while it lives
    UINT m_nCommand = 0;
    uint m_nLastId = 0; // replaces_id of the next notification
    bool m_bListening = false;
};
