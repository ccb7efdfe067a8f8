#pragma once
// What the status lines say about the link to the module: the port's state and
// whether the screen's parameter set equals what the module holds.
#include "common/context.h"
#include "core/tunediff.h"
#include "files/mapfile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace linkstatus {

// "Desconectado", "Conectado a <port>", "Conexão perdida — aguardando <port> voltar…",
// "Reconectado a <port>".
QString text(LinkState state, const QString &port);

// The screen against the module's known set.
struct ModuleStatus {
    bool known = false;  // an upload or a read-back completed since the port opened
    int differences = 0; // fields of the screen that differ from the known set
    friend bool operator==(const ModuleStatus &, const ModuleStatus &) = default;
};
// "Módulo: conteúdo desconhecido", "Tela igual ao módulo",
// "Tela diferente do módulo (N campos)" (1 campo).
QString text(const ModuleStatus &status);
// The screen against the module's known set, with the field difference computed again
// only when the set or the screen changed since the last question: the window asks
// after every event, also twice a second while it waits for a lost device.
class ModuleComparison {
public:
    ModuleStatus status(const std::optional<Tune> &module, const Tune &screen);
    // The controls whose field differs from the module's known set (none while unknown).
    QStringList changedControls(const std::optional<Tune> &module, const Tune &screen);

private:
    const QList<tunediff::Difference> &differences(const Tune &module, const Tune &screen);
    std::optional<Tune> module_, screen_;
    QList<tunediff::Difference> differences_;
};

} // namespace linkstatus
