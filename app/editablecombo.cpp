#include "app/editablecombo.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace {

// Lent to each new line edit while it joins its box, which then makes no completer of
// its own. Inline completion has no popup list to make when it is taken away again.
QCompleter *lentCompleter()
{
    static QPointer<QCompleter> lent;
    if (!lent) {
        lent = new QCompleter(QCoreApplication::instance());
        lent->setCompletionMode(QCompleter::InlineCompletion);
    }
    return lent;
}

bool listShownAsPopupWhenEditable(const QComboBox *box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = true;
    option.frame = box->hasFrame();
    return box->style()->styleHint(QStyle::SH_ComboBox_Popup, &option, box);
}

} // namespace

void makeEditable(QComboBox *box)
{
    if (box->isEditable())
        return;
    if (box->findChild<QAbstractItemView *>() || listShownAsPopupWhenEditable(box)) {
        box->setEditable(true);
        box->setCompleter(nullptr);
        return;
    }
    auto *edit = new QLineEdit(box);
    edit->setPalette(box->palette()); // as setEditable gives it
    edit->setCompleter(lentCompleter());
    box->setLineEdit(edit);
    box->setCompleter(nullptr);
}
