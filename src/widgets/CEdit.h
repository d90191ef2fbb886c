#pragma once

#include <QString>
#include <QWidget>

class QLineEdit;

// A one-line edit control. Its line edit is made only when the control is laid out: a line
// edit loads the font database at once, which a window that stays hidden never needs. Until
// then the control keeps its text itself.
class CEdit : public QWidget {
    Q_OBJECT
public:
    CEdit(const QString& text, Qt::Alignment alignment, QWidget* pParent = nullptr);

    QString GetWindowText() const;
    void SetWindowText(const QString& text);
    // Makes the line edit (once); the laying out calls it before the control is shown.
    void CreateEditField();

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    QString m_strText;
    Qt::Alignment m_alignment;
    QLineEdit* m_pEdit = nullptr;
};
