#include "app/typinglimit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

TypingLimit::TypingLimit(QLineEdit *edit, int maxLength) : QObject(edit), edit_(edit), maxLength_(maxLength)
{
    edit->installEventFilter(this);
    edit->setAcceptDrops(false);
}

int TypingLimit::of(const QLineEdit *edit)
{
    const auto *limit = edit->findChild<TypingLimit *>(QString(), Qt::FindDirectChildrenOnly);
    return limit ? limit->maxLength() : 0;
}

bool TypingLimit::exceeds(const QString &inserted) const
{
    const qsizetype after = edit_->text().size() - edit_->selectedText().size() + inserted.size();
    return after > maxLength_ && !inserted.isEmpty();
}

bool TypingLimit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit_ || edit_->isReadOnly())
        return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Paste))
            return exceeds(QApplication::clipboard()->text());
        const QString text = key->text();
        const bool command = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (command || text.isEmpty() || !text.at(0).isPrint())
            return false;
        return exceeds(text);
    }
    case QEvent::InputMethod: return exceeds(static_cast<QInputMethodEvent *>(event)->commitString());
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        QClipboard *clipboard = QApplication::clipboard();
        return mouse->button() == Qt::MiddleButton && clipboard->supportsSelection() &&
               exceeds(clipboard->text(QClipboard::Selection));
    }
    case QEvent::ContextMenu: {
        // The standard menu, with "Paste" off when the clipboard would not fit.
        QMenu *menu = edit_->createStandardContextMenu();
        if (QAction *paste = menu->findChild<QAction *>(QStringLiteral("edit-paste")))
            paste->setEnabled(paste->isEnabled() && !exceeds(QApplication::clipboard()->text()));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    default: return false;
    }
}
