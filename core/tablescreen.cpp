#include "core/tablescreen.h"

#include "common/controls.h"

#include <stdexcept>

namespace {

QHash<QString, TableControl> startupControls()
{
    QHash<QString, TableControl> controls;
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
        controls.insert(setup.name, c);
    }
    return controls;
}

} // namespace

// Built once: each screen shares the start-up table until it changes a control.
TableScreen::TableScreen()
{
    static const QHash<QString, TableControl> startup = startupControls();
    controls_ = startup;
}

TableControl &TableScreen::control(const QString &name)
{
    auto it = controls_.find(name);
    if (it == controls_.end())
        throw std::logic_error("unknown control " + name.toStdString());
    return *it;
}

const TableControl &TableScreen::control(const QString &name) const
{
    auto it = controls_.find(name);
    if (it == controls_.end())
        throw std::logic_error("unknown control " + name.toStdString());
    return *it;
}

QString TableScreen::text(const QString &name) const { return control(name).text; }

void TableScreen::setText(const QString &name, const QString &text)
{
    // Like an editable combo box: writing the text leaves the selected entry alone,
    // except on a box with fixed choices, whose entry follows the text.
    TableControl &c = control(name);
    c.text = text;
    if (const ControlSpec *setup = findControl(name); setup && setup->kind == ControlKind::ComboFixed)
        c.itemIndex = c.items.indexOf(text);
}

int TableScreen::itemIndex(const QString &name) const { return control(name).itemIndex; }

void TableScreen::setItemIndex(const QString &name, int index)
{
    TableControl &c = control(name);
    if (index >= 0 && index < c.items.size()) {
        c.itemIndex = index;
        c.text = c.items.at(index);
    } else {
        c.itemIndex = -1;
    }
}

QStringList TableScreen::items(const QString &name) const { return control(name).items; }

void TableScreen::setItems(const QString &name, const QStringList &items)
{
    TableControl &c = control(name);
    c.items = items;
    c.itemIndex = -1;
}

bool TableScreen::isEnabled(const QString &name) const { return control(name).enabled; }
void TableScreen::setEnabled(const QString &name, bool enabled) { control(name).enabled = enabled; }
bool TableScreen::isVisible(const QString &name) const { return control(name).visible; }
void TableScreen::setVisible(const QString &name, bool visible) { control(name).visible = visible; }
Rgb TableScreen::color(const QString &name) const { return control(name).color; }
void TableScreen::setColor(const QString &name, Rgb color) { control(name).color = color; }
Rgb TableScreen::fontColor(const QString &name) const { return control(name).fontColor; }
void TableScreen::setFontColor(const QString &name, Rgb color) { control(name).fontColor = color; }
int TableScreen::barMin(const QString &name) const { return control(name).barMin; }
int TableScreen::barMax(const QString &name) const { return control(name).barMax; }
int TableScreen::barPosition(const QString &name) const { return control(name).barPosition; }
void TableScreen::setBarMin(const QString &name, int value) { control(name).barMin = value; }
void TableScreen::setBarMax(const QString &name, int value) { control(name).barMax = value; }
void TableScreen::setBarPosition(const QString &name, int value) { control(name).barPosition = value; }

void TableScreen::setFocus(const QString &name)
{
    ++control(name).focusCount;
    lastFocus = name;
}

void TableScreen::type(const QString &name, const QString &text)
{
    TableControl &c = control(name);
    c.text = text;
    if (!c.items.isEmpty())
        c.itemIndex = c.items.indexOf(text);
}
