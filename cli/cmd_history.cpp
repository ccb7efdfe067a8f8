#include "cli/cmd_history.h"

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "cli/headless.h"
#include "cli/steps.h"
#include "datalog/vehiclelogs.h"
#include "history/vehicle.h"
#include "serial/comport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

const QString vehicleVariable = QStringLiteral("VELTO_VEHICLE");

QString vehicleFolder(const CommandLine &cl)
{
    return cl.isSet(QStringLiteral("vehicle")) ? cl.value(QStringLiteral("vehicle"))
                                               : qEnvironmentVariable("VELTO_VEHICLE");
}

std::unique_ptr<history::Vehicle> open(const QString &folder, history::Vehicle::Open mode)
{
    auto vehicle = onHistory([&] { return std::make_unique<history::Vehicle>(folder, mode); });
    if (!vehicle->messages().isEmpty())
        err(QStringLiteral("velto-cli: ") + vehicle->messages() + u'\n');
    return vehicle;
}

// One line of the list: id, date, kind, summary, then the marks, tags and note; with
// more than one line of entries, the lines an entry is on (when not on all), and the
// number of logs recorded on it (when any).
QString entryLine(const history::Entry &e, qsizetype kindWidth, const QString &lineMark = {}, int logs = 0)
{
    QString line =
        QStringLiteral("%1  %2  %3  %4")
            .arg(e.id, e.time.toString(QStringLiteral("dd/MM/yyyy HH:mm")), e.kind.leftJustified(kindWidth), e.summary);
    if (e.inModule)
        line += QStringLiteral("  [no módulo]");
    for (const QString &tag : e.tags)
        line += QStringLiteral("  [%1]").arg(tag);
    if (!lineMark.isEmpty())
        line += QStringLiteral("  [%1]").arg(lineMark);
    if (logs > 0)
        line += logs == 1 ? QStringLiteral("  [1 registro]") : QStringLiteral("  [%1 registros]").arg(logs);
    if (!e.note.isEmpty())
        line += QStringLiteral("  nota: ") + QString(e.note).replace(u'\n', u' ');
    return line + u'\n';
}

// "linha main (atual)", "linhas main (atual), oficina-main"; empty for an entry on
// every line.
QString lineMark(const QStringList &on, const QList<history::Line> &lines)
{
    if (lines.size() < 2 || on.size() == lines.size())
        return {};
    QStringList names;
    for (const history::Line &l : lines)
        if (on.contains(l.name))
            names << (l.current ? l.name + QStringLiteral(" (atual)") : l.name);
    return (names.size() == 1 ? QStringLiteral("linha ") : QStringLiteral("linhas ")) +
           names.join(QStringLiteral(", "));
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
    int most = -1; // at most this many positional arguments (-1: exactly positionals)
};

int list(CommandLine &cl, history::Vehicle &vehicle)
{
    // One line of entries: the current line as ever; more (a pull kept another
    // computer's): the entries of every line, each marked with the lines it is on.
    const QList<history::Line> lines = onHistory([&] { return vehicle.lines(); });
    QList<history::LineEntry> entries;
    if (lines.size() > 1) {
        entries = onHistory([&] { return vehicle.allEntries(); });
    } else {
        for (const history::Entry &e : onHistory([&] { return vehicle.entries(); }))
            entries << history::LineEntry{e, lines.isEmpty() ? QStringList() : QStringList{lines[0].name}};
    }
    QList<history::Entry> plain;
    for (const history::LineEntry &e : entries)
        plain << e.entry;
    const QHash<QString, int> logs = vehiclelogs::countPerEntry(vehiclelogs::list(vehicle.folder()), plain);
    if (cl.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const history::LineEntry &e : entries) {
            QJsonObject o = entryJson(e.entry);
            o.insert(QStringLiteral("lines"), QJsonArray::fromStringList(e.lines));
            o.insert(QStringLiteral("logs"), logs.value(e.entry.commit));
            array.append(o);
        }
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        return Done;
    }
    qsizetype kindWidth = 0;
    for (const history::LineEntry &e : entries)
        kindWidth = std::max(kindWidth, e.entry.kind.size());
    QString text;
    for (const history::LineEntry &e : entries)
        text += entryLine(e.entry, kindWidth, lineMark(e.lines, lines), logs.value(e.entry.commit));
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

QString remoteOf(const CommandLine &cl)
{
    return cl.positional().isEmpty() ? QStringLiteral("origin") : cl.positional().at(0);
}

