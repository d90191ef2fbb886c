#include "CComboBox.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

#include <algorithm>

namespace {
// The edit field does not scroll sideways: a typed text must fit the field. A longer text
// put there whole (a long name picked from the list) stays editable until it fits again.
// An IPv6 literal is the one exception.
class FitsTheField : public QValidator {
public:
    explicit FitsTheField(QLineEdit* pEdit) : QValidator(pEdit), m_pEdit(pEdit) {}

    State validate(QString& input, int&) const override {
        // An IPv6 literal is taken whole, however wide: no shorter text stands for it.
        const auto literal = [](QChar c) {
            return c.isDigit() || QStringLiteral("abcdefABCDEF:.[]").contains(c);
        };
        if (input.contains(QLatin1Char(':')) && std::all_of(input.begin(), input.end(), literal))
            return Acceptable;
        // The line edit's own inner margin on each side, and one pixel for the cursor.
        constexpr int kMargin = 2;
        QStyleOptionFrame option;
        option.initFrom(m_pEdit);
        option.lineWidth =
            m_pEdit->hasFrame()
                ? m_pEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, m_pEdit)
                : 0;
        const QRect room = m_pEdit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, m_pEdit)
                               .marginsRemoved(m_pEdit->textMargins());
        const int needed = qRound(QFontMetricsF(m_pEdit->font()).horizontalAdvance(input)) + 1;
        return needed <= room.width() - 2 * kMargin ? Acceptable : Invalid;
    }

private:
    QLineEdit* m_pEdit;
};
} // namespace

CComboBox::CComboBox(QWidget* pParent) : QComboBox(pParent) {
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(8);
    connect(this, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { m_nCurSel = index; });
}

void CComboBox::CreateEditField() {
    if (isEditable())
        return;
    setEditable(true);
    setCompleter(nullptr);
    lineEdit()->setValidator(new FitsTheField(lineEdit()));
    setEditText(m_strText);
    m_strText.clear();
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_nCurSel = -1; });
}

QString CComboBox::GetWindowText() const {
    return isEditable() ? currentText() : m_strText;
}

void CComboBox::ResetContent() {
    clear();
    m_nCurSel = -1;
    SetWindowText(QString());
}

int CComboBox::AddString(const QString& text) {
    const QString edit = GetWindowText();
    addItem(text);
    // Adding never changes what the edit field shows.
    if (m_nCurSel < 0)
        SetWindowText(edit);
    return count() - 1;
}

int CComboBox::SetCurSel(int index) {
    if (index < 0 || index >= count()) {
        m_nCurSel = -1;
        setCurrentIndex(-1);
        SetWindowText(QString());
        return -1;
    }
    m_nCurSel = index;
    setCurrentIndex(index);
    SetWindowText(itemText(index));
    return index;
}

int CComboBox::FindStringExact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void CComboBox::SetWindowText(const QString& text) {
    if (isEditable())
        setEditText(text);
    else
        m_strText = text;
}
