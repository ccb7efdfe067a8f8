#include "core/enabledset.h"

#include "common/context.h"

namespace enabledset {

namespace {

void add(EnabledSet &set, std::initializer_list<const char *> names, bool enabled)
{
    for (const char *n : names)
        set.append(Entry{QString::fromLatin1(n), enabled});
}

} // namespace

EnabledSet enabledSet(const ProgramState &st)
{
    const bool open = st.port == Port::Open;
    // An upload and a read-back that receives lock the transfer button set.
    const bool locked = st.transfer == Transfer::Upload || st.transfer == Transfer::ReadBackReceiving;
    const bool free = !locked && !st.scanner && !st.calibrating;
    // Sending, reading, saving and loading take the cells as milliseconds.
    const bool inMs = !st.percentView;

    EnabledSet set;
    add(set, {"btnAtivar"},
        st.port == Port::Closed && !st.editMode && inMs && st.transfer != Transfer::ReadBackReceiving);
    add(set, {"btnDesativar"}, st.port == Port::Waiting || (open && free && !st.editMode));
    add(set, {"Button3"}, open && !locked && !st.calibrating && !st.editMode);
    add(set, {"btnLerDados", "Button6", "btnEnvia", "Button8"}, open && free && inMs);
    add(set, {"btnSalvar", "Button1", "btnCarregar", "Button2"}, free && inMs);
    add(set, {"btnAlterarMapas"}, free && !st.editMode);
    // The calibration sends the whole screen and toggles the scanner: only from an idle,
    // known module, with the scanner off and the map in milliseconds.
    add(set, {"btnConfigurarTps"}, open && st.moduleKnown && free && inMs);
    add(set, {"btnPercentual"}, !st.percentView);
    add(set, {"btnmS"}, st.percentView);
    add(set, {"btnGravar"}, st.scanner && !st.recording);
    add(set, {"btnParar", "btnMarcar"}, st.recording);
    add(set, {"btnAbrirRegistro"}, !st.scanner && !st.recording);
    add(set, {"btnReproduzir", "tbPosicao", "cbVelocidade", "lbMarcas", "btnFecharRegistro"}, st.logOpen);
    return set;
}

bool parameterTextsFree(const ProgramState &st) { return st.transfer == Transfer::None && !st.calibrating; }

bool mapChangesAllowed(const ProgramState &st) { return parameterTextsFree(st) && !st.scanner; }

ProgramState fromContext(const Context &ctx)
{
    const State &s = ctx.state;
    ProgramState p;
    p.port = s.portActive ? Port::Open : s.portWaiting ? Port::Waiting : Port::Closed;
    if (ctx.timer2.isEnabled())
        p.transfer = Transfer::Upload;
    else if (s.readBack == ReadBackPhase::Receiving || s.moduleCheck) // the check is a read-back too
        p.transfer = Transfer::ReadBackReceiving;
    else if (s.readBack == ReadBackPhase::Requested)
        p.transfer = Transfer::ReadBackRequested;
    p.calibrating = ctx.timerTps.tag == 1 || ctx.timerTps.isEnabled();
    p.scanner = s.scannerActive;
    p.moduleKnown = s.moduleKnown;
    p.editMode = s.editMode;
    p.percentView = s.percentView;
    p.recording = s.recording;
    p.logOpen = s.logOpen;
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
