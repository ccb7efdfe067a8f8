// velto-cli: the controller of the window without a window, for scripts, backups and
// the workshop bench.
#include "cli/commands.h"
#include "cli/exitcodes.h"
#include "session/signalwatch.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velto-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTO_VERSION));
    using namespace cli;
    // A signal ends the command as a failure does, through the same clean-up: an upload
    // stops before its end command, a log is closed whole, the port is released.
    const SignalWatch watch(&app, {SIGINT, SIGTERM, SIGHUP}, [](int) {});

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString first = arguments.value(0);
    try {
        if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
            out(overview());
            return Done;
        }
        if (first == QLatin1String("--version")) {
            out(QStringLiteral("velto-cli %1\n").arg(QCoreApplication::applicationVersion()));
            return Done;
        }
        if (first.isEmpty())
            throw Failure{Usage, QStringLiteral("falta o comando\n") + overview()};
        for (const Subcommand &s : subcommands())
            if (s.name == first)
                return s.run(arguments.mid(1));
        throw Failure{Usage,
                      QStringLiteral("comando desconhecido: %1\n(velto-cli --help mostra os comandos)").arg(first)};
    } catch (const Failure &f) {
        if (!f.message.isEmpty())
            err(QStringLiteral("velto-cli: ") + f.message + u'\n');
        return f.code;
    } catch (const std::exception &e) {
        err(QStringLiteral("velto-cli: ") + QString::fromUtf8(e.what()) + u'\n');
        return FileOrConversion;
    }
}
