#pragma once
// Finds what a person would see as a layout fault on a page: controls that overlap,
// that stick out of their parent, or whose text does not fit.
#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

namespace layoutcheck
{

inline QString describe(const QWidget *w)
{
    QString name = w->objectName();
    if (name.isEmpty()) {
        if (auto *l = qobject_cast<const QLabel *>(w))
            name = QStringLiteral("label \"%1\"").arg(l->text());
        else
            name = QString::fromLatin1(w->metaObject()->className());
    }
    return name;
}

inline QString withoutMnemonic(QString text)
{
    text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

// The text of w does not fit its box.
inline QString textProblem(const QWidget *w)
{
    const QFontMetrics fm(w->font());
    auto tooWide = [&](const QString &text, int room) {
        return fm.horizontalAdvance(text) > room ? QStringLiteral("%1: \"%2\" needs %3 px, has %4")
                                                       .arg(describe(w), text)
                                                       .arg(fm.horizontalAdvance(text))
                                                       .arg(room)
                                                 : QString();
    };
    if (auto *l = qobject_cast<const QLabel *>(w)) {
        if (l->text().isEmpty() || !l->pixmap().isNull())
            return {};
        if (fm.height() > l->contentsRect().height())
            return QStringLiteral("%1: text height %2 > %3")
                .arg(describe(w))
                .arg(fm.height())
                .arg(l->contentsRect().height());
        const QString shown = l->buddy() ? withoutMnemonic(l->text()) : l->text();
        return tooWide(shown, l->contentsRect().width() - 2 * qMax(0, l->indent()));
    }
    if (auto *b = qobject_cast<const QAbstractButton *>(w)) {
        if (fm.height() + 6 > b->height())
            return QStringLiteral("%1: button too low").arg(describe(w));
        return tooWide(withoutMnemonic(b->text()), b->width() - 12);
    }
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return tooWide(g->title(), g->width() - 16);
    if (auto *e = qobject_cast<const QLineEdit *>(w)) {
        if (fm.height() > e->height())
            return QStringLiteral("%1: text height %2 > %3").arg(describe(w)).arg(fm.height()).arg(e->height());
        return tooWide(e->text(), e->width() - (e->hasFrame() ? 6 : 2));
    }
    if (auto *c = qobject_cast<const QComboBox *>(w)) {
        QString worst;
        for (int i = 0; i < c->count(); ++i)
            if (fm.horizontalAdvance(c->itemText(i)) > fm.horizontalAdvance(worst))
                worst = c->itemText(i);
        if (fm.horizontalAdvance(c->currentText()) > fm.horizontalAdvance(worst))
            worst = c->currentText();
        return tooWide(worst, c->width() - 28);
    }
    return {};
}

inline bool isLeafControl(const QWidget *w) { return !qobject_cast<const QGroupBox *>(w); }

// Checks the visible children of parent and, recursively, of the group boxes and
// panels among them. ignore: names of overlays that may cover others.
inline QStringList problems(const QWidget *parent, const QStringList &ignore = {})
{
    QStringList out;
    QList<const QWidget *> shown;
    for (const QObject *o : parent->children()) {
        const auto *w = qobject_cast<const QWidget *>(o);
        if (!w || w->isWindow() || w->isHidden() || ignore.contains(w->objectName()))
            continue;
        if (w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        // A decoration that lets the mouse through (the frames over the map cells)
        // lies over other controls on purpose.
        if (w->testAttribute(Qt::WA_TransparentForMouseEvents))
            continue;
        shown << w;
    }
    const QRect room = parent->rect();
    for (const QWidget *w : shown) {
        if (!room.contains(w->geometry()))
            out << QStringLiteral("%1 sticks out of %2").arg(describe(w), describe(parent));
        if (qobject_cast<const QGroupBox *>(parent) && w->geometry().top() < QFontMetrics(parent->font()).height())
            out << QStringLiteral("%1 covers the title of %2").arg(describe(w), describe(parent));
        const QString text = textProblem(w);
        if (!text.isEmpty())
            out << text;
        if (qobject_cast<const QGroupBox *>(w) || qobject_cast<const QLabel *>(w))
            out += problems(w, ignore);
    }
    for (int i = 0; i < shown.size(); ++i)
        for (int j = i + 1; j < shown.size(); ++j)
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                out << QStringLiteral("%1 overlaps %2").arg(describe(shown[i]), describe(shown[j]));
    return out;
}

} // namespace layoutcheck
