#pragma once
// The narrow view the core has of the window's controls. Every control is reached by
// its name ("eLimiteRpm", "e12i", "Button3"). The window implements it over real
// widgets; the tests implement it over a table (tests/support/fakescreen.h).
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};

namespace colors {
inline constexpr Rgb black{0, 0, 0};
inline constexpr Rgb red{255, 0, 0};
inline constexpr Rgb lime{0, 255, 0};
inline constexpr Rgb yellow{255, 255, 0};
inline constexpr Rgb grey{128, 128, 128};
inline constexpr Rgb silver{192, 192, 192};
inline constexpr Rgb white{255, 255, 255};
} // namespace colors

class Screen {
public:
    virtual ~Screen() = default;

    // False while some controls are still to be built (a window that builds a page
    // after its first paint); what reads the whole screen waits until it is true.
    virtual bool complete() const { return true; }
    // Whether the control is already there; asking does not build it.
    virtual bool built(const QString &name) const
    {
        (void)name;
        return true;
    }

    // Text of an edit box or combo box, caption of a label, button, panel or group.
    virtual QString text(const QString &name) const = 0;
    // Writing a text never runs a field check or a change handler. On a combo box with
    // fixed choices (ControlKind::ComboFixed) the selected entry follows the text: the
    // entry that equals it exactly, else none, so that what the box shows is what an
    // upload sends. On any other combo box the selected entry stays as it was (all
    // combo boxes are editable).
    virtual void setText(const QString &name, const QString &text) = 0;

    // Combo boxes. itemIndex is -1 when no entry is selected; typing a text that is no
    // entry leaves no entry selected. setItemIndex with an index outside the list
    // selects nothing (and leaves the text as it was).
    virtual int itemIndex(const QString &name) const = 0;
    virtual void setItemIndex(const QString &name, int index) = 0;
    virtual QStringList items(const QString &name) const = 0;
    virtual void setItems(const QString &name, const QStringList &items) = 0;

    virtual bool isEnabled(const QString &name) const = 0;
    virtual void setEnabled(const QString &name, bool enabled) = 0;
    // "TabSheet2" names the tab of the configuration page: hiding it hides the tab.
    virtual bool isVisible(const QString &name) const = 0;
    virtual void setVisible(const QString &name, bool visible) = 0;

    virtual Rgb color(const QString &name) const = 0; // background
    virtual void setColor(const QString &name, Rgb color) = 0;
    virtual Rgb fontColor(const QString &name) const = 0;
    virtual void setFontColor(const QString &name, Rgb color) = 0;

    // Progress bars and bar gauges. The bounds are accepted in either order: the
    // gauge shows the range between them; a position outside shows the nearest end.
    virtual int barMin(const QString &name) const = 0;
    virtual int barMax(const QString &name) const = 0;
    virtual int barPosition(const QString &name) const = 0;
    virtual void setBarMin(const QString &name, int value) = 0;
    virtual void setBarMax(const QString &name, int value) = 0;
    virtual void setBarPosition(const QString &name, int value) = 0;

    virtual void setFocus(const QString &name) = 0;

    // Numbers that tell a reader whether the screen may have changed since it last
    // looked: revision() changes with every text, entry list, selection, enabled or
    // visible state written, enabledRevision() with every enabled state; two different
    // looks never share a number. None when the screen does not count: a reader then
    // takes it as changed.
    virtual std::optional<quint64> revision() const { return std::nullopt; }
    virtual std::optional<quint64> enabledRevision() const { return std::nullopt; }
};
