#include "cli/cmd_suggest.h"

#include "cli/cmd_history.h"

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "common/numtext.h"
#include "datalog/recorder.h"
#include "datalog/vehiclelogs.h"
#include "files/mapfile.h"
#include "tuning/correction.h"
#include "tuning/recordedlogs.h"
#include "tuning/warmup.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

using namespace correction;

QString decimal(double value, int decimals) { return numtext::formatFixed(value, decimals); }

QString signedDecimal(double value)
{
    const QString t = decimal(value, 1);
    return value >= 0 && !t.startsWith(u'-') ? u'+' + t : t;
}

// A number option within [low, high]; anything else ends with 2.
double numberOption(const CommandLine &cl, const QString &name, double fallback, double low, double high)
{
    if (!cl.isSet(name))
        return fallback;
    long double v = 0;
    const QString text = cl.value(name);
    if (!numtext::tryParseFloat(QString(text).replace(u'.', u','), &v) || v < low || v > high)
        throw Failure{Usage, QStringLiteral("--%1 espera um número de %2 a %3, não \"%4\"")
                                 .arg(name, decimal(low, 0), decimal(high, 0), text)};
    return double(v);
}

Settings settingsOf(const CommandLine &cl)
{
    Settings s;
    s.minHits = numberOption(cl, QStringLiteral("min-hits"), s.minHits, 1, 1e9);
    s.maxChange = numberOption(cl, QStringLiteral("max-change"), s.maxChange, 0, Settings::maxChangeLimit);
    s.minTemperature = int(numberOption(cl, QStringLiteral("min-temp"), s.minTemperature, -40, 150));
    s.minRpm = int(numberOption(cl, QStringLiteral("min-rpm"), s.minRpm, 0, 20000));
    s.maxTpsMove = int(numberOption(cl, QStringLiteral("tps-move"), s.maxTpsMove, 1, 1023));
    s.tpsWindowMs = int(numberOption(cl, QStringLiteral("tps-window"), s.tpsWindowMs, 0, 10000));
    s.steadyCellMs = int(numberOption(cl, QStringLiteral("cell-ms"), s.steadyCellMs, 0, 10000));
    s.minProbeMv = int(numberOption(cl, QStringLiteral("probe-min"), s.minProbeMv, 0, 2550));
    s.maxProbeMv = int(numberOption(cl, QStringLiteral("probe-max"), s.maxProbeMv, 0, 2550));
    s.deadBand = numberOption(cl, QStringLiteral("dead-band"), s.deadBand, 0, 25);
    s.minOwnShare = numberOption(cl, QStringLiteral("min-own-share"), s.minOwnShare, 0, 1);
    s.fullLoadFrom = int(numberOption(cl, QStringLiteral("full-load-column"), s.fullLoadFrom + 1, 1, 9)) - 1;
    s.leanFullLoad = cl.isSet(QStringLiteral("lean-full-load"));
    s.warmRowsOnly = !cl.isSet(QStringLiteral("warming-rows"));
    s.loopInControl = !cl.isSet(QStringLiteral("loop-off-rows"));
    s.loopSettled = !cl.isSet(QStringLiteral("unsettled-rows"));
    s.probeDelayMs = int(numberOption(cl, QStringLiteral("probe-delay"), s.probeDelayMs, 0, 10000));
    if (s.minProbeMv > s.maxProbeMv)
        throw Failure{Usage,
                      QStringLiteral("--probe-min (%1) passa de --probe-max (%2)").arg(s.minProbeMv).arg(s.maxProbeMv)};
    return s;
}

// The same file, also through another name.
bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