int push(CommandLine &cl, history::Vehicle &vehicle)
{
    const QString remote = remoteOf(cl);
    const QString there = onHistory([&] { return vehicle.push(remote); });
    QString line;
    for (const history::Line &l : onHistory([&] { return vehicle.lines(); }))
        if (l.current)
            line = l.name;
    out(QStringLiteral("Enviados ao remoto %1: a linha %2%3, as notas e as etiquetas.\n")
            .arg(remote, line, line == there ? QString() : QStringLiteral(" (%1 no remoto)").arg(there)));
    return Done;
}

int pull(CommandLine &cl, history::Vehicle &vehicle)
{
    const QString remote = remoteOf(cl);
    const history::PullResult r = onHistory([&] { return vehicle.pull(remote); });
    QString text;
    for (const QString &l : r.updated)
        text += QStringLiteral("Linha %1: trazidas as entradas novas do remoto %2.\n").arg(l, remote);
    for (const QString &l : r.added)
        text += QStringLiteral("Linha %1: nova, do remoto %2.\n").arg(l, remote);
    for (const QString &l : r.kept)
        text += QStringLiteral("Linha %1: a do remoto %2, que divergiu desta, guardada ao lado; nada foi juntado "
                               "(velto-cli history use %1 continua dela).\n")
                    .arg(l, remote);
    if (r.notesMerged > 0)
        text += QStringLiteral("%1 com notas ou etiquetas dos dois computadores: as duas guardadas.\n")
                    .arg(r.notesMerged == 1 ? QStringLiteral("1 entrada")
                                            : QStringLiteral("%1 entradas").arg(r.notesMerged));
    if (!r.changed())
        text += QStringLiteral("Nada novo no remoto %1.\n").arg(remote);
    out(text);
    return Done;
}

int use(CommandLine &cl, history::Vehicle &vehicle)
{
    onHistory([&] { vehicle.use(cl.positional().at(0)); });
    const std::optional<history::Entry> latest = onHistory([&] { return vehicle.latest(); });
    if (latest)
        out(entryLine(*latest, 0));
    return Done;
}

int remote(CommandLine &cl, history::Vehicle &vehicle)
{
    const QStringList args = cl.positional();
    if (args.isEmpty()) {
        QString text;
        for (const history::Remote &r : onHistory([&] { return vehicle.remotes(); }))
            text += QStringLiteral("%1\t%2\n").arg(r.name, r.url);
        out(text);
        return Done;
    }
    if (args.size() != 3 || args[0] != QLatin1String("add"))
        throw Failure{Usage, QStringLiteral("uso: velto-cli history remote [add NOME URL] [--vehicle PASTA]")};
    onHistory([&] { vehicle.addRemote(args[1], args[2]); });
    return Done;
}

QString logLines(const QList<vehiclelogs::RecordedLog> &logs, const QString &folder)
{
    if (logs.isEmpty())
        return QStringLiteral("  (nenhum)\n");
    QString text;
    for (const vehiclelogs::RecordedLog &l : logs)
        text +=
            QStringLiteral("  %1  %2\n")
                .arg(l.modified.toString(QStringLiteral("dd/MM/yyyy HH:mm")), QDir(folder).relativeFilePath(l.path));
    return text;
}

int logs(CommandLine &cl, history::Vehicle &vehicle)
{
    const vehiclelogs::BeforeAfter ba =
        onHistory([&] { return vehiclelogs::beforeAfter(vehicle, cl.positional().at(0)); });
    QString text;
    if (ba.parent)
        text += QStringLiteral("antes (%1, %2):\n").arg(ba.parent->id, ba.parent->kind) +
                logLines(ba.before, vehicle.folder());
    else
        text += QStringLiteral("antes: nenhuma entrada (%1 é a primeira do veículo)\n").arg(ba.entry.id);
    text += QStringLiteral("depois desta mudança (%1, %2):\n").arg(ba.entry.id, ba.entry.kind) +
            logLines(ba.after, vehicle.folder());
    out(text);
    return Done;
}

