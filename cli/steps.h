#pragma once
// Steps the subcommands share: the --port option, and the wrappers that turn what a
// step throws into the command's exit code with the file's name in front.
#include "cli/exitcodes.h"
#include "common/systemerror.h"
#include "files/mapfile.h"
#include "serial/comport.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <exception>

namespace cli {

QCommandLineOption portOption();

// A step on a file: what it throws ends the command with 4, the file's name in front.
template <typename F> auto onFile(const QString &path, F step)
{
    try {
        return step();
    } catch (const Failure &) {
        throw;
    } catch (const MapFileIoError &e) {
        // The map file's own text, then the system's error in Portuguese.
        throw Failure{FileOrConversion,
                      QStringLiteral("%1: %2 (%3)")
                          .arg(path, QString::fromUtf8(e.what()).trimmed(), systemerror::text(e.error()))};
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, path + QStringLiteral(": ") + systemerror::failureText(e).trimmed()};
    }
}

// Output files that are there already: refused (4) unless replacing was asked for.
void refuseExisting(const QStringList &paths, bool replace);

} // namespace cli