QString counts(const RecordedLogs &logs, const Analysis &a, const Settings &s)
{
    const int lambdaTemp = lambdaTemperature(logs.tune);
    QString text = QStringLiteral("velto-cli: %1 registro(s), %2 linha(s), %3 usada(s), mapa de referência %4\n")
                       .arg(logs.paths.size())
                       .arg(a.rows)
                       .arg(a.used)
                       .arg(logs.tunePath);
    text += QStringLiteral("velto-cli: linhas rejeitadas por filtro:\n");
    for (int f = 0; f < FilterCount; ++f)
        text +=
            QStringLiteral("  %1  %2\n").arg(a.rejected[std::size_t(f)], 9).arg(filterText(Filter(f), s, lambdaTemp));
    return text;
}

QString stateName(CellState state)
{
    switch (state) {
    case CellState::TooFewHits: return QStringLiteral("poucos");
    case CellState::Unchanged: return QStringLiteral("igual");
    case CellState::Added: return QStringLiteral("mais");
    case CellState::Removed: return QStringLiteral("menos");
    case CellState::FullLoad: return QStringLiteral("plena");
    case CellState::Neighbours: return QStringLiteral("vizinhas");
    }
    return {};
}

QJsonObject json(const RecordedLogs &logs, const Analysis &a, const Suggestion &s, const Settings &settings,
                 const QString &output)
{
    QJsonArray cells, rejected;
    for (int k = 0; k < cellCount; ++k) {
        const CellSuggestion &c = s.cells[std::size_t(k)];
        cells.append(QJsonObject{{QStringLiteral("cell"), k},
                                 {QStringLiteral("row"), k / 8 + 1},
                                 {QStringLiteral("column"), k % 8 + 1},
                                 {QStringLiteral("hits"), c.hits},
                                 {QStringLiteral("mean"), c.mean},
                                 {QStringLiteral("ownShare"), c.ownShare},
                                 {QStringLiteral("old"), c.oldText},
                                 {QStringLiteral("new"), c.newText},
                                 {QStringLiteral("state"), stateName(c.state)}});
    }
    for (int f = 0; f < FilterCount; ++f)
        rejected.append(
            QJsonObject{{QStringLiteral("filter"), filterText(Filter(f), settings, lambdaTemperature(logs.tune))},
                        {QStringLiteral("rows"), double(a.rejected[std::size_t(f)])}});
    return QJsonObject{{QStringLiteral("logs"), QJsonArray::fromStringList(logs.paths)},
                       {QStringLiteral("map"), logs.tunePath},
                       {QStringLiteral("output"), output},
                       {QStringLiteral("rows"), double(a.rows)},
                       {QStringLiteral("used"), double(a.used)},
                       {QStringLiteral("rejected"), rejected},
                       {QStringLiteral("changed"), s.changed},
                       {QStringLiteral("sentence"), s.sentence},
                       {QStringLiteral("cells"), cells}};
}

QString pointStateName(PointState state)
{
    switch (state) {
    case PointState::TooFew: return QStringLiteral("poucos");
    case PointState::Unchanged: return QStringLiteral("igual");
    case PointState::Added: return QStringLiteral("mais");
    case PointState::Removed: return QStringLiteral("menos");
    case PointState::NoClosedLoop: return QStringLiteral("sem malha fechada");
    }
    return {};
}

