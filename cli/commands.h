#pragma once
// The subcommands of velto-cli. Adding one is one entry in subcommands().
#include "datalog/logformat.h"
#include "files/mapfile.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

struct Subcommand {
    QString name;
    QString summary; // one line for the overview
    // arguments: everything after the subcommand's name. Returns the exit code or
    // throws Failure.
    int (*run)(const QStringList &arguments);
};

const QList<Subcommand> &subcommands();

// The overview of --help without a subcommand.
QString overview();

// A log read as the window reads it, the skipped lines told on stderr; a log that
// cannot be read ends the command with 4.
logformat::Log readLog(const QString &path);

// The field differences of two sets, as diff prints them (names: what the sets are
// called in the JSON); returns 1 when there are any, else 0.
int printDifferences(const Tune &a, const Tune &b, const QString &nameA, const QString &nameB, bool texts, bool json);

// Text out, as UTF-8: data on stdout, messages on stderr.
void outBytes(const QByteArray &bytes);
void out(const QString &text);
void err(const QString &text);

} // namespace cli
