#include "core/linkstatus.h"

#include "core/tunediff.h"

namespace linkstatus {

QString text(LinkState state, const QString &port)
{
    switch (state) {
    case LinkState::Open: return QStringLiteral("Conectado a %1").arg(port);
    case LinkState::Lost: return QStringLiteral("Conexão perdida — aguardando %1 voltar…").arg(port);
    case LinkState::Reopened: return QStringLiteral("Reconectado a %1").arg(port);
    case LinkState::Closed: break;
    }
    return QStringLiteral("Desconectado");
}

QString text(const ModuleStatus &status)
{
    if (!status.known)
        return QStringLiteral("Módulo: conteúdo desconhecido");
    if (status.differences == 0)
        return QStringLiteral("Tela igual ao módulo");
    return QStringLiteral("Tela diferente do módulo (%1 %2)")
        .arg(status.differences)
        .arg(status.differences == 1 ? QStringLiteral("campo") : QStringLiteral("campos"));
}

const QList<tunediff::Difference> &ModuleComparison::differences(const Tune &module, const Tune &screen)
{
    if (module_ != module || screen_ != screen) {
        differences_ = tunediff::compareWithModule(screen, module);
        module_ = module;
        screen_ = screen;
    }
    return differences_;
}

ModuleStatus ModuleComparison::status(const std::optional<Tune> &module, const Tune &screen)
{
    if (!module)
        return {};
    return {true, int(differences(*module, screen).size())};
}

QStringList ModuleComparison::changedControls(const std::optional<Tune> &module, const Tune &screen)
{
    QStringList controls;
    if (module)
        for (const tunediff::Difference &d : differences(*module, screen))
            controls << d.control;
    return controls;
}

} // namespace linkstatus
