#include "app/widgetscreen.h"

#include "app/tgauge.h"
#include "common/controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTabWidget>
#include <stdexcept>

namespace {

QColor toQColor(Rgb c) { return QColor(c.r, c.g, c.b); }
Rgb toRgb(const QColor &c) { return Rgb{std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue())}; }

bool isEditLike(const QWidget *w)
{
    return qobject_cast<const QLineEdit *>(w) || qobject_cast<const QComboBox *>(w) ||
           qobject_cast<const QListWidget *>(w);
}

QPalette::ColorRole backgroundRole(const QWidget *w)
{
    if (isEditLike(w))
        return QPalette::Base;
    if (qobject_cast<const QAbstractButton *>(w))
        return QPalette::Button;
    return QPalette::Window;
}

QPalette::ColorRole textRole(const QWidget *w)
{
    if (isEditLike(w))
        return QPalette::Text;
    if (qobject_cast<const QAbstractButton *>(w))
        return QPalette::ButtonText;
    return QPalette::WindowText;
}

TGauge *gauge(QWidget *w, const QString &name)
{
    auto *g = qobject_cast<TGauge *>(w);
    if (!g)
        throw std::logic_error("control " + name.toStdString() + " is not a bar");
    return g;
}

} // namespace

namespace widgetcombo {

void selectIndex(QComboBox *combo, int index)
{
    if (index >= 0 && index < combo->count()) {
        combo->setCurrentIndex(index);
        return;
    }
    const QString shown = combo->currentText();
    combo->setCurrentIndex(-1);
    combo->setEditText(shown);
}

void followTypedText(QComboBox *combo)
{
    QLineEdit *edit = combo->lineEdit();
    if (!edit)
        return;
    const QString typed = edit->text();
    const int match = combo->findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (match == combo->currentIndex())
        return;
    const int cursor = edit->cursorPosition();
    combo->setCurrentIndex(match);
    if (edit->text() != typed)
        edit->setText(typed);
    edit->setCursorPosition(cursor);
}

} // namespace widgetcombo

WidgetScreen::WidgetScreen(QWidget *root, QTabWidget *tabs) : tabs_(tabs) { addControls(root); }

void WidgetScreen::addControls(QWidget *root)
{
    const QList<QWidget *> all = root->findChildren<QWidget *>();
    for (QWidget *w : all) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        if (const QWidget *known = widgets_.value(name, nullptr); known == w)
            continue; // added before
        else if (known)
            throw std::logic_error("two controls named " + name.toStdString());
        widgets_.insert(name, w);
    }
}

QWidget *WidgetScreen::widget(const QString &name) const
{
    QWidget *w = widgets_.value(name, nullptr);
    if (!w && buildOnDemand_) {
        const std::function<void()> build = std::move(buildOnDemand_);
        buildOnDemand_ = nullptr;
        build();
        w = widgets_.value(name, nullptr);
    }
    if (!w)
        throw std::logic_error("unknown control " + name.toStdString());
    return w;
}

int WidgetScreen::pageIndex(const QWidget *w) const { return tabs_ ? tabs_->indexOf(const_cast<QWidget *>(w)) : -1; }

QString WidgetScreen::text(const QString &name) const
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        return tabs_->tabText(page);
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *list = qobject_cast<QListWidget *>(w))
        return list->currentItem() ? list->currentItem()->text() : QString();
    return {};
}

void WidgetScreen::setText(const QString &name, const QString &text)
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        tabs_->setTabText(page, text);
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        e->setText(text);
    else if (auto *c = qobject_cast<QComboBox *>(w))
        setComboText(name, c, text);
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
        b->setText(text);
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        g->setTitle(text);
    else if (auto *l = qobject_cast<QLabel *>(w))
        l->setText(text);
}

void WidgetScreen::setComboText(const QString &name, QComboBox *combo, const QString &text)
{
    // A box with fixed choices selects the entry that equals the text, or none.
    if (const ControlSpec *setup = findControl(name); setup && setup->kind == ControlKind::ComboFixed) {
        const int match = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (match != combo->currentIndex())
            combo->setCurrentIndex(match);
    }
    if (combo->currentText() != text)
        combo->setEditText(text);
}

int WidgetScreen::itemIndex(const QString &name) const
{
    QWidget *w = widget(name);
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentIndex();
    if (auto *list = qobject_cast<QListWidget *>(w))
        return list->currentRow();
    return -1;
}

void WidgetScreen::setItemIndex(const QString &name, int index)
{
    QWidget *w = widget(name);
    if (auto *c = qobject_cast<QComboBox *>(w))
        widgetcombo::selectIndex(c, index);
    else if (auto *list = qobject_cast<QListWidget *>(w))
        list->setCurrentRow(index >= 0 && index < list->count() ? index : -1);
}

QStringList WidgetScreen::items(const QString &name) const
{
    QWidget *w = widget(name);
    QStringList out;
    if (auto *c = qobject_cast<QComboBox *>(w)) {
        for (int i = 0; i < c->count(); ++i)
            out << c->itemText(i);
    } else if (auto *list = qobject_cast<QListWidget *>(w)) {
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
    }
    return out;
}

