#include "cli/cmd_history.h"

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "cli/headless.h"
#include "cli/steps.h"
#include "history/vehicle.h"
#include "serial/comport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

const QString vehicleVariable = QStringLiteral("VELTO_VEHICLE");

// A step on the history: what it throws ends the command with 4.
template <typename F> auto onHistory(F step)
{
    try {
        return step();
    } catch (const Failure &) {
        throw;
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
}

QString vehicleFolder(const CommandLine &cl)
{
    return cl.isSet(QStringLiteral("vehicle")) ? cl.value(QStringLiteral("vehicle")) : qEnvironmentVariable("VELTO_VEHICLE");
}

std::unique_ptr<history::Vehicle> open(const QString &folder, history::Vehicle::Open mode)
{
    auto vehicle = onHistory([&] { return std::make_unique<history::Vehicle>(folder, mode); });
    if (!vehicle->messages().isEmpty())
        err(QStringLiteral("velto-cli: ") + vehicle->messages() + u'\n');
    return vehicle;
}

// One line of the list: id, date, kind, summary, then the marks, tags and note.
QString entryLine(const history::Entry &e, qsizetype kindWidth)
{
    QString line = QStringLiteral("%1  %2  %3  %4")
                       .arg(e.id, e.time.toString(QStringLiteral("dd/MM/yyyy HH:mm")), e.kind.leftJustified(kindWidth),
                            e.summary);
    if (e.inModule)
        line += QStringLiteral("  [no módulo]");
    for (const QString &tag : e.tags)
        line += QStringLiteral("  [%1]").arg(tag);
    if (!e.note.isEmpty())
        line += QStringLiteral("  nota: ") + QString(e.note).replace(u'\n', u' ');
    return line + u'\n';
}

QJsonObject entryJson(const history::Entry &e)
{
    return QJsonObject{{QStringLiteral("id"), e.id},
                       {QStringLiteral("commit"), e.commit},
                       {QStringLiteral("time"), e.time.toString(Qt::ISODate)},
                       {QStringLiteral("kind"), e.kind},
                       {QStringLiteral("port"), e.port},
                       {QStringLiteral("summary"), e.summary},
                       {QStringLiteral("note"), e.note},
                       {QStringLiteral("tags"), QJsonArray::fromStringList(e.tags)},
                       {QStringLiteral("inModule"), e.inModule}};
}

struct Action {
    QString name;
    QString usage; // after "history "
    QString summary;
    QString description;
    int positionals;
    int (*run)(CommandLine &cl, history::Vehicle &vehicle);
};

int list(CommandLine &cl, history::Vehicle &vehicle)
{
    const QList<history::Entry> entries = onHistory([&] { return vehicle.entries(); });
    if (cl.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const history::Entry &e : entries)
            array.append(entryJson(e));
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        return Done;
    }
    qsizetype kindWidth = 0;
    for (const history::Entry &e : entries)
        kindWidth = std::max(kindWidth, e.kind.size());
    QString text;
    for (const history::Entry &e : entries)
        text += entryLine(e, kindWidth);
    out(text);
    return Done;
}

int show(CommandLine &cl, history::Vehicle &vehicle)
{
    const QString path = cl.required(QStringLiteral("output"));
    const QByteArray bytes = onHistory([&] { return vehicle.mapBytes(cl.positional().at(0)); });
    if (path == QLatin1String("-"))
        outBytes(bytes);
    else
        onFile(path, [&] { MapFile::writeFile(path, bytes); });
    return Done;
}

int diff(CommandLine &cl, history::Vehicle &vehicle)
{
    const QString a = cl.positional().at(0), b = cl.positional().at(1);
    const Tune tuneA = onHistory([&] { return vehicle.tune(a); });
    const Tune tuneB = onHistory([&] { return vehicle.tune(b); });
    return printDifferences(tuneA, tuneB, a, b, cl.isSet(QStringLiteral("texts")), cl.isSet(QStringLiteral("json")));
}

int restore(CommandLine &cl, history::Vehicle &vehicle)
{
    const QString id = cl.positional().at(0);
    const std::optional<history::Entry> before = onHistory([&] { return vehicle.latest(); });
    const history::Entry entry = onHistory([&] { return vehicle.restore(id); });
    onHistory([&] { return vehicle.compact(); });
    if (before && before->commit == entry.commit)
        err(QStringLiteral("velto-cli: o ajuste de %1 já é o da última entrada (%2): nenhuma entrada nova.\n")
                .arg(id, entry.id));
    else
        out(entryLine(entry, 0));
    return Done;
}

int note(CommandLine &cl, history::Vehicle &vehicle)
{
    onHistory([&] { vehicle.setNote(cl.positional().at(0), cl.positional().at(1)); });
    return Done;
}

int tag(CommandLine &cl, history::Vehicle &vehicle)
{
    onHistory([&] { vehicle.addTag(cl.positional().at(0), cl.positional().at(1)); });
    return Done;
}

