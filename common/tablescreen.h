#pragma once
// A screen without widgets: every control of the start-up table with its text, entries,
// selection, enabled and visible state, colours and bar, kept in a table. The core runs
// on it with no window at all (the command line, the tests).
#include "common/screen.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

struct TableControl {
    QString text;
    QStringList items;
    int itemIndex = -1;
    bool enabled = true;
    bool visible = true;
    Rgb color{};
    Rgb fontColor{};
    int barMin = 0, barMax = 100, barPosition = 0;
    int focusCount = 0;
};

class TableScreen : public Screen {
public:
    TableScreen(); // every control of the start-up table with its start-up state
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
    std::optional<quint64> revision() const override { return revision_; }
    std::optional<quint64> enabledRevision() const override { return enabledRevision_; }

    // Typing into a combo box: the text changes and no entry stays selected unless
    // the text is one of the entries.
    void type(const QString &name, const QString &text);
    // Throws on an unknown name. The control may be changed through it: the screen
    // counts it as changed (revision()).
    TableControl &control(const QString &name);
    const TableControl &control(const QString &name) const;
    QString lastFocus;

private:
    TableControl &row(const QString &name) { return controls_[indexOf(name)]; } // a write that counts itself
    void changed(bool enabledState);
    quint64 revision_ = 0, enabledRevision_ = 0; // 0: the start-up table
    int indexOf(const QString &name) const;      // the row of the start-up table; throws on an unknown name
    QList<TableControl> controls_;               // by row of the start-up table
    // Where the characters of a name asked for lately are, and its row. The core names
    // its controls with literals and with lists that live as long as the program, so
    // that most lookups find the name here and compare it once, without hashing it.
    struct Recent {
        const QChar *chars = nullptr;
        qsizetype size = 0;
        int row = -1;
    };
    mutable std::array<Recent, 2048> recent_{}; // a slot is 11 bits of the address's hash
};