const QList<Action> &actions()
{
    static const QList<Action> table{
        {QStringLiteral("list"), QStringLiteral("list [--json]"),
         QStringLiteral("lista as entradas, a mais nova primeiro"),
         QStringLiteral("Lista as entradas do histórico do veículo, a mais nova primeiro, uma por linha: a "
                        "identificação (o começo do hash do commit), a data, o tipo, o resumo do que mudou, a "
                        "marca [no módulo], as etiquetas, os registros gravados com a entrada e a nota. Com mais de "
                        "uma linha de entradas (um history pull guardou a de outro computador), lista as de todas, "
                        "cada entrada com as linhas em que está quando não está em todas."),
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
        {QStringLiteral("logs"), QStringLiteral("logs ENTRADA"),
         QStringLiteral("lista os registros de antes e de depois de uma mudança"),
         QStringLiteral("Lista os registros da pasta registros/ do veículo gravados com o ajuste da entrada "
                        "anterior (antes) e com o da entrada (depois desta mudança): cada registro diz no "
                        "cabeçalho a entrada com que foi gravado."),
         1, &logs},
        {QStringLiteral("push"), QStringLiteral("push [REMOTO]"),
         QStringLiteral("envia a linha atual, as notas e as etiquetas a um remoto"),
         QStringLiteral("Envia ao REMOTO (padrão: origin) a linha atual de entradas, as notas e as etiquetas. A "
                        "marca [no módulo] fica neste computador. Se o remoto tem entradas que este computador "
                        "não tem (outro computador enviou antes), o envio é recusado e nada muda: traga-as com "
                        "history pull e envie de novo."),
         0, &push, 1},
        {QStringLiteral("pull"), QStringLiteral("pull [REMOTO]"),
         QStringLiteral("traz as entradas, as notas e as etiquetas de um remoto"),
         QStringLiteral("Traz do REMOTO (padrão: origin) as linhas de entradas, as notas e as etiquetas. Uma linha "
                        "que o remoto continuou avança; se as duas divergiram (os dois computadores mudaram o "
                        "carro), a do remoto fica ao lado como uma linha sua (REMOTO-main), nada é juntado, e "
                        "history use escolhe de qual continuar. As notas dos dois lados ficam."),
         0, &pull, 1},
        {QStringLiteral("use"), QStringLiteral("use LINHA"), QStringLiteral("continua de outra linha de entradas"),
         QStringLiteral("Faz de LINHA (history list mostra as linhas) a linha atual: as próximas entradas vão sobre "
                        "a mais nova dela, e ajuste.txt e mapa.txt da pasta passam a ser os dela. Nenhuma entrada "
                        "é apagada."),
         1, &use},
        {QStringLiteral("remote"), QStringLiteral("remote [add NOME URL]"),
         QStringLiteral("lista os remotos, ou acrescenta um"),
         QStringLiteral("Sem argumentos, lista os remotos do veículo (nome e URL). Com add NOME URL, acrescenta "
                        "um: uma pasta (um repositório git \"bare\" num pendrive), ssh:// ou https://. Uma pasta "
                        "de veículo que não existe é feita, para trazer um veículo de outro computador com "
                        "history pull."),
         0, &remote, 3},
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

std::unique_ptr<history::Vehicle> openExistingVehicle(const CommandLine &cl)
{
    const QString folder = vehicleFolder(cl);
    if (folder.isEmpty())
        return nullptr;
    return open(folder, history::Vehicle::Open::ExistingOnly);
}

history::Entry recordInModule(history::Vehicle &vehicle, const QString &kind, const Tune &tune, const QString &port)
{
    try {
        const history::Entry entry = vehicle.record(kind, tune, TCustomComPort::devicePath(port));
        vehicle.markInModule(entry.id);
        vehicle.compact();
        return entry;
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
        if (a.most >= 0)
            cl.parse(arguments.mid(1), a.positionals, a.most);
        else
            cl.parse(arguments.mid(1), a.positionals);
        const QString folder = vehicleFolder(cl);
        if (folder.isEmpty())
            throw Failure{Usage, QStringLiteral("falta o veículo: --vehicle PASTA ou a variável %1\nUso: velto-cli "
                                                "history %2 [--vehicle PASTA]")
                                     .arg(vehicleVariable, a.usage)};
        // A remote is added to a vehicle that does not exist yet, to pull it.
        const auto vehicle = open(folder, a.name == QLatin1String("remote") && !cl.positional().isEmpty()
                                              ? history::Vehicle::Open::CreateIfMissing
                                              : history::Vehicle::Open::ExistingOnly);
        return a.run(cl, *vehicle);
    }
    throw Failure{Usage, QStringLiteral("ação desconhecida: %1\n(velto-cli history --help mostra as ações)").arg(name)};
}

} // namespace cli
