#pragma once

#include "CMessageTarget.h"
#include "WinTypes.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

class CDialog;

// A dialog's text static turned into a hyperlink: underlined in the link colour, a pointing
// hand while the pointer is over it, and a click opens the text with the shell. Whether the
// link has been followed lives in a flag owned by the user, so it outlives the dialog. Tab
// reaches it, Enter or Space follows it, and a screen reader hears a link it can press.
class CStaticLink : public QLabel, public CMessageTarget {
    Q_OBJECT
public:
    // The mailbox of the author's address: a link naming it is opened as "mailto:".
    static constexpr const char* kAuthorMailbox = "mara";

    CStaticLink();
    ~CStaticLink() override;

    // Takes the place of the dialog's label with that id: same geometry, text, alignment,
    // font and id. False when there is no such label or the link is attached already.
    BOOL SubclassDlgItem(int id, CDialog* pParent);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Opens the link; a click, Enter, Space and assistive technology's press all come here.
    void OnLinkClicked();
    // The colour the text is drawn in now.
    QColor TextColour() const;

    QColor m_crUnvisited{0, 0, 255};
    QColor m_crVisited{128, 0, 128};
    BOOL* m_pVisited = nullptr;
    BOOL m_bCaptured = FALSE;
    BOOL m_bJustClicked = FALSE;
    QString m_strLink;
    QFont m_fontUnderline;

protected:
    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    void OnMouseMove(const QPoint& point);
    void OnTimer(UINT nIDEvent);
    // Plain left, centred or right text; anything else (a picture, rich text) is drawn
    // as the label draws it.
    bool IsPlainText() const;

    bool m_bFontCreated = false;
    bool m_bPressed = false;
    quint64 m_nKeyReleaseTime = 0; // of the last key release, in the window system's time
};
