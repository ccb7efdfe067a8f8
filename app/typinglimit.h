#pragma once
// The most characters the user may type into an edit box. Only typing, pasting and
// dropping are limited: texts that the program writes are never cut (which
// QLineEdit::setMaxLength would do).
#include <QObject>

class QLineEdit;

class TypingLimit : public QObject {
    Q_OBJECT
public:
    // Installs itself on edit (which owns it).
    TypingLimit(QLineEdit *edit, int maxLength);
    int maxLength() const { return maxLength_; }
    // The limit set on edit, 0 when it has none.
    static int of(const QLineEdit *edit);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Would inserting text at the cursor (over the selection) exceed the limit?
    bool exceeds(const QString &inserted) const;

    QLineEdit *edit_;
    int maxLength_;
};
