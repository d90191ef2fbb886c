#pragma once

#include "CShellTray.h"

#include <QString>

class QObject;

// The system's predefined icons, as the IDI_ ids of LoadIcon(NULL, ...).
constexpr UINT IDI_APPLICATION = 32512;
constexpr UINT IDI_HAND = 32513;
constexpr UINT IDI_QUESTION = 32514;
constexpr UINT IDI_EXCLAMATION = 32515;
constexpr UINT IDI_ASTERISK = 32516;

// One icon in the notification area on behalf of an owner window. It keeps its own copy of
// the shell's record and re-sends it with the parts that changed; mouse actions on the icon
// become commands of the popup menu whose resource id is the icon id.
class CTrayNotifyIcon {
public:
    CTrayNotifyIcon();
    CTrayNotifyIcon(const CTrayNotifyIcon&) = delete;
    CTrayNotifyIcon& operator=(const CTrayNotifyIcon&) = delete;
    virtual ~CTrayNotifyIcon();

    BOOL Create(QObject* pOwner, UINT uID, const QString& strTip, HICON hIcon, UINT nNotifyMessage);

    BOOL SetTooltipText(const QString& strTip);
    BOOL SetTooltipText(UINT nStringId);
    QString GetTooltipText() const;

    BOOL SetIcon(HICON hIcon);
    BOOL SetIcon(UINT nIconResourceId);
    // The icons are numbered resources, which Win32 names "#<id>".
    BOOL SetIcon(const QString& strResourceName);
    // strIconName is the IDI_ name of a predefined icon, e.g. "IDI_QUESTION".
    BOOL SetStandardIcon(const QString& strIconName);
    BOOL SetStandardIcon(UINT nIconId);
    HICON GetIcon() const;

    BOOL SetNotificationWnd(QObject* pOwner);
    QObject* GetNotificationWnd() const;

    // Added, not hidden, and drawn by a notification area now.
    BOOL IsShown() const;

    void HideIcon();
    void ShowIcon();
    void RemoveIcon();

    // A desktop notification on behalf of the icon; its default action is the command.
    void ShowNotification(UINT nCommand, const QString& strTitle, const QString& strText);

    // wParam is the icon id, lParam the mouse message.
    virtual LRESULT OnIconMessage(WPARAM wParam, LPARAM lParam);

protected:
    NOTIFYICONDATA m_nid;
    BOOL m_bAdded = FALSE;
    BOOL m_bHidden = FALSE;
    QObject* m_pOwner = nullptr;

private:
    void CopyTip(const QString& strTip);
    BOOL Notify(DWORD dwMessage, UINT uFlags);
};
