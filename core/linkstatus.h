#pragma once
// What the status lines say about the link to the module: the port's state and
// whether the screen's parameter set equals what the module holds.
#include "files/mapfile.h"

#include <QString>
#include <QStringList>
#include <optional>

// The port's one state value: what the status line shows and what the port's buttons
// follow.
enum class LinkState {
    Closed,   // never opened, or "&Desativar"
    Open,     // "&Ativar" opened it
    Lost,     // the device went away; waiting for it to come back
    Reopened, // it came back and was opened again by itself
};

namespace linkstatus {

// "Desconectado", "Conectado a <port>", "Conexão perdida — aguardando <port> voltar…",
// "Reconectado a <port>".
QString text(LinkState state, const QString &port);

// The screen against the module's known set.
struct ModuleStatus {
    bool known = false; // an upload or a read-back completed since the port opened
    int differences = 0; // fields of the screen that differ from the known set
    friend bool operator==(const ModuleStatus &, const ModuleStatus &) = default;
};
ModuleStatus compare(const std::optional<Tune> &module, const Tune &screen);
// "Módulo: conteúdo desconhecido", "Tela igual ao módulo",
// "Tela diferente do módulo (N campos)" (1 campo).
QString text(const ModuleStatus &status);
// The controls whose field differs from the module's known set (none while unknown).
QStringList changedControls(const std::optional<Tune> &module, const Tune &screen);

} // namespace linkstatus
