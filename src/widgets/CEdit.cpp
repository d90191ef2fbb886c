#include "CEdit.h"

#include <QLineEdit>

CEdit::CEdit(const QString& text, Qt::Alignment alignment, QWidget* pParent)
    : QWidget(pParent), m_strText(text), m_alignment(alignment) {}

QString CEdit::GetWindowText() const {
    return m_pEdit != nullptr ? m_pEdit->text() : m_strText;
}

void CEdit::SetWindowText(const QString& text) {
    if (m_pEdit != nullptr)
        m_pEdit->setText(text);
    else
        m_strText = text;
}

void CEdit::CreateEditField() {
    if (m_pEdit != nullptr)
        return;
    m_pEdit = new QLineEdit(m_strText, this);
    m_strText.clear();
    m_pEdit->setAlignment(m_alignment);
    m_pEdit->setGeometry(rect());
    m_pEdit->setFocusPolicy(focusPolicy());
    // The field takes the control's place in the tab order (a widget made later would come
    // last), and focus given to the control goes to it.
    QWidget::setTabOrder(this, m_pEdit);
    setFocusProxy(m_pEdit);
    if (isVisible())
        m_pEdit->show();
}

void CEdit::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    if (m_pEdit != nullptr)
        m_pEdit->setGeometry(rect());
}
