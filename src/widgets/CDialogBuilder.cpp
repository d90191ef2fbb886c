#include "CDialogBuilder.h"

#include "CComboBox.h"
#include "CDialogUnits.h"
#include "CDragListBox.h"
#include "CEdit.h"
#include "CWindowMessage.h"
#include "DialogTemplate.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <utility>
#include <vector>

namespace {
const char* const kIdProperty = "ctrlId";
const char* const kIndexProperty = "ctrlIndex"; // place in the template

QRect TemplateRect(const ControlTemplate& ctl) {
    return QRect(ctl.x, ctl.y, ctl.cx, ctl.cy);
}

// The window's controls: its own and those its group boxes hold.
QList<QWidget*> Controls(const QWidget* pParent) {
    QList<QWidget*> controls = pParent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* pBox : pParent->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        controls += pBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    return controls;
}

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

// The width a button needs: its text clear of the border by half a letter on each side.
int ButtonWidth(const QWidget* pButton, const QString& text) {
    const QFontMetrics metrics = pButton->fontMetrics();
    const int border = pButton->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return metrics.horizontalAdvance(text) + 2 * (border + metrics.averageCharWidth() / 2);
}

QWidget* CreateControl(QWidget* pParent, const ControlTemplate& ctl, QObject* pOwner) {
    const QString text = QString::fromUtf8(ctl.text);
    QWidget* pWidget = nullptr;
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
    case ControlKind::Edit:
        pWidget =
            new CEdit(text, (ctl.style & CS_RIGHT) != 0 ? Qt::AlignRight : Qt::AlignLeft, pParent);
        break;
    case ControlKind::ComboDropDown:
        pWidget = new CComboBox(pParent);
        break;
    case ControlKind::Label: {
        auto* pLabel = new QLabel(text, pParent);
        pLabel->setAlignment(TextAlignment(ctl.style));
        pLabel->setTextFormat(Qt::PlainText);
        pWidget = pLabel;
        break;
    }
    case ControlKind::GroupBox:
        pWidget = new QGroupBox(text, pParent);
        break;
    case ControlKind::CheckBox:
        pWidget = new QCheckBox(text, pParent);
        break;
    case ControlKind::ListBox:
        pWidget = new CDragListBox(pParent);
        break;
    case ControlKind::Icon: {
        auto* pLabel = new QLabel(pParent);
        // The icon of the window the control sits in, which a dialog takes from its owner.
        const QIcon icon = pParent->windowIcon();
        if (!icon.isNull())
            pLabel->setPixmap(icon.pixmap(32, 32));
        // The template's text names the picture for assistive technology.
        pLabel->setAccessibleName(text);
        pWidget = pLabel;
        break;
    }
    }
    pWidget->setProperty(kIdProperty, ctl.id);
    pWidget->setEnabled((ctl.style & CS_DISABLED) == 0);
    pWidget->setFocusPolicy((ctl.style & CS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::NoFocus);
    return pWidget;
}

// Everything here measures texts in the window's font. The rectangles are the window's;
// origin is where the control's parent lies in it.
void PlaceControl(QWidget* pWidget, const ControlTemplate& ctl, const QRect& rect,
                  const QRect& bounds, const QPoint& origin) {
    QRect place = rect;
    switch (ctl.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        // The button keeps its left edge, in the column of the controls above it; a button
        // to its right makes room (KeepClearOfNeighbours).
        place = Widened(place, ButtonWidth(pWidget, QString::fromUtf8(ctl.text)), Qt::AlignLeft,
                        bounds);
        break;
    }
    case ControlKind::Edit:
        static_cast<CEdit*>(pWidget)->CreateEditField();
        break;
    case ControlKind::ComboDropDown: {
        auto* pCombo = static_cast<CComboBox*>(pWidget);
        pCombo->CreateEditField();
        // The template's height includes the dropped-down list.
        place.setHeight(pCombo->sizeHint().height());
        break;
    }
    case ControlKind::Label: {
        auto* pLabel = static_cast<QLabel*>(pWidget);
        pLabel->setWordWrap(QString::fromUtf8(ctl.text).contains(QLatin1Char('\n')) ||
                            rect.height() > 2 * pLabel->fontMetrics().height());
        // A text the program sets at run time (blank in the template) may be longer than
        // the rectangle allows for in a wider font: it may run up to the window's edge.
        if (QString::fromUtf8(ctl.text).trimmed().isEmpty() && !pLabel->wordWrap() &&
            (pLabel->alignment() & Qt::AlignLeft) != 0)
            place.setRight(bounds.right());
        // Widening goes by the template's text, not by what the program has put there
        // since, so the form looks the same whenever it is first shown.
        const QString shown = pLabel->text();
        pLabel->setText(QString::fromUtf8(ctl.text));
        if (!pLabel->wordWrap()) {
            place = Widened(place, pLabel->sizeHint().width(), pLabel->alignment(), bounds);
        } else {
            // A text of several lines gets the width of its longest line and the height of
            // all of them, in a larger font too.
            int widest = 0;
            for (const QString& line : pLabel->text().split(QLatin1Char('\n')))
                widest = std::max(widest, pLabel->fontMetrics().horizontalAdvance(line) + 1);
            if (pLabel->text().contains(QLatin1Char('\n')))
                place = Widened(place, widest, pLabel->alignment(), bounds);
            place.setHeight(std::max(place.height(), pLabel->heightForWidth(place.width())));
        }
        pLabel->setText(shown);
        break;
    }
    case ControlKind::CheckBox:
        place = Widened(place, pWidget->sizeHint().width(), Qt::AlignLeft, bounds);
        break;
    case ControlKind::Icon:
        place.setSize(QSize(32, 32));
        break;
    case ControlKind::GroupBox: {
        // The title sits on the frame's top line, half a text line below the rectangle's
        // top, as the templates lay it out; the style would put it above the frame instead.
        const QFontMetrics metrics = pWidget->fontMetrics();
        pWidget->setStyleSheet(
            QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                           "QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                           " padding: 0 %3px; background-color: palette(window); }")
                .arg(metrics.height() / 2)
                .arg(metrics.averageCharWidth())
                .arg(qMax(1, metrics.averageCharWidth() / 4)));
        break;
    }
    default:
        break;
    }
    pWidget->setGeometry(place.translated(-origin));
}
} // namespace

