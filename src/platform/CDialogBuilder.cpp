#include "CDialogBuilder.h"

#include "CComboBox.h"
#include "CDialogUnits.h"
#include "CDragListBox.h"
#include "CWindowMessage.h"
#include "DialogTemplates.h"
#include "Resources.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const char* const kIdProperty = "ctrlId";

Qt::Alignment TextAlignment(unsigned style) {
    if ((style & CS_RIGHT) != 0)
        return Qt::AlignRight | Qt::AlignTop;
    if ((style & CS_CENTER) != 0)
        return Qt::AlignHCenter | Qt::AlignTop;
    return Qt::AlignLeft | Qt::AlignTop;
}

// A one-line text wider than its rectangle (the font runs wider than the one the template was
// laid out for) spreads into the side its alignment leaves open, never past the window.
QRect Widened(QRect place, int needed, Qt::Alignment alignment, const QRect& bounds) {
    const int extra = needed - place.width();
    if (extra <= 0)
        return place;
    if ((alignment & Qt::AlignRight) != 0)
        place.setLeft(place.left() - extra);
    else if ((alignment & Qt::AlignHCenter) != 0)
        place.adjust(-extra / 2, 0, extra - extra / 2, 0);
    else
        place.setRight(place.right() + extra);
    return place.intersected(bounds);
}

QWidget* CreateControl(QWidget* pParent, const ControlTemplate& ctl, QObject* pOwner,
                       const QRect& rect, const QRect& bounds) {
    const QString text = QString::fromUtf8(ctl.text);
    QWidget* pWidget = nullptr;
    QRect place = rect;
    switch (ctl.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* pButton = new QPushButton(text, pParent);
        pButton->setDefault(ctl.kind == ControlKind::DefPushButton);
        pButton->setAutoDefault(false);
        const int id = ctl.id;
        QObject::connect(pButton, &QPushButton::clicked, pParent,
                         [pOwner, id] { SendMessage(pOwner, WM_COMMAND, WPARAM(id), 0); });
        pWidget = pButton;
        break;
    }
    case ControlKind::Edit: {
        auto* pEdit = new QLineEdit(text, pParent);
        pEdit->setAlignment((ctl.style & CS_RIGHT) != 0 ? Qt::AlignRight : Qt::AlignLeft);
        pWidget = pEdit;
        break;
    }
    case ControlKind::ComboDropDown: {
        auto* pCombo = new CComboBox(pParent);
        // The template's height includes the dropped-down list.
        place.setHeight(pCombo->sizeHint().height());
        pWidget = pCombo;
        break;
    }
    case ControlKind::Label: {
        auto* pLabel = new QLabel(text, pParent);
        pLabel->setAlignment(TextAlignment(ctl.style));
        pLabel->setWordWrap(text.contains(QLatin1Char('\n')) ||
                            rect.height() > 2 * pLabel->fontMetrics().height());
        pLabel->setTextFormat(Qt::PlainText);
        if (!pLabel->wordWrap())
            place = Widened(place, pLabel->sizeHint().width(), pLabel->alignment(), bounds);
        pWidget = pLabel;
        break;
    }
    case ControlKind::GroupBox:
        pWidget = new QGroupBox(text, pParent);
        break;
    case ControlKind::CheckBox: {
        auto* pCheck = new QCheckBox(text, pParent);
        place = Widened(place, pCheck->sizeHint().width(), Qt::AlignLeft, bounds);
        pWidget = pCheck;
        break;
    }
    case ControlKind::ListBox:
        pWidget = new CDragListBox(pParent);
        break;
    case ControlKind::Icon: {
        auto* pLabel = new QLabel(pParent);
        if (const QIcon* pIcon = LoadIconResource(IDI_NORMAL))
            pLabel->setPixmap(pIcon->pixmap(32, 32));
        place.setSize(QSize(32, 32));
        pWidget = pLabel;
        break;
    }
    }
    pWidget->setGeometry(place);
    pWidget->setProperty(kIdProperty, ctl.id);
    pWidget->setEnabled((ctl.style & CS_DISABLED) == 0);
    pWidget->setFocusPolicy((ctl.style & CS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::NoFocus);
    return pWidget;
}
} // namespace

QSize CDialogBuilder::Build(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner) {
    const CDialogUnits units(pParent->font());
    const QRect bounds = units.MapRect(0, 0, dlg.cx, dlg.cy);
    for (const ControlTemplate& ctl : dlg.controls) {
        QWidget* pWidget = CreateControl(pParent, ctl, pOwner,
                                         units.MapRect(ctl.x, ctl.y, ctl.cx, ctl.cy), bounds);
        // Group boxes frame the controls that follow them, so they lie beneath.
        if (ctl.kind == ControlKind::GroupBox)
            pWidget->lower();
    }
    KeepClearOfNeighbours(pParent);
    return bounds.size();
}

void CDialogBuilder::KeepClearOfNeighbours(QWidget* pParent) {
    // A widened text and the control to its right on the same line must not overlap (the
    // template's rectangles never do, so any overlap comes from widening): a static to the
    // right moves over, anything else makes the text stop short of it.
    const QList<QWidget*> controls = pParent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* pText : controls) {
        if (qobject_cast<QLabel*>(pText) == nullptr && qobject_cast<QCheckBox*>(pText) == nullptr)
            continue;
        for (QWidget* pOther : controls) {
            if (pOther == pText || qobject_cast<QGroupBox*>(pOther) != nullptr)
                continue;
            const QRect text = pText->geometry();
            const QRect other = pOther->geometry();
            if (other.left() <= text.left() || !text.intersects(other))
                continue;
            const int gap = pText->fontMetrics().horizontalAdvance(QLatin1Char(' '));
            if (qobject_cast<QLabel*>(pOther) != nullptr)
                pOther->move(text.right() + 1 + gap, other.top());
            else
                pText->resize(other.left() - text.left() - gap, text.height());
        }
    }
}

QWidget* CDialogBuilder::GetDlgItem(const QWidget* pParent, int id) {
    for (QWidget* pChild : pParent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (pChild->property(kIdProperty).toInt() == id && pChild->property(kIdProperty).isValid())
            return pChild;
    return nullptr;
}
