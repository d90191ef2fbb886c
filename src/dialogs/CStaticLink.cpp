#include "CStaticLink.h"

#include "CContrast.h"
#include "CDialog.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "Resources.h"

#include <QAccessibleWidget>
#include <QCursor>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>

#include <algorithm>

namespace {
constexpr UINT ID_TIMER_CLICKED = 105;
constexpr UINT kPauseMs = 1000;
constexpr double kMinContrast = 4.5;

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

// Read as a link, with one action, press, that follows it.
class CStaticLinkAccessible : public QAccessibleWidget {
public:
    explicit CStaticLinkAccessible(CStaticLink* pLink)
        : QAccessibleWidget(pLink, QAccessible::Link) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return static_cast<CStaticLink*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            static_cast<CStaticLink*>(widget())->OnLinkClicked();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* LinkAccessible(const QString& className, QObject* pObject) {
    auto* pLink = qobject_cast<CStaticLink*>(pObject);
    return pLink != nullptr && className == QLatin1String("CStaticLink")
               ? new CStaticLinkAccessible(pLink)
               : nullptr;
}
} // namespace

CStaticLink::CStaticLink() {
    static const bool bFactory = (QAccessible::installFactory(LinkAccessible), true);
    Q_UNUSED(bFactory);
    setMouseTracking(true);
}

CStaticLink::~CStaticLink() = default;

BOOL CStaticLink::SubclassDlgItem(int id, CDialog* pParent) {
    auto* pLabel = qobject_cast<QLabel*>(pParent != nullptr ? pParent->GetDlgItem(id) : nullptr);
    if (pLabel == nullptr || parentWidget() != nullptr)
        return FALSE;
    // The label may sit in a group box of the dialog.
    setParent(pLabel->parentWidget());
    setGeometry(pLabel->geometry());
    setFont(pLabel->font());
    setText(pLabel->text());
    setTextFormat(pLabel->textFormat());
    setAlignment(pLabel->alignment());
    setWordWrap(pLabel->wordWrap());
    setEnabled(pLabel->isEnabled());
    if (const QPixmap picture = pLabel->pixmap(); !picture.isNull())
        setPixmap(picture);
    // A link is reached with Tab like a button, whatever the static was.
    setFocusPolicy(IsPlainText() ? Qt::StrongFocus : pLabel->focusPolicy());
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
    painter.setPen(TextColour());
    const int flags = int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QRect drawn;
    painter.drawText(area, flags, text(), &drawn);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = drawn.adjusted(-1, 0, 1, 0) & rect();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

// The link blue or purple where it stands out from the dialog enough to read (4.5:1),
// else the palette's link colour where that does, else its hue made lighter on a
// dark dialog or darker on a light one, no further than it takes.
QColor CStaticLink::TextColour() const {
    const bool bVisited = m_pVisited != nullptr && *m_pVisited == 1;
    const QColor background = palette().color(QPalette::Window);
    const QColor colour = bVisited ? m_crVisited : m_crUnvisited;
    for (const QColor& candidate :
         {colour, palette().color(bVisited ? QPalette::LinkVisited : QPalette::Link)})
        if (CContrast::Ratio(candidate, background) >= kMinContrast)
            return candidate;
    return CContrast::Readable(colour, background, kMinContrast);
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

// The second press of a double click belongs to the first click, which opened the link.
void CStaticLink::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    QLabel::mouseDoubleClickEvent(pEvent);
    m_bPressed = false;
}

void CStaticLink::keyPressEvent(QKeyEvent* pEvent) {
    switch (pEvent->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (pEvent->modifiers() == Qt::NoModifier || pEvent->modifiers() == Qt::KeypadModifier) {
            // A key held down opens the link once, not once per repeat. The window system
            // repeats with a release and a press at the same time, which Qt may miss when
            // the press was not queued yet.
            if (!pEvent->isAutoRepeat() &&
                (pEvent->timestamp() == 0 || pEvent->timestamp() != m_nKeyReleaseTime))
                OnLinkClicked();
            return;
        }
        break;
    default:
        break;
    }
    QLabel::keyPressEvent(pEvent);
}

void CStaticLink::keyReleaseEvent(QKeyEvent* pEvent) {
    m_nKeyReleaseTime = pEvent->timestamp();
    QLabel::keyReleaseEvent(pEvent);
}

void CStaticLink::mouseReleaseEvent(QMouseEvent* pEvent) {
    QLabel::mouseReleaseEvent(pEvent);
    const bool bClicked = m_bPressed && pEvent->button() == Qt::LeftButton &&
                          rect().contains(pEvent->position().toPoint());
    m_bPressed = false;
    if (bClicked)
        OnLinkClicked();
}