// The warm-up curve of the logs: the tune with only its changed points written.
int suggestWarmUp(const CommandLine &cl, const RecordedLogs &logs, const Settings &settings, const QString &output)
{
    WarmUpAccumulator acc(settings, tuneFacts(logs.tune));
    for (const logformat::Log &log : logs.logs) {
        acc.beginRun();
        for (const logformat::Row &r : log.rows)
            acc.add(r);
    }
    const WarmUpSuggestion s = correction::suggestWarmUp(acc, logs.tune, settings);
    try {
        MapFile::writeFile(output, mapfile::encodeLine(appliedWarmUp(logs.tune, s).fields()));
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, output + QStringLiteral(": ") + QString::fromUtf8(e.what())};
    }
    err(QStringLiteral("velto-cli: %1 registro(s), %2 linha(s), %3 usada(s) no aquecimento, mapa de referência %4\n")
            .arg(logs.paths.size())
            .arg(s.rows)
            .arg(s.used)
            .arg(logs.tunePath));
    if (!s.sentence.isEmpty())
        err(QStringLiteral("velto-cli: ") + s.sentence + u'\n');
    if (cl.isSet(QStringLiteral("json"))) {
        QJsonArray points;
        for (const WarmUpPoint &p : s.points)
            points.append(QJsonObject{{QStringLiteral("temperature"), p.temperature},
                                      {QStringLiteral("samples"), p.weight},
                                      {QStringLiteral("need"), p.need},
                                      {QStringLiteral("old"), p.oldText},
                                      {QStringLiteral("new"), p.newText},
                                      {QStringLiteral("state"), pointStateName(p.state)}});
        out(QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("logs"), QJsonArray::fromStringList(logs.paths)},
                                      {QStringLiteral("map"), logs.tunePath},
                                      {QStringLiteral("output"), output},
                                      {QStringLiteral("rows"), double(s.rows)},
                                      {QStringLiteral("used"), double(s.used)},
                                      {QStringLiteral("changed"), s.changed},
                                      {QStringLiteral("sentence"), s.sentence},
                                      {QStringLiteral("points"), points}})
                .toJson(QJsonDocument::Indented)));
        return Done;
    }
    // One line per point: temperature, samples, fitted need, old -> new or its state.
    for (const WarmUpPoint &p : s.points) {
        const bool changed = p.state == PointState::Added || p.state == PointState::Removed;
        out(QString::fromUtf8("%1 °C %2 %3% %4 %5\n")
                .arg(p.temperature)
                .arg(decimal(p.weight, 1), signedDecimal(p.need), p.oldText,
                     changed ? QStringLiteral("-> ") + p.newText : pointStateName(p.state)));
    }
    return Done;
}

// The logs recorded on the entry the module holds (else the latest): the correction is
// relative to the map they were recorded with.
QStringList logsOfCurrentEntry(history::Vehicle &vehicle)
{
    const std::optional<history::Entry> entry = onHistory([&]() -> std::optional<history::Entry> {
        if (const std::optional<QString> marked = vehicle.inModule())
            return vehicle.entry(*marked);
        return vehicle.latest();
    });
    if (!entry)
        throw Failure{FileOrConversion,
                      QStringLiteral("O histórico do veículo em %1 não tem entradas: não há registros "
                                     "dele. Nada foi gravado.")
                          .arg(vehicle.folder())};
    QStringList paths;
    for (const vehiclelogs::RecordedLog &log : vehiclelogs::list(vehicle.folder()))
        if (log.recordedOn(entry->commit))
            paths << log.path;
    if (paths.isEmpty())
        throw Failure{FileOrConversion,
                      QStringLiteral("Nenhum registro de %1 foi gravado com a entrada %2 (%3): grave um "
                                     "com velto-cli log --vehicle ou dê os registros. Nada foi gravado.")
                          .arg(vehicle.folder() + u'/' + history::logsFolderName, entry->id, entry->kind)};
    return paths;
}

} // namespace

