#include "cli/commandline.h"

#include "cli/commands.h"
#include "cli/exitcodes.h"

#include <QCoreApplication>
#include <cstdlib>

namespace cli {

namespace {

[[noreturn]] void usageError(const QString &usage, const QString &problem)
{
    throw Failure{Usage, problem + QStringLiteral("\nUso: velto-cli ") + usage +
                             QStringLiteral("\n(velto-cli --help mostra os comandos)")};
}

// What Qt's parser reports, in the program's own words where it is one of the two
// usual mistakes.
QString problemText(const QCommandLineParser &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("opção desconhecida: %1%2")
            .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), unknown.first());
    QString text = parser.errorText();
    const QString missing = QStringLiteral("Missing value after '");
    if (text.startsWith(missing))
        return QStringLiteral("falta o valor de %1").arg(text.mid(missing.size()).chopped(2));
    return text;
}

// Words wrapped at 80 columns; a double blank (as in "&Enviar  Dados") never breaks.
QString wrapped(const QString &text)
{
    const QChar glue(0x1F);
    QString out, line;
    for (QString word : QString(text).replace(QStringLiteral("  "), QString(2, glue)).split(u' ')) {
        word.replace(glue, u' ');
        if (!line.isEmpty() && line.size() + 1 + word.size() > 80) {
            out += line + u'\n';
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

} // namespace

CommandLine::CommandLine(const QString &usage, const QString &description) : usage_(usage), description_(description)
{
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    add(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Mostra esta ajuda.")));
    add(QCommandLineOption(QStringLiteral("version"), QStringLiteral("Mostra a versão.")));
}

void CommandLine::add(const QCommandLineOption &option)
{
    parser_.addOption(option);
    options_.append(option);
}

QString CommandLine::helpText() const
{
    QString text = QStringLiteral("Uso: velto-cli %1\n\n%2\n\nOpções:\n").arg(usage_, wrapped(description_));
    QList<QPair<QString, QString>> rows;
    qsizetype width = 0;
    for (const QCommandLineOption &o : options_) {
        QStringList names;
        for (const QString &n : o.names())
            names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        QString left = names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            left += u' ' + o.valueName();
        width = std::max(width, left.size());
        rows.append({left, o.description()});
    }
    for (const auto &[left, description] : rows)
        text += QStringLiteral("  ") + left.leftJustified(width + 2) + description + u'\n';
    return text + u'\n' + exitCodeTable();
}

void CommandLine::parse(const QStringList &arguments, int positionals)
{
    parse(arguments, std::abs(positionals), positionals >= 0 ? positionals : -1);
}

void CommandLine::parse(const QStringList &arguments, int fewest, int most)
{
    if (!parser_.parse(QStringList{QStringLiteral("velto-cli")} + arguments))
        usageError(usage_, problemText(parser_));
    if (parser_.isSet(QStringLiteral("help"))) {
        out(helpText());
        throw Failure{Done, {}};
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        out(QStringLiteral("velto-cli %1\n").arg(QCoreApplication::applicationVersion()));
        throw Failure{Done, {}};
    }
    const qsizetype given = parser_.positionalArguments().size();
    if (given < fewest)
        usageError(usage_, QStringLiteral("faltam argumentos"));
    if (most >= 0 && given > most)
        usageError(usage_, QStringLiteral("argumento a mais: %1").arg(parser_.positionalArguments().value(most)));
}

QString CommandLine::required(const QString &name) const
{
    if (!parser_.isSet(name) || parser_.value(name).isEmpty())
        usageError(usage_, QStringLiteral("falta a opção --%1").arg(name));
    return parser_.value(name);
}

} // namespace cli
