#pragma once
// The core's view of the window: every named control reached through its object
// name. Writing a text never runs a handler (only user-driven signals are connected);
// on a combo box with fixed choices the selected entry follows the text, on the others
// it stays as it was.
#include "common/screen.h"

#include <QHash>
#include <QString>
#include <functional>

class QComboBox;
class QTabWidget;
class QWidget;

class WidgetScreen : public Screen {
public:
    // Collects every named descendant of root once. The pages of tabs are addressed by
    // their object names ("TabSheet1", "TabSheet2"); their visibility and enabled state
    // are those of their tabs.
    WidgetScreen(QWidget *root, QTabWidget *tabs);

    // Adds the named descendants of root, built after the screen was made.
    void addControls(QWidget *root);
    // While set, a name not known yet first runs build (once), which adds the controls
    // that were still to be built; then the name is looked up again.
    void setBuildOnDemand(std::function<void()> build) { buildOnDemand_ = std::move(build); }
    // Controls still to be built (see Screen::complete()) until setComplete().
    void setIncomplete() { complete_ = false; }
    void setComplete() { complete_ = true; }
    bool complete() const override { return complete_; }
    bool built(const QString &name) const override { return widgets_.contains(name); }

    // The widget with that object name; throws std::logic_error for an unknown name.
    QWidget *widget(const QString &name) const;
    template <typename T> T *get(const QString &name) const;
    bool contains(const QString &name) const { return widgets_.contains(name); }
    QStringList names() const { return widgets_.keys(); }

    QString text(const QString &name) const override;
    void setText(const QString &name, const QString &text) override;
    int itemIndex(const QString &name) const override;
    void setItemIndex(const QString &name, int index) override;
    QStringList items(const QString &name) const override;
    void setItems(const QString &name, const QStringList &items) override;
    bool isEnabled(const QString &name) const override;
    void setEnabled(const QString &name, bool enabled) override;
    bool isVisible(const QString &name) const override;
    void setVisible(const QString &name, bool visible) override;
    Rgb color(const QString &name) const override;
    void setColor(const QString &name, Rgb color) override;
    Rgb fontColor(const QString &name) const override;
    void setFontColor(const QString &name, Rgb color) override;
    int barMin(const QString &name) const override;
    int barMax(const QString &name) const override;
    int barPosition(const QString &name) const override;
    void setBarMin(const QString &name, int value) override;
    void setBarMax(const QString &name, int value) override;
    void setBarPosition(const QString &name, int value) override;
    void setFocus(const QString &name) override;

    // While a hook is set, the background colours given to the named controls go to
    // the hook instead of the widgets (the map cells coloured by value), and color()
    // answers them; clearing the hook (null) paints them back.
    using ColorHook = std::function<void(const QString &name, Rgb color)>;
    void setColorHook(const QStringList &names, ColorHook hook);

private:
    int pageIndex(const QWidget *w) const;
    void setComboText(const QString &name, QComboBox *combo, const QString &text);

    QHash<QString, QWidget *> widgets_;
    QTabWidget *tabs_;
    ColorHook colorHook_;
    QHash<QString, Rgb> hookedColors_;
    mutable std::function<void()> buildOnDemand_;
    bool complete_ = true;
};

template <typename T> T *WidgetScreen::get(const QString &name) const { return qobject_cast<T *>(widget(name)); }

namespace widgetcombo {
// Selects entry index of an editable combo box; an index outside the list selects
// nothing and keeps the text shown.
void selectIndex(QComboBox *combo, int index);
// After the user typed into the box: the entry that equals the text exactly is
// selected, or none; the typed text and the cursor stay.
void followTypedText(QComboBox *combo);
} // namespace widgetcombo
