#include "cli/cmd_cells.h"

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "datalog/logcolumns.h"

namespace cli {

namespace {

// A name of the file's channels; the list of them when the name is none of them.
int channelArgument(const QString &name)
{
    const int channel = logview::channelIndex(name);
    if (channel < 0)
        throw Failure{Usage, QStringLiteral("canal desconhecido \"%1\"; os canais são: %2")
                                 .arg(name, logformat::channels().join(QStringLiteral(", ")))};
    return channel;
}

// Strings in JSON need no escaping here: channel and statistic names are plain ASCII.
QString json(const logview::CellTable &table, logview::CellStat stat, int channel)
{
    QStringList cells;
    for (int k = 0; k < 72; ++k) {
        const QString text = logview::cellText(table.value(k, stat), stat, channel);
        cells << (text == QLatin1String("-") ? QStringLiteral("null") : text);
    }
    return QStringLiteral("{\"channel\":\"%1\",\"stat\":\"%2\",\"cells\":[%3]}\n")
        .arg(logformat::channels()[channel], logview::statName(stat), cells.join(u','));
}

QString lines(const logview::CellTable &table, logview::CellStat stat, int channel)
{
    QString text;
    for (int row = 0; row < 9; ++row) {
        QStringList values;
        for (int column = 0; column < 8; ++column)
            values << logview::cellText(table.value(8 * row + column, stat), stat, channel);
        text += values.join(u'\t') + u'\n';
    }
    return text;
}

} // namespace

int cells(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("cells REGISTRO.msl CANAL [--stat count|mean|min|max] [--json]"),
                   QStringLiteral("Mostra um canal do registro por célula do mapa: 9 linhas (a linha 0 primeiro) "
                                  "de 8 valores separados por tabulação, com ponto decimal; \"-\" numa célula sem "
                                  "leituras. Uma leitura conta para a célula base da sua posição, como o scanner "
                                  "a marca (linha = LinhaRPM div 6, coluna = Carga div 6)."));
    cl.add(QCommandLineOption(QStringLiteral("stat"),
                              QStringLiteral("count (amostras), mean (média, 2 decimais), min ou max."),
                              QStringLiteral("ESTATÍSTICA"), QStringLiteral("count")));
    cl.add(QCommandLineOption(QStringLiteral("json"),
                              QStringLiteral("Saída em JSON: {\"channel\", \"stat\", \"cells\": 72 números ou "
                                             "null}.")));
    cl.parse(arguments, 2);
    const QString path = cl.positional().at(0);
    const int channel = channelArgument(cl.positional().at(1));
    logview::CellStat stat;
    if (!logview::parseStat(cl.value(QStringLiteral("stat")), stat))
        throw Failure{
            Usage,
            QStringLiteral("--stat espera count, mean, min ou max, não \"%1\"").arg(cl.value(QStringLiteral("stat")))};
    const logformat::Log log = readLog(path);
    if (log.absent.contains(logformat::channels()[channel]))
        throw Failure{FileOrConversion,
                      QStringLiteral("%1: o registro não tem o canal %2").arg(path, logformat::channels()[channel])};
    const logview::LogColumns columns(log);
    if (!columns.missingPositions().isEmpty())
        throw Failure{FileOrConversion,
                      QStringLiteral("%1: %2.").arg(path, logview::noCellsReason(columns.missingPositions()))};
    const logview::CellTable table = logview::cellTable(columns, channel, 0, columns.size());
    out(cl.isSet(QStringLiteral("json")) ? json(table, stat, channel) : lines(table, stat, channel));
    return Done;
}

} // namespace cli