void WidgetScreen::setItems(const QString &name, const QStringList &items)
{
    QWidget *w = widget(name);
    if (auto *c = qobject_cast<QComboBox *>(w)) {
        // A new list leaves no entry selected and the text as it was.
        const QString shown = c->currentText();
        c->clear();
        c->addItems(items);
        c->setCurrentIndex(-1);
        c->setEditText(shown);
    } else if (auto *list = qobject_cast<QListWidget *>(w)) {
        list->clear();
        list->addItems(items);
    }
}

bool WidgetScreen::isEnabled(const QString &name) const
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        return tabs_->isTabEnabled(page);
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

void WidgetScreen::setEnabled(const QString &name, bool enabled)
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        tabs_->setTabEnabled(page, enabled);
    else
        w->setEnabled(enabled);
}

bool WidgetScreen::isVisible(const QString &name) const
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        return tabs_->isTabVisible(page);
    return !w->isHidden();
}

void WidgetScreen::setVisible(const QString &name, bool visible)
{
    QWidget *w = widget(name);
    if (int page = pageIndex(w); page >= 0)
        tabs_->setTabVisible(page, visible);
    else
        w->setVisible(visible);
}

Rgb WidgetScreen::color(const QString &name) const
{
    if (const auto it = hookedColors_.constFind(name); it != hookedColors_.constEnd())
        return *it;
    QWidget *w = widget(name);
    if (auto *g = qobject_cast<TGauge *>(w))
        return toRgb(g->backColor());
    return toRgb(w->palette().color(QPalette::Active, backgroundRole(w)));
}

void WidgetScreen::setColor(const QString &name, Rgb color)
{
    if (const auto it = hookedColors_.find(name); it != hookedColors_.end()) {
        *it = color;
        colorHook_(name, color);
        return;
    }
    QWidget *w = widget(name);
    if (auto *g = qobject_cast<TGauge *>(w)) {
        g->setBackColor(toQColor(color));
        return;
    }
    const QPalette::ColorRole role = backgroundRole(w);
    QPalette pal = w->palette();
    pal.setColor(role, toQColor(color));
    w->setPalette(pal);
    if (role == QPalette::Window)
        w->setAutoFillBackground(true);
}

void WidgetScreen::setColorHook(const QStringList &names, ColorHook hook)
{
    QHash<QString, Rgb> hooked;
    hooked.swap(hookedColors_);
    colorHook_ = nullptr;
    for (auto it = hooked.cbegin(); it != hooked.cend(); ++it)
        setColor(it.key(), it.value());
    if (!hook)
        return;
    for (const QString &name : names)
        hookedColors_.insert(name, color(name));
    colorHook_ = std::move(hook);
}

Rgb WidgetScreen::fontColor(const QString &name) const
{
    QWidget *w = widget(name);
    if (auto *g = qobject_cast<TGauge *>(w))
        return toRgb(g->fillColor());
    return toRgb(w->palette().color(QPalette::Active, textRole(w)));
}

void WidgetScreen::setFontColor(const QString &name, Rgb color)
{
    QWidget *w = widget(name);
    if (auto *g = qobject_cast<TGauge *>(w)) {
        g->setFillColor(toQColor(color));
        return;
    }
    QPalette pal = w->palette();
    pal.setColor(textRole(w), toQColor(color));
    w->setPalette(pal);
}

// A slider is a bar the user moves (the position of a log in playback).
int WidgetScreen::barMin(const QString &name) const
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->minimum();
    return gauge(widget(name), name)->minimum();
}
int WidgetScreen::barMax(const QString &name) const
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->maximum();
    return gauge(widget(name), name)->maximum();
}
int WidgetScreen::barPosition(const QString &name) const
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->value();
    return gauge(widget(name), name)->position();
}
void WidgetScreen::setBarMin(const QString &name, int value)
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->setMinimum(value);
    gauge(widget(name), name)->setMinimum(value);
}
void WidgetScreen::setBarMax(const QString &name, int value)
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->setMaximum(value);
    gauge(widget(name), name)->setMaximum(value);
}
void WidgetScreen::setBarPosition(const QString &name, int value)
{
    if (auto *s = qobject_cast<QSlider *>(widget(name)))
        return s->setValue(value);
    gauge(widget(name), name)->setPosition(value);
}

void WidgetScreen::setFocus(const QString &name)
{
    QWidget *w = widget(name);
    if (pageIndex(w) >= 0) {
        tabs_->setCurrentWidget(w);
        return;
    }
    // A field that gets the focus back (a field check) is shown: its page comes to
    // the front, so the keys typed next land where the user sees them.
    for (QWidget *p = w->parentWidget(); p; p = p->parentWidget()) {
        if (const int page = pageIndex(p); page >= 0) {
            if (tabs_->currentIndex() != page && tabs_->isTabVisible(page) && tabs_->isTabEnabled(page))
                tabs_->setCurrentIndex(page);
            break;
        }
    }
    w->setFocus(Qt::OtherFocusReason);
}
