#pragma once
// Which controls can be pressed follows from the program's state alone. Every
// activity changes the state; one rule turns the state into the enabled controls, so
// that no combination of activities can leave a button that the state forbids.
#include <QList>
#include <QString>

struct Context;
class Screen;

namespace enabledset {

enum class Port { Closed, Open, Waiting }; // Waiting: the device went away, its return is watched
enum class Transfer { None, Upload, ReadBackRequested, ReadBackReceiving };

struct ProgramState {
    Port port = Port::Closed;
    Transfer transfer = Transfer::None;
    bool calibrating = false; // the TPS calibration runs
    bool scanner = false;
    bool moduleKnown = false; // see State::moduleKnown
    bool editMode = false;
    bool percentView = false;
    bool recording = false;
    bool logOpen = false;
    bool toothFields = true; // see State::toothFields
    bool liveStale = false;  // see State::liveStale
    friend bool operator==(const ProgramState &, const ProgramState &) = default;
};

struct Entry {
    QString name;
    bool enabled = false;
    friend bool operator==(const Entry &, const Entry &) = default;
};
using EnabledSet = QList<Entry>; // every control the rule governs, in a fixed order

EnabledSet enabledSet(const ProgramState &state);
// No transfer and no TPS calibration holds the parameter texts: undo, redo and the
// correction's apply may change them.
bool parameterTextsFree(const ProgramState &state);
// "Enviar" may send the screen: every path that sends it asks this rule.
bool sendingAllowed(const ProgramState &state);
// Paste and the map tools besides: not while the scanner marks the cells.
bool mapChangesAllowed(const ProgramState &state);
// "Alterar &Mapas" may open the map edit mode.
bool editModeAllowed(const ProgramState &state);

ProgramState fromContext(const Context &ctx);
void apply(Screen &screen, const EnabledSet &set);
// The rule over the present state, onto the screen.
void apply(Context &ctx);

} // namespace enabledset
