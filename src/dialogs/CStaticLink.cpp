#include "CStaticLink.h"

#include "CDialog.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "Resources.h"

#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSvgRenderer>

namespace {
constexpr UINT ID_TIMER_CLICKED = 105;
constexpr UINT kPauseMs = 1000;

const QCursor& HandCursor() {
    static const QCursor cursor = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(IDC_HAND_CURSOR));
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        return QCursor(pixmap, 0, 0);
    }();
    return cursor;
}
} // namespace

CStaticLink::CStaticLink() {
    setMouseTracking(true);
}

CStaticLink::~CStaticLink() = default;

BOOL CStaticLink::SubclassDlgItem(int id, CDialog* pParent) {
    auto* pLabel = qobject_cast<QLabel*>(pParent != nullptr ? pParent->GetDlgItem(id) : nullptr);
    if (pLabel == nullptr || parentWidget() != nullptr)
        return FALSE;
    setParent(pParent);
    setGeometry(pLabel->geometry());
    setFont(pLabel->font());
    setText(pLabel->text());
    setTextFormat(pLabel->textFormat());
    setAlignment(pLabel->alignment());
    setWordWrap(pLabel->wordWrap());
    setEnabled(pLabel->isEnabled());
    setFocusPolicy(pLabel->focusPolicy());
    if (const QPixmap picture = pLabel->pixmap(); !picture.isNull())
        setPixmap(picture);
    for (const QByteArray& name : pLabel->dynamicPropertyNames())
        setProperty(name.constData(), pLabel->property(name.constData()));
    stackUnder(pLabel);
    setVisible(!pLabel->isHidden());
    delete pLabel;
    return TRUE;
}

bool CStaticLink::IsPlainText() const {
    return pixmap().isNull() && textFormat() == Qt::PlainText;
}

void CStaticLink::paintEvent(QPaintEvent* pEvent) {
    if (!IsPlainText()) {
        QLabel::paintEvent(pEvent);
        return;
    }
    if (!m_bFontCreated) {
        m_fontUnderline = font();
        m_fontUnderline.setUnderline(true);
        m_bFontCreated = true;
    }
    // No background of its own: the dialog shows through.
    QPainter painter(this);
    painter.setFont(m_fontUnderline);
    painter.setPen(m_pVisited != nullptr && *m_pVisited == 1 ? m_crVisited : m_crUnvisited);
    const int flags = int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    painter.drawText(contentsRect().adjusted(margin(), margin(), -margin(), -margin()), flags,
                     text());
}

void CStaticLink::OnLinkClicked() {
    if (m_strLink.isEmpty())
        m_strLink = text();
    if (m_strLink.contains(QLatin1String(kAuthorMailbox) + QLatin1Char('@')) &&
        !m_strLink.startsWith(QLatin1String("mailto:")))
        m_strLink.prepend(QLatin1String("mailto:"));

    // With the capture gone the hand goes too, and hover tracking pauses, so the hand does
    // not come straight back over the link, whether it opened or not.
    m_bCaptured = FALSE;
    setCursor(Qt::ArrowCursor);
    m_bJustClicked = TRUE;
    CPlatform::Framework().SetTimer(this, ID_TIMER_CLICKED, kPauseMs);

    // The opener reports back later; the window goes on meanwhile. The flag outlives the
    // dialog, so a report that comes after it closed still counts. The pointer is the arrow
    // since the click and may be the hand again by then, so it is left as it is.
    CPlatform::Framework().ShellExecuteOpen(
        m_strLink, [pLink = QPointer<CStaticLink>(this), pVisited = m_pVisited](bool opened) {
            if (!opened) {
                CPlatform::Framework().MessageBeep();
                return;
            }
            if (pVisited != nullptr)
                *pVisited = 1;
            if (pLink != nullptr)
                pLink->update();
        });
}

void CStaticLink::OnMouseMove(const QPoint& point) {
    if (m_bJustClicked)
        return;
    const bool bPoint = rect().contains(point);
    if (!m_bCaptured && bPoint) {
        m_bCaptured = TRUE;
        setCursor(HandCursor());
    }
    if (m_bCaptured && !bPoint) {
        m_bCaptured = FALSE;
        setCursor(Qt::ArrowCursor);
    }
}

void CStaticLink::OnTimer(UINT nIDEvent) {
    if (nIDEvent != ID_TIMER_CLICKED)
        return;
    CPlatform::Framework().KillTimer(this, ID_TIMER_CLICKED);
    m_bJustClicked = FALSE;
}

LRESULT CStaticLink::WindowProc(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_TIMER)
        OnTimer(UINT(wParam));
    return 0;
}

bool CStaticLink::event(QEvent* pEvent) {
    return DispatchMessage(pEvent) || QLabel::event(pEvent);
}

// Without a mouse capture the pointer is followed by tracking; leaving the label is a move
// outside it.
void CStaticLink::enterEvent(QEnterEvent* pEvent) {
    QLabel::enterEvent(pEvent);
    OnMouseMove(pEvent->position().toPoint());
}

void CStaticLink::leaveEvent(QEvent* pEvent) {
    QLabel::leaveEvent(pEvent);
    OnMouseMove(QPoint(-1, -1));
}

void CStaticLink::mouseMoveEvent(QMouseEvent* pEvent) {
    QLabel::mouseMoveEvent(pEvent);
    OnMouseMove(pEvent->position().toPoint());
}

void CStaticLink::mousePressEvent(QMouseEvent* pEvent) {
    QLabel::mousePressEvent(pEvent);
    m_bPressed = pEvent->button() == Qt::LeftButton;
}

void CStaticLink::mouseReleaseEvent(QMouseEvent* pEvent) {
    QLabel::mouseReleaseEvent(pEvent);
    const bool bClicked = m_bPressed && pEvent->button() == Qt::LeftButton &&
                          rect().contains(pEvent->position().toPoint());
    m_bPressed = false;
    if (bClicked)
        OnLinkClicked();
}
