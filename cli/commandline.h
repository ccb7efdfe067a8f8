#pragma once
// The options of one subcommand over QCommandLineParser, with --help and --version and
// a help text of the program's own.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

class CommandLine {
public:
    // usage: what follows the program's name ("write MAPFILE --port PORTA [--verify]").
    CommandLine(const QString &usage, const QString &description);
    void add(const QCommandLineOption &option);
    // Parses arguments (without the program's name). --help and --version print and
    // end with 0; an unknown option, a missing value or a count of positional
    // arguments other than `positionals` ends with 2 (Failure); a negative count asks
    // for at least -positionals of them.
    void parse(const QStringList &arguments, int positionals);
    // The same with from fewest to most positional arguments (most < 0: no limit).
    void parse(const QStringList &arguments, int fewest, int most);
    QString helpText() const;

    bool isSet(const QString &name) const { return parser_.isSet(name); }
    QString value(const QString &name) const { return parser_.value(name); }
    QStringList positional() const { return parser_.positionalArguments(); }
    // A required option: ends with 2 when it is missing.
    QString required(const QString &name) const;

private:
    QString usage_, description_;
    QCommandLineParser parser_;
    QList<QCommandLineOption> options_;
};

} // namespace cli