int suggest(const QStringList &arguments)
{
    CommandLine cl(
        QStringLiteral(
            "suggest {REGISTRO.msl [REGISTRO.msl ...] | --vehicle PASTA} [--map MAPA.txt] -o NOVO.txt [--warmup] [--min-hits N] "
            "[--max-change P] [--min-temp C] [--min-rpm N] [--tps-move N] [--tps-window MS] [--cell-ms MS] "
            "[--probe-min MV] [--probe-max MV] [--dead-band P] [--min-own-share S] "
            "[--full-load-column N] [--lean-full-load] [--warming-rows] [--loop-off-rows] [--probe-delay MS] "
            "[--unsettled-rows] [--json]"),
        QStringLiteral(
            "Sugere o mapa de injeção a partir das correções da sonda (CorrCurto + CorrLongo) dos registros, "
            "relativo ao mapa com que foram gravados (REGISTRO-mapa.txt ao lado de cada um, ou --map). Grava "
            "esse mapa com as células corrigidas em NOVO.txt; os demais campos ficam byte a byte como estão. Na "
            "saída, uma linha por célula alterada ou marcada: célula (0 a 71, e0i a e71i), linha e coluna (contadas "
            "de 1), amostras, correção média, valor antigo -> novo (ou a marca \"plena: a sonda não mede\" ou "
            "\"dados de vizinhas\"). As contagens dos filtros vão para stderr. Registros gravados com mapas de "
            "injeção diferentes são recusados. Uma sonda comum (banda estreita) só diz rica ou pobre: na carga plena, "
            "onde o mapa é rico de propósito, nenhuma célula perde combustível sem --lean-full-load. Com --warmup, "
            "sugere em vez do mapa a curva \"Correção Ti\" (0 a 105 °C) e grava só esses pontos. Com --vehicle e sem "
            "REGISTRO, usa os registros da pasta registros/ do veículo gravados com a entrada atual (a marcada "
            "[no módulo], ou a mais nova)."));
    cl.add(QCommandLineOption(QStringLiteral("map"),
                              QStringLiteral("O mapa que o módulo tinha durante os registros (em vez de "
                                             "REGISTRO-mapa.txt); também é o mapa gravado em NOVO.txt."),
                              QStringLiteral("MAPA")));
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("O mapa a gravar."),
                              QStringLiteral("NOVO")));
    cl.add(QCommandLineOption(QStringLiteral("min-hits"),
                              QStringLiteral("Amostras (soma dos pesos) que uma célula precisa (padrão 20)."),
                              QStringLiteral("N")));
    const std::pair<const char *, const char *> more[] = {
        {"min-rpm", "RPM mínima (padrão 500)."},
        {"tps-move", "O TPS deve mover menos que isto (passos de 1023) em --tps-window (padrão 51)."},
        {"tps-window", "Tempo em ms em que o TPS deve ficar parado (padrão 500)."},
        {"cell-ms", "Tempo em ms na mesma célula antes de a linha contar (padrão 300)."},
        {"probe-min", "Sonda mínima em mV (padrão 50)."},
        {"probe-max", "Sonda máxima em mV (padrão 950)."},
        {"dead-band", "Faixa morta em %: correção média menor não muda a célula (padrão 2)."},
        {"min-own-share", "Parte própria mínima (0 a 1) para uma célula sem mudança contar como confirmada; "
                          "abaixo dela fica \"dados de vizinhas\" (padrão 0,5)."},
        {"probe-delay", "Atraso da sonda em ms: depois de mudar de célula, uma linha só conta quando a sonda, "
                        "vista esse tempo depois, cruzou o alvo da faixa (Lenta, Parcial, Plena) (padrão 200)."},
        {"full-load-column", "Primeira coluna de carga (1 a 8) da carga plena, onde a sonda não mede (padrão 8; 9: "
                             "nenhuma)."},
    };
    for (const auto &[name, help] : more)
        cl.add(QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help), QStringLiteral("N")));
    cl.add(QCommandLineOption(QStringLiteral("lean-full-load"),
                              QString::fromUtf8("Permite tirar combustível da carga plena nesta rodada.")));
    cl.add(QCommandLineOption(QStringLiteral("warming-rows"),
                              QString::fromUtf8("Usa também linhas com o motor aquecendo (CorrTemp fora do valor "
                                                "quente), eletroventilador ou ar-condicionado ligado.")));
    cl.add(QCommandLineOption(QStringLiteral("loop-off-rows"),
                              QString::fromUtf8("Usa também linhas em que a correção da sonda está desligada.")));
    cl.add(QCommandLineOption(QStringLiteral("unsettled-rows"),
                              QString::fromUtf8("Usa também linhas em que a sonda ainda não cruzou o alvo desde que "
                                                "o motor entrou na célula.")));
    cl.add(QCommandLineOption(QStringLiteral("warmup"),
                              QString::fromUtf8("Sugere a curva de aquecimento (Correção Ti) em vez do mapa.")));
    cl.add(QCommandLineOption(QStringLiteral("max-change"),
                              QStringLiteral("Mudança máxima por rodada, em % do valor antigo, até 25 (padrão 10)."),
                              QStringLiteral("P")));
    cl.add(QCommandLineOption(QStringLiteral("min-temp"),
                              QStringLiteral("Temperatura mínima do motor, °C (padrão 70; nunca abaixo da "
                                             "temperatura de ativação da sonda do mapa)."),
                              QStringLiteral("C")));
    cl.add(QCommandLineOption(QStringLiteral("json"), QStringLiteral("Saída em JSON.")));
    cl.add(vehicleOption());
    cl.parse(arguments, 0, -1);
    QStringList paths = cl.positional();
    if (paths.isEmpty()) {
        const std::unique_ptr<history::Vehicle> vehicle = openExistingVehicle(cl);
        if (!vehicle)
            cl.parse(arguments, -1); // without a vehicle, a log at least: the usual usage error
        paths = logsOfCurrentEntry(*vehicle);
    }
    const QString output = cl.required(QStringLiteral("output"));
    const Settings settings = settingsOf(cl);
    const std::optional<QString> mapPath =
        cl.isSet(QStringLiteral("map")) ? std::optional(cl.value(QStringLiteral("map"))) : std::nullopt;
    // The map a log was recorded with is its record: it is never replaced.
    for (const QString &p : paths)
        if (sameFile(output, Recorder::tunePath(p)) || sameFile(output, p))
            throw Failure{FileOrConversion,
                          QStringLiteral("%1 é o mapa com que %2 foi gravado (ou o próprio registro): escolha outro "
                                         "arquivo. Nada foi gravado.")
                              .arg(output, p)};

    RecordedLogs logs;
    try {
        logs = readLogs(paths, mapPath);
    } catch (const Refused &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
    if (cl.isSet(QStringLiteral("warmup")))
        return suggestWarmUp(cl, logs, settings, output);
    Analysis analysis;
    try {
        analysis = analyse(logs, settings);
    } catch (const Refused &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
    const Suggestion s = correction::suggest(analysis, logs.tune, settings);
    const Tune result = applied(logs.tune, s);
    try {
        MapFile::writeFile(output, mapfile::encodeLine(result.fields()));
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, output + QStringLiteral(": ") + QString::fromUtf8(e.what())};
    }

    err(counts(logs, analysis, settings));
    if (!s.sentence.isEmpty())
        err(QStringLiteral("velto-cli: ") + s.sentence + u'\n');
    if (cl.isSet(QStringLiteral("json"))) {
        out(QString::fromUtf8(
            QJsonDocument(json(logs, analysis, s, settings, output)).toJson(QJsonDocument::Indented)));
        return Done;
    }
    for (int k = 0; k < cellCount; ++k) {
        const CellSuggestion &c = s.cells[std::size_t(k)];
        if (c.state == CellState::Added || c.state == CellState::Removed)
            out(QStringLiteral("%1 %2 %3 %4 %5% %6 -> %7\n")
                    .arg(k)
                    .arg(k / 8 + 1)
                    .arg(k % 8 + 1)
                    .arg(decimal(c.hits, 1), signedDecimal(c.mean), c.oldText, c.newText));
        else if (!stateMark(c.state).isEmpty())
            out(QStringLiteral("%1 %2 %3 %4 %5% %6 %7\n")
                    .arg(k)
                    .arg(k / 8 + 1)
                    .arg(k % 8 + 1)
                    .arg(decimal(c.hits, 1), signedDecimal(c.mean), c.oldText, stateMark(c.state)));
    }
    return Done;
}

} // namespace cli
