#include "fakes.h"

#include "common/controls.h"

#include <stdexcept>

FakeScreen::FakeScreen()
{
    for (const ControlSpec &setup : controlTable()) {
        FakeControl c;
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
        controls_.insert(setup.name, c);
    }
}

FakeControl &FakeScreen::control(const QString &name)
{
    auto it = controls_.find(name);
    if (it == controls_.end())
        throw std::logic_error("unknown control " + name.toStdString());
    return *it;
}

const FakeControl &FakeScreen::control(const QString &name) const
{
    auto it = controls_.find(name);
    if (it == controls_.end())
        throw std::logic_error("unknown control " + name.toStdString());
    return *it;
}

QString FakeScreen::text(const QString &name) const { return control(name).text; }

void FakeScreen::setText(const QString &name, const QString &text)
{
    // Like an editable combo box: writing the text leaves the selected entry alone.
    control(name).text = text;
}

int FakeScreen::itemIndex(const QString &name) const { return control(name).itemIndex; }

void FakeScreen::setItemIndex(const QString &name, int index)
{
    FakeControl &c = control(name);
    if (index >= 0 && index < c.items.size()) {
        c.itemIndex = index;
        c.text = c.items.at(index);
    } else {
        c.itemIndex = -1;
    }
}

QStringList FakeScreen::items(const QString &name) const { return control(name).items; }

void FakeScreen::setItems(const QString &name, const QStringList &items)
{
    FakeControl &c = control(name);
    c.items = items;
    c.itemIndex = -1;
}

bool FakeScreen::isEnabled(const QString &name) const { return control(name).enabled; }
void FakeScreen::setEnabled(const QString &name, bool enabled) { control(name).enabled = enabled; }
bool FakeScreen::isVisible(const QString &name) const { return control(name).visible; }
void FakeScreen::setVisible(const QString &name, bool visible) { control(name).visible = visible; }
Rgb FakeScreen::color(const QString &name) const { return control(name).color; }
void FakeScreen::setColor(const QString &name, Rgb color) { control(name).color = color; }
Rgb FakeScreen::fontColor(const QString &name) const { return control(name).fontColor; }
void FakeScreen::setFontColor(const QString &name, Rgb color) { control(name).fontColor = color; }
int FakeScreen::barMin(const QString &name) const { return control(name).barMin; }
int FakeScreen::barMax(const QString &name) const { return control(name).barMax; }
int FakeScreen::barPosition(const QString &name) const { return control(name).barPosition; }
void FakeScreen::setBarMin(const QString &name, int value) { control(name).barMin = value; }
void FakeScreen::setBarMax(const QString &name, int value) { control(name).barMax = value; }
void FakeScreen::setBarPosition(const QString &name, int value) { control(name).barPosition = value; }

void FakeScreen::setFocus(const QString &name)
{
    ++control(name).focusCount;
    lastFocus = name;
}

QStringList FakeScreen::enabledOf(const QStringList &names) const
{
    QStringList on;
    for (const QString &n : names)
        if (isEnabled(n))
            on << n;
    return on;
}

QStringList FakeScreen::visibleOf(const QStringList &names) const
{
    QStringList on;
    for (const QString &n : names)
        if (isVisible(n))
            on << n;
    return on;
}

void FakeScreen::type(const QString &name, const QString &text)
{
    FakeControl &c = control(name);
    c.text = text;
    if (!c.items.isEmpty())
        c.itemIndex = c.items.indexOf(text);
}

int FakePort::write(const QByteArray &bytes)
{
    if (failWrites)
        throw std::runtime_error("WriteFile function failed (win error code: 5)");
    if (!bytes.isEmpty())
        writes.append(bytes);
    return int(bytes.size());
}

QByteArray FakePort::read(int count)
{
    if (incoming.empty())
        return {};
    QByteArray &front = incoming.front();
    QByteArray out = front.left(count);
    front.remove(0, out.size());
    if (front.isEmpty())
        incoming.pop_front();
    return out;
}

QByteArray FakePort::allWritten() const
{
    QByteArray all;
    for (const QByteArray &w : writes)
        all += w;
    return all;
}

void FakePrompt::message(const QString &text)
{
    messages << text;
    if (onMessage)
        onMessage(text);
}

std::optional<QString> FakePrompt::saveFileName(const FileDialogSpec &setup)
{
    dialogs << setup;
    if (fileAnswers.empty())
        return std::nullopt;
    const bool chosen = fileAnswers.front().has_value();
    const QString name = chosen ? *fileAnswers.front() : QString();
    fileAnswers.pop_front();
    if (!chosen)
        return std::nullopt;
    return name;
}

std::optional<QString> FakePrompt::openFileName(const FileDialogSpec &setup) { return saveFileName(setup); }