QSize CDialogBuilder::Build(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner) {
    Create(pParent, dlg, pOwner);
    return Place(pParent, dlg);
}

void CDialogBuilder::Create(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner) {
    // A group box holds the controls after it that lie within it, so assistive technology
    // finds them inside it and announces its title with them.
    std::vector<std::pair<QRect, QWidget*>> boxes;
    for (size_t i = 0; i < dlg.controls.size(); ++i) {
        const ControlTemplate& ctl = dlg.controls[i];
        const auto box = std::find_if(boxes.rbegin(), boxes.rend(), [&ctl](const auto& b) {
            return b.first.contains(TemplateRect(ctl));
        });
        QWidget* pWidget = CreateControl(box != boxes.rend() ? box->second : pParent, ctl, pOwner);
        pWidget->setProperty(kIndexProperty, int(i));
        if (ctl.kind == ControlKind::GroupBox)
            boxes.emplace_back(TemplateRect(ctl), pWidget);
    }
    // Group boxes frame the controls that follow them, so they lie beneath; lowered from the
    // last, they keep the template's order among themselves, which a screen reader follows.
    for (auto box = boxes.rbegin(); box != boxes.rend(); ++box)
        box->second->lower();
}

QSize CDialogBuilder::Place(QWidget* pParent, const DialogTemplate& dlg) {
    const CDialogUnits units(pParent->font());
    const QRect bounds = units.MapRect(0, 0, dlg.cx, dlg.cy);
    const auto templateOf = [&dlg](const QWidget* pWidget) -> const ControlTemplate* {
        const QVariant index = pWidget->property(kIndexProperty);
        return index.isValid() && size_t(index.toInt()) < dlg.controls.size()
                   ? &dlg.controls[size_t(index.toInt())]
                   : nullptr;
    };
    for (QWidget* pWidget : Controls(pParent)) {
        const ControlTemplate* pCtl = templateOf(pWidget);
        if (pCtl == nullptr)
            continue;
        const ControlTemplate* pBox =
            pWidget->parentWidget() != pParent ? templateOf(pWidget->parentWidget()) : nullptr;
        const QPoint origin = pBox != nullptr
                                  ? units.MapRect(pBox->x, pBox->y, pBox->cx, pBox->cy).topLeft()
                                  : QPoint();
        PlaceControl(pWidget, *pCtl, units.MapRect(pCtl->x, pCtl->y, pCtl->cx, pCtl->cy), bounds,
                     origin);
    }
    KeepClearOfNeighbours(pParent, bounds);
    for (QWidget* pBox : pParent->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        KeepClearOfNeighbours(pBox, pBox->rect());
    return bounds.size();
}

void CDialogBuilder::KeepClearOfNeighbours(QWidget* pParent, const QRect& bounds) {
    // A widened text and the control to its right on the same line must not overlap (the
    // template's rectangles never do, so any overlap comes from widening): a static to the
    // right moves over, anything else makes the text stop short of it.
    const QList<QWidget*> controls = pParent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    // A widened button narrows the button to its right from the left, which keeps its right
    // edge, in its column, unless its own text needs more room than is left.
    for (QWidget* pButton : controls) {
        if (qobject_cast<QPushButton*>(pButton) == nullptr)
            continue;
        for (QWidget* pOther : controls) {
            const QRect button = pButton->geometry();
            QRect other = pOther->geometry();
            auto* pOtherButton = qobject_cast<QPushButton*>(pOther);
            if (pOther == pButton || pOtherButton == nullptr || other.left() <= button.left() ||
                !button.intersects(other))
                continue;
            other.setLeft(button.right() + 1 + pButton->fontMetrics().averageCharWidth());
            const int needed = ButtonWidth(pOtherButton, pOtherButton->text());
            if (other.width() < needed)
                other.setRight(std::min(other.left() + needed - 1, bounds.right()));
            pOther->setGeometry(other);
        }
    }
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
    for (QWidget* pChild : Controls(pParent))
        if (pChild->property(kIdProperty).toInt() == id && pChild->property(kIdProperty).isValid())
            return pChild;
    return nullptr;
}

void CDialogBuilder::SetLabel(QWidget* pParent, int id, const char* label) {
    QWidget* pControl = GetDlgItem(pParent, id);
    if (pControl == nullptr)
        return;
    const QString text = QString::fromUtf8(label);
    for (QWidget* pWidget : Controls(pParent)) {
        auto* pLabel = qobject_cast<QLabel*>(pWidget);
        if (pLabel == nullptr || pLabel->text() != text || pLabel == pControl)
            continue;
        pLabel->setBuddy(pControl);
        // A label shows its own value, which its name must keep saying.
        if (qobject_cast<QLabel*>(pControl) != nullptr)
            return;
        pControl->setAccessibleName(text);
        for (auto* pField : pControl->findChildren<QLineEdit*>())
            pField->setAccessibleName(text);
        return;
    }
}
