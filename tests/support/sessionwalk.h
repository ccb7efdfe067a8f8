#pragma once
// A model-based walk through the whole core: a sequence of the user's actions and the
// link's events, each carried out as the window and the port session carry it out,
// against an in-process module that takes an upload over only on its end command (the
// simulator's own parameter memory). After every step the walk checks what must always
// hold about the module, the status line, the messages, the enabled controls and the
// history. A step the window could not deliver (its button disabled) does nothing.
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sessionwalk {

enum class Op : std::uint8_t {
    Activate,      // "&Ativar"
    Deactivate,    // "&Desativar"
    ReadBack,      // "&Lêr  Dados"
    Send,          // "&Enviar  Dados"
    Scanner,       // "Ativar &Scanner" / "Desativar Scanner"
    Type,          // a value typed into a field or a cell, then the field left
    EditMode,      // "Alterar &Mapas"
    Bulk,          // "&Alterar " with a value in eAlterar
    Percent,       // " % "
    Ms,            // " mS "
    BackToMain,    // "&Voltar  Tela Principal "
    Paste,         // a block pasted onto a selection
    Tool,          // a map tool on a selection (its question answered)
    Undo,
    Redo,
    Save,          // "&Salvar" to one of two files
    Load,          // "&Carregar" of one of two files
    TpsStart,      // "Configurar &TPS"
    TpsTick,       // TimerTPS
    Frames,        // the module answers: read-back frames, or live frames with a throttle value
    Lost,          // the cable pulled
    Returned,      // the same module back (the check runs, its question answered)
    ReturnedOther, // another module back, holding another set
    Ticks,         // time passing: the upload's slots, the watchdogs
    Record,        // " Registro ": "Gravar" to one of two files, "Parar", "Marcar", its sync tick
    Count
};

struct Step {
    Op op = Op::Ticks;
    std::uint8_t a = 0, b = 0, c = 0;
    QString text() const;
};
using Steps = std::vector<Step>;

// Bytes into steps: four bytes a step (what the fuzzer mutates).
Steps decode(const std::uint8_t *data, std::size_t size);
// A random walk of n steps from a seed (the same seed, the same walk).
Steps randomWalk(std::uint64_t seed, int n);

struct Failure {
    int step = -1;     // index of the step after which the invariant broke
    QString invariant; // which
    QString detail;
};

// Runs the steps on a new core; the first broken invariant, if any. At the end every
// step is undone and the screen must be where it began.
std::optional<Failure> run(const Steps &steps);
// The shortest sequence found (steps removed one at a time while it still fails).
Steps shrink(Steps steps);
QString describe(const Steps &steps);

} // namespace sessionwalk
