#include "cli/cmd_suggest.h"

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "common/numtext.h"
#include "datalog/recorder.h"
#include "files/mapfile.h"
#include "tuning/correction.h"
#include "tuning/recordedlogs.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

using namespace correction;

QString decimal(double value, int decimals) { return QString::number(value, 'f', decimals).replace(u'.', u','); }

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
        text += QStringLiteral("  %1  %2\n")
                    .arg(a.rejected[std::size_t(f)], 9)
                    .arg(filterText(Filter(f), s, lambdaTemp));
    return text;
}

QString stateName(CellState state)
{
    switch (state) {
    case CellState::TooFewHits:
        return QStringLiteral("poucos");
    case CellState::Unchanged:
        return QStringLiteral("igual");
    case CellState::Added:
        return QStringLiteral("mais");
    case CellState::Removed:
        return QStringLiteral("menos");
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
                                 {QStringLiteral("old"), c.oldText},
                                 {QStringLiteral("new"), c.newText},
                                 {QStringLiteral("state"), stateName(c.state)}});
    }
    for (int f = 0; f < FilterCount; ++f)
        rejected.append(QJsonObject{{QStringLiteral("filter"), filterText(Filter(f), settings, lambdaTemperature(logs.tune))},
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

} // namespace

int suggest(const QStringList &arguments)
{
    CommandLine cl(
        QStringLiteral("suggest REGISTRO.msl [REGISTRO.msl ...] [--map MAPA.txt] -o NOVO.txt [--min-hits N] "
                       "[--max-change P] [--min-temp C] [--json]"),
        QStringLiteral(
            "Sugere o mapa de injeção a partir das correções da sonda (CorrCurto + CorrLongo) dos registros, "
            "relativo ao mapa com que foram gravados (REGISTRO-mapa.txt ao lado de cada um, ou --map). Grava "
            "esse mapa com as células corrigidas em NOVO.txt; os demais campos ficam byte a byte como estão. Na "
            "saída, uma linha por célula alterada: célula (0 a 71, e0i a e71i), linha e coluna (contadas de 1), "
            "acertos, correção média, valor antigo -> novo. As contagens dos filtros vão para stderr. Registros "
            "gravados com mapas de injeção diferentes são recusados."));
    cl.add(QCommandLineOption(QStringLiteral("map"),
                              QStringLiteral("O mapa que o módulo tinha durante os registros (em vez de "
                                             "REGISTRO-mapa.txt); também é o mapa gravado em NOVO.txt."),
                              QStringLiteral("MAPA")));
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("O mapa a gravar."),
                              QStringLiteral("NOVO")));
    cl.add(QCommandLineOption(QStringLiteral("min-hits"),
                              QStringLiteral("Acertos (soma dos pesos) que uma célula precisa (padrão 20)."),
                              QStringLiteral("N")));
    cl.add(QCommandLineOption(QStringLiteral("max-change"),
                              QStringLiteral("Mudança máxima por rodada, em % do valor antigo, até 25 (padrão 10)."),
                              QStringLiteral("P")));
    cl.add(QCommandLineOption(QStringLiteral("min-temp"),
                              QStringLiteral("Temperatura mínima do motor, °C (padrão 70; nunca abaixo da "
                                             "temperatura de ativação da sonda do mapa)."),
                              QStringLiteral("C")));
    cl.add(QCommandLineOption(QStringLiteral("json"), QStringLiteral("Saída em JSON.")));
    cl.parse(arguments, -1);
    const QStringList paths = cl.positional();
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
    const Analysis analysis = analyse(logs, settings);
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
        out(QString::fromUtf8(QJsonDocument(json(logs, analysis, s, settings, output)).toJson(QJsonDocument::Indented)));
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
    }
    return Done;
}

} // namespace cli
