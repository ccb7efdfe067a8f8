#include "common/enabledset.h"

#include "common/context.h"
#include "common/controlnames.h"

using namespace Qt::StringLiterals;

namespace enabledset {

namespace {

// The names are literals held in the program's data: every handler applies the rule on
// leaving, and making 27 texts each time was most of its cost.
void add(EnabledSet &set, std::initializer_list<QString> names, bool enabled)
{
    for (const QString &n : names)
        set.append(Entry{n, enabled});
}

// An upload and a read-back that receives lock the transfer button set.
bool locked(const ProgramState &st)
{
    return st.transfer == Transfer::Upload || st.transfer == Transfer::ReadBackReceiving;
}
// Nothing holds the line or the screen: no locking transfer, no scanner, no calibration.
bool free(const ProgramState &st) { return !locked(st) && !st.scanner && !st.calibrating; }

} // namespace

EnabledSet enabledSet(const ProgramState &st)
{
    const bool open = st.port == Port::Open;
    const bool locked = enabledset::locked(st);
    const bool free = enabledset::free(st);
    // Sending, reading, saving and loading take the cells as milliseconds.
    const bool inMs = !st.percentView;

    EnabledSet set;
    set.reserve(32); // room for every governed control
    add(set, {ctl::btnAtivar},
        st.port == Port::Closed && !st.editMode && inMs && st.transfer != Transfer::ReadBackReceiving);
    add(set, {ctl::btnDesativar}, st.port == Port::Waiting || (open && free && !st.editMode));
    add(set, {ctl::Button3}, open && !locked && !st.calibrating && !st.editMode);
    add(set, {ctl::btnLerDados, ctl::Button6}, open && free && inMs);
    add(set, {ctl::btnEnvia, ctl::Button8}, sendingAllowed(st));
    add(set, {ctl::btnSalvar, ctl::Button1, ctl::btnCarregar, ctl::Button2}, free && inMs);
    add(set, {ctl::btnAlterarMapas}, editModeAllowed(st));
    // The calibration sends the whole screen and toggles the scanner: only from an idle,
    // known module, with the scanner off and the map in milliseconds.
    add(set, {ctl::btnConfigurarTps}, open && st.moduleKnown && free && inMs);
    // A conversion rewrites every injection cell: not while a transfer or the TPS
    // calibration reads or writes them (an upload builds each frame as it goes).
    add(set, {ctl::btnPercentual}, !st.percentView && parameterTextsFree(st));
    add(set, {ctl::btnmS}, st.percentView && parameterTextsFree(st));
    add(set, {ctl::btnGravar}, st.scanner && !st.recording);
    add(set, {ctl::btnParar, ctl::btnMarcar}, st.recording);
    add(set, {ctl::btnAbrirRegistro}, !st.scanner && !st.recording);
    add(set, {ctl::btnReproduzir, ctl::tbPosicao, ctl::cbVelocidade, ctl::lbMarcas, ctl::btnFecharRegistro},
        st.logOpen);
    add(set, {ctl::cbDentesPms, ctl::cbPontoZero}, st.toothFields);
    // Greyed while the link was lost, until live values come in again.
    add(set, {ctl::BarraTps}, !st.liveStale);
    return set;
}

bool parameterTextsFree(const ProgramState &st) { return st.transfer == Transfer::None && !st.calibrating; }

bool sendingAllowed(const ProgramState &st)
{
    // Not while a read-back was asked for either: its frames, coming in during the upload,
    // would rewrite the texts that the later blocks are built from.
    return st.port == Port::Open && st.transfer == Transfer::None && !st.scanner && !st.calibrating && !st.percentView;
}

bool mapChangesAllowed(const ProgramState &st) { return parameterTextsFree(st) && !st.scanner; }

bool editModeAllowed(const ProgramState &st) { return free(st) && !st.editMode; }

ProgramState fromContext(const Context &ctx)
{
    const State &s = ctx.state;
    ProgramState p;
    p.port = s.portOpen() ? Port::Open : s.portWaiting() ? Port::Waiting : Port::Closed;
    if (s.uploading)
        p.transfer = Transfer::Upload;
    else if (s.readBack == ReadBackPhase::Receiving || s.moduleCheck) // the check is a read-back too
        p.transfer = Transfer::ReadBackReceiving;
    else if (s.readBack == ReadBackPhase::Requested)
        p.transfer = Transfer::ReadBackRequested;
    p.calibrating = s.tps != TpsPhase::None;
    p.scanner = s.scannerActive;
    p.moduleKnown = s.moduleKnown;
    p.editMode = s.editMode;
    p.percentView = s.percentView;
    p.recording = s.recording;
    p.logOpen = s.logOpen;
    p.toothFields = s.toothFields;
    p.liveStale = s.liveStale;
    return p;
}

void apply(Screen &screen, const EnabledSet &set)
{
    // A page still to be built gets the rule once it is there.
    for (const Entry &e : set)
        if (screen.complete() || screen.built(e.name))
            screen.setEnabled(e.name, e.enabled);
}

void apply(Context &ctx) { apply(ctx.screen, enabledSet(fromContext(ctx))); }

} // namespace enabledset