const QList<Action> &actions()
{
    static const QList<Action> table{
        {QStringLiteral("list"), QStringLiteral("list [--json]"), QStringLiteral("lista as entradas, a mais nova primeiro"),
         QStringLiteral("Lista as entradas do histórico do veículo, a mais nova primeiro, uma por linha: a "
                        "identificação (o começo do hash do commit), a data, o tipo, o resumo do que mudou, a "
                        "marca [no módulo], as etiquetas e a nota."),
         0, &list},
        {QStringLiteral("show"), QStringLiteral("show ENTRADA -o MAPFILE"),
         QStringLiteral("grava o ajuste de uma entrada num arquivo de mapa"),
         QStringLiteral("Grava o ajuste da entrada num arquivo de mapa, como \"&Salvar\" o gravaria. Com -o -, o "
                        "arquivo de mapa vai para a saída padrão."),
         1, &show},
        {QStringLiteral("diff"), QStringLiteral("diff A B [--texts] [--json]"),
         QStringLiteral("compara os ajustes de duas entradas campo a campo"),
         QStringLiteral("Compara os ajustes de duas entradas campo a campo, como velto-cli diff compara dois "
                        "arquivos de mapa. Código 1 quando há diferenças."),
         2, &diff},
        {QStringLiteral("restore"), QStringLiteral("restore ENTRADA"),
         QStringLiteral("faz do ajuste de uma entrada a entrada mais nova"),
         QStringLiteral("Grava o ajuste da entrada como uma entrada nova (\"Restaurado de ENTRADA\") sobre as "
                        "outras; nenhuma entrada é apagada ou mudada. Nada é enviado ao módulo."),
         1, &restore},
        {QStringLiteral("note"), QStringLiteral("note ENTRADA TEXTO"), QStringLiteral("dá uma nota a uma entrada"),
         QStringLiteral("Dá à entrada a nota TEXTO, no lugar da que tinha (um texto vazio a remove). A entrada "
                        "não muda: a nota é uma nota do git (refs/notes/velto)."),
         2, &note},
        {QStringLiteral("tag"), QStringLiteral("tag ENTRADA ETIQUETA"), QStringLiteral("dá uma etiqueta a uma entrada"),
         QStringLiteral("Junta a etiqueta (\"boa\", \"pista\") às da entrada. A entrada não muda: as etiquetas são "
                        "uma nota do git (refs/notes/velto-etiquetas)."),
         2, &tag},
    };
    return table;
}

QString historyOverview()
{
    QString text = QStringLiteral("Uso: velto-cli history AÇÃO [opções] [--vehicle PASTA]\n\n"
                                  "O histórico de um veículo: uma pasta que é um repositório git, uma entrada (um\n"
                                  "commit) para cada ajuste que o carro teve. A pasta vem de --vehicle ou da\n"
                                  "variável VELTO_VEHICLE. Uma ENTRADA é o começo do hash que history list mostra.\n\n"
                                  "Ações:\n");
    for (const Action &a : actions())
        text += QStringLiteral("  %1  %2\n").arg(a.name.leftJustified(7), a.summary);
    return text + QStringLiteral("\nvelto-cli history AÇÃO --help mostra as opções de cada ação.\n");
}

} // namespace

QCommandLineOption vehicleOption()
{
    return QCommandLineOption(QStringLiteral("vehicle"),
                              QStringLiteral("A pasta do histórico do veículo (sem esta opção, a da variável "
                                             "VELTO_VEHICLE)."),
                              QStringLiteral("PASTA"));
}

std::unique_ptr<history::Vehicle> openVehicle(const CommandLine &cl)
{
    const QString folder = vehicleFolder(cl);
    if (folder.isEmpty())
        return nullptr;
    return open(folder, history::Vehicle::Open::CreateIfMissing);
}

void recordInModule(history::Vehicle &vehicle, const QString &kind, const Tune &tune, const QString &port)
{
    try {
        const history::Entry entry = vehicle.record(kind, tune, TCustomComPort::devicePath(port));
        vehicle.markInModule(entry.id);
        vehicle.compact();
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, withSentence(QString::fromUtf8(e.what()),
                                                     QStringLiteral("A transferência com o módulo terminou; o "
                                                                    "histórico não a registrou."))};
    }
}

int history(const QStringList &arguments)
{
    const QString name = arguments.value(0);
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        out(historyOverview());
        return Done;
    }
    if (name.isEmpty())
        throw Failure{Usage, QStringLiteral("falta a ação\n") + historyOverview()};
    for (const Action &a : actions()) {
        if (a.name != name)
            continue;
        CommandLine cl(QStringLiteral("history ") + a.usage + QStringLiteral(" [--vehicle PASTA]"), a.description);
        cl.add(vehicleOption());
        if (a.name == QLatin1String("list") || a.name == QLatin1String("diff"))
            cl.add(QCommandLineOption(QStringLiteral("json"), QStringLiteral("Saída em JSON.")));
        if (a.name == QLatin1String("diff"))
            cl.add(QCommandLineOption(QStringLiteral("texts"),
                                      QStringLiteral("Compara os textos dos campos, não os valores.")));
        if (a.name == QLatin1String("show"))
            cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                                      QStringLiteral("O arquivo de mapa a gravar (-: a saída padrão)."),
                                      QStringLiteral("MAPFILE")));
        cl.parse(arguments.mid(1), a.positionals);
        const QString folder = vehicleFolder(cl);
        if (folder.isEmpty())
            throw Failure{Usage, QStringLiteral("falta o veículo: --vehicle PASTA ou a variável %1\nUso: velto-cli "
                                                "history %2 [--vehicle PASTA]")
                                     .arg(vehicleVariable, a.usage)};
        const auto vehicle = open(folder, history::Vehicle::Open::ExistingOnly);
        return a.run(cl, *vehicle);
    }
    throw Failure{Usage, QStringLiteral("ação desconhecida: %1\n(velto-cli history --help mostra as ações)").arg(name)};
}

} // namespace cli
