#pragma once
// velto-cli history: a vehicle's entries, listed, shown, compared, restored, noted and
// tagged; and the vehicle that read and write make their entries in.
#include "cli/exitcodes.h"
#include "history/vehicle.h"

#include <QCommandLineOption>
#include <QStringList>
#include <memory>

namespace cli {

class CommandLine;

int history(const QStringList &arguments);

// A step on the history: what it throws ends the command with 4, its message as it is.
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

// --vehicle PASTA.
QCommandLineOption vehicleOption();
// The vehicle that --vehicle (or else VELTO_VEHICLE) names, opened (made when it does not
// exist); null when neither names one. A folder that is not a history ends the command
// with 4; what opening repaired is told on stderr.
std::unique_ptr<history::Vehicle> openVehicle(const CommandLine &cl);
// The same for a vehicle that must exist already (a command that only reads it).
std::unique_ptr<history::Vehicle> openExistingVehicle(const CommandLine &cl);
// An entry of what the module now holds, marked "no módulo"; a failure ends the command
// with 4, saying that the transfer itself was done.
history::Entry recordInModule(history::Vehicle &vehicle, const QString &kind, const Tune &tune, const QString &port);

} // namespace cli
