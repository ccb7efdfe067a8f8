#pragma once
// The named controls of the main window with their state at start-up: initial text
// (or caption), choices, selected entry, maximum typed length, tooltip, enabled and
// visible state, colours and bar range. The window applies this table to its widgets
// when it is created; the tests build their screen from the same table.
#include "common/screen.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

enum class ControlKind {
    Edit,       // edit box
    ComboFixed, // combo box whose text is chosen from its list
    ComboFree,  // combo box that accepts typed text
    Button,
    Label,    // label or static text
    Panel,    // panel or group box (text is its caption)
    Progress, // progress bar or bar gauge
    List,     // list box
    Page,     // tab page
    CheckBox, // check box (text is its caption)
};

struct ControlSpec {
    QString name;
    ControlKind kind = ControlKind::Edit;
    QString text;
    QStringList items;
    int itemIndex = -1;
    int maxLength = 0; // 0: no limit
    QString hint;
    bool enabled = true;
    bool visible = true;
    std::optional<Rgb> color;
    std::optional<Rgb> fontColor;
    int barMin = 0, barMax = 100, barPosition = 0;
};

const std::vector<ControlSpec> &controlTable();
const ControlSpec *findControl(const QString &name);

// Default map texts, cell order.
const QStringList &defaultIgnitionMap();
const QStringList &defaultInjectionMap();
