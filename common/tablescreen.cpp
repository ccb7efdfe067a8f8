#include "common/tablescreen.h"

#include "common/controls.h"

#include <QHash>

#include <atomic>
#include <stdexcept>

namespace {

QList<TableControl> startupControls()
{
    QList<TableControl> controls;
    controls.reserve(qsizetype(controlTable().size()));
    for (const ControlSpec &setup : controlTable()) {
        TableControl c;
        c.text = setup.text;
        c.items = setup.items;
        c.itemIndex = setup.itemIndex;
        c.enabled = setup.enabled;
        c.visible = setup.visible;
        c.color = setup.color.value_or(colors::white);
        c.fontColor = setup.fontColor.value_or(colors::black);
        c.barMin = setup.barMin;
        c.barMax = setup.barMax;
        c.barPosition = setup.barPosition;
        controls.append(c);
    }
    return controls;
}

const QHash<QString, int> &rows()
{
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        int row = 0;
        for (const ControlSpec &setup : controlTable())
            h.insert(setup.name, row++);
        return h;
    }();
    return index;
}

} // namespace

// Built once: each screen shares the start-up table until it changes a control.
TableScreen::TableScreen()
{
    static const QList<TableControl> startup = startupControls();
    controls_ = startup;
}

int TableScreen::indexOf(const QString &name) const
{
    // The address's bits mixed (Fibonacci hashing): names lie a few dozen bytes apart.
    const auto slot = std::size_t((quint64(quintptr(name.constData())) * 0x9E3779B97F4A7C15ull) >> 53);
    Recent &r = recent_[slot];
    // The same characters at the same place: still the same name unless they were
    // rewritten since, which the one compare tells.
    if (r.chars == name.constData() && r.size == name.size() && controlTable()[std::size_t(r.row)].name == name)
        return r.row;
    const int row = rows().value(name, -1);
    if (row < 0)
        throw std::logic_error("unknown control " + name.toStdString());
    r = {name.constData(), name.size(), row};
    return row;
}

TableControl &TableScreen::control(const QString &name)
{
    changed(true);
    return row(name);
}

const TableControl &TableScreen::control(const QString &name) const { return controls_[indexOf(name)]; }

void TableScreen::changed(bool enabledState)
{
    // One count for all screens: a number once given names one look only.
    static std::atomic<quint64> last{0};
    revision_ = ++last;
    if (enabledState)
        enabledRevision_ = revision_;
}

QString TableScreen::text(const QString &name) const { return control(name).text; }

void TableScreen::setText(const QString &name, const QString &text)
{
    // Like an editable combo box: writing the text leaves the selected entry alone,
    // except on a box with fixed choices, whose entry follows the text.
    const int at = indexOf(name);
    TableControl &c = controls_[at];
    c.text = text;
    if (controlTable()[std::size_t(at)].kind == ControlKind::ComboFixed)
        c.itemIndex = c.items.indexOf(text);
    changed(false);
}

int TableScreen::itemIndex(const QString &name) const { return control(name).itemIndex; }

void TableScreen::setItemIndex(const QString &name, int index)
{
    TableControl &c = row(name);
    if (index >= 0 && index < c.items.size()) {
        c.itemIndex = index;
        c.text = c.items.at(index);
    } else {
        c.itemIndex = -1;
    }
    changed(false);
}

QStringList TableScreen::items(const QString &name) const { return control(name).items; }

void TableScreen::setItems(const QString &name, const QStringList &items)
{
    TableControl &c = row(name);
    c.items = items;
    c.itemIndex = -1;
    changed(false);
}

bool TableScreen::isEnabled(const QString &name) const { return control(name).enabled; }

void TableScreen::setEnabled(const QString &name, bool enabled)
{
    TableControl &c = row(name);
    if (c.enabled != enabled) {
        c.enabled = enabled;
        changed(true);
    }
}

bool TableScreen::isVisible(const QString &name) const { return control(name).visible; }

void TableScreen::setVisible(const QString &name, bool visible)
{
    TableControl &c = row(name);
    if (c.visible != visible) {
        c.visible = visible;
        changed(false);
    }
}

Rgb TableScreen::color(const QString &name) const { return control(name).color; }
void TableScreen::setColor(const QString &name, Rgb color) { row(name).color = color; }
Rgb TableScreen::fontColor(const QString &name) const { return control(name).fontColor; }
void TableScreen::setFontColor(const QString &name, Rgb color) { row(name).fontColor = color; }
int TableScreen::barMin(const QString &name) const { return control(name).barMin; }
int TableScreen::barMax(const QString &name) const { return control(name).barMax; }
int TableScreen::barPosition(const QString &name) const { return control(name).barPosition; }
void TableScreen::setBarMin(const QString &name, int value) { row(name).barMin = value; }
void TableScreen::setBarMax(const QString &name, int value) { row(name).barMax = value; }
void TableScreen::setBarPosition(const QString &name, int value) { row(name).barPosition = value; }

void TableScreen::setFocus(const QString &name)
{
    ++row(name).focusCount;
    lastFocus = name;
}

void TableScreen::type(const QString &name, const QString &text)
{
    TableControl &c = row(name);
    c.text = text;
    if (!c.items.isEmpty())
        c.itemIndex = c.items.indexOf(text);
    changed(false);
}
