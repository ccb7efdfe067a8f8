// velto-cli log: the live run recorded with the set the module holds beside it.
#include "cli/cmd_history.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/headless.h"
#include "cli/steps.h"
#include "common/systemerror.h"
#include "core/controller.h"
#include "datalog/recorder.h"
#include "datalog/vehiclelogs.h"
#include "files/mapfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace cli {

namespace {

// Records under names of its own beside the log, and puts the log and its
// "-mapa.txt" in place only once the first row is in: a run that fails before
// leaves the files that were there byte for byte, and no half-made ones.
class LogPlacement {
public:
    explicit LogPlacement(const QString &path) : path_(path)
    {
        const QFileInfo info(path);
        temp_ = info.dir().filePath(
            QStringLiteral(".%1.gravando-%2.msl").arg(info.fileName()).arg(QCoreApplication::applicationPid()));
    }
    ~LogPlacement()
    {
        if (!placed_) {
            QFile::remove(temp_);
            QFile::remove(Recorder::tunePath(temp_));
        }
    }
    LogPlacement(const LogPlacement &) = delete;
    LogPlacement &operator=(const LogPlacement &) = delete;

    QString recordingPath() const { return temp_; }
    void place()
    {
        moveInto(Recorder::tunePath(temp_), Recorder::tunePath(path_));
        moveInto(temp_, path_);
        placed_ = true;
    }

private:
    static void moveInto(const QString &from, const QString &to)
    {
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
            throw Failure{FileOrConversion,
                          QStringLiteral("%1 não pôde ser gravado: %2").arg(to, systemerror::text(errno))};
    }

    QString path_, temp_;
    bool placed_ = false;
};

int seconds(const CommandLine &cl, const QString &option)
{
    bool ok = false;
    const int n = cl.value(option).toInt(&ok);
    if (!ok || n < 0)
        throw Failure{
            Usage,
            QStringLiteral("--%1 espera um número inteiro de segundos, não \"%2\"").arg(option, cl.value(option))};
    return n;
}

// The set the log is made with: what the module holds, read back as `read` does,
// unless the user gave the map file it holds (already on screen).
void readModuleSet(Headless &run)
{
    try {
        run.readBack();
    } catch (Failure &f) {
        f.message = withSentence(f.message, QStringLiteral("Nada foi gravado."));
        throw;
    }
}

} // namespace

int log(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("log --port PORTA -o ARQUIVO.msl [--seconds N] [--wait S] [--map MAPFILE] [--force] "
                                  "[--vehicle PASTA]"),
                   QStringLiteral("Lê os dados do módulo como \"&Lêr  Dados\", ativa o scanner e grava o registro "
                                  "da rodada (.msl) com o conjunto lido ao lado (ARQUIVO-mapa.txt), até N "
                                  "segundos ou até SIGINT, SIGTERM ou SIGHUP (Ctrl+C, ou a sessão que cai); então "
                                  "desativa o scanner e fecha o arquivo inteiro. Com --map, não lê o módulo: o "
                                  "arquivo de mapa dado é o que o módulo tem. Os dois arquivos só tomam o lugar "
                                  "de outros depois da primeira leitura gravada; se algo falha antes, os que "
                                  "estavam lá ficam como estavam. Um registro ou mapa que já existe só é "
                                  "substituído com --force. Se a porta se perde (o cabo sai), o registro "
                                  "continua no mesmo arquivo com as marcas \"Conexão perdida\" e \"Reconectado\": "
                                  "a porta é aberta de novo quando o aparelho volta, o módulo é lido e o scanner "
                                  "ativado outra vez; se não volta em S segundos, o registro é fechado inteiro "
                                  "(código 3). Com --vehicle, o conjunto lido é uma entrada do histórico do "
                                  "veículo (marcada [no módulo]; com --map, a do arquivo de mapa, sem a marca), "
                                  "o cabeçalho do registro a nomeia e, sem -o, o registro vai para a pasta "
                                  "registros/ do veículo (o caminho é escrito na saída)."));
    cl.add(portOption());
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("O registro a gravar."),
                              QStringLiteral("ARQUIVO")));
    cl.add(QCommandLineOption(QStringLiteral("seconds"), QStringLiteral("Grava por N segundos (sem limite: 0)."),
                              QStringLiteral("N"), QStringLiteral("0")));
    cl.add(QCommandLineOption(QStringLiteral("wait"),
                              QStringLiteral("Espera a porta perdida voltar por S segundos (padrão: 30)."),
                              QStringLiteral("S"), QStringLiteral("30")));
    cl.add(QCommandLineOption(QStringLiteral("map"),
                              QStringLiteral("O arquivo de mapa que o módulo tem (sem ler o módulo)."),
                              QStringLiteral("MAPFILE")));
    cl.add(QCommandLineOption(QStringLiteral("force"),
                              QStringLiteral("Substitui um registro ou um ARQUIVO-mapa.txt que já existe.")));
    cl.add(vehicleOption());
    cl.parse(arguments, 0);
    const QString port = cl.required(QStringLiteral("port"));
    // A folder that is not a vehicle history refuses before the port is opened.
    const std::unique_ptr<history::Vehicle> vehicle = openVehicle(cl);
    const bool inVehicle = vehicle && !cl.isSet(QStringLiteral("output"));
    const QString path = inVehicle ? onHistory([&] { return vehiclelogs::newLogPath(*vehicle); })
                                   : cl.required(QStringLiteral("output"));
    const int limit = seconds(cl, QStringLiteral("seconds"));
    const int wait = seconds(cl, QStringLiteral("wait"));
    const QString mapPath = cl.value(QStringLiteral("map"));
    refuseExisting({path, Recorder::tunePath(path)}, cl.isSet(QStringLiteral("force")));

    Headless run(port);
    if (!mapPath.isEmpty())
        onFile(mapPath, [&] { run.controller().mapFile().loadFrom(mapPath); });
    run.open();
    if (mapPath.isEmpty())
        readModuleSet(run);
    // The entry the log is recorded with: the set read back (what the module holds), or
    // the map file the user says it holds.
    QString entry;
    if (vehicle && mapPath.isEmpty())
        entry = recordInModule(*vehicle, history::kind::read, run.controller().mapFile().screenTune(), port).commit;
    else if (vehicle)
        entry = onHistory([&] {
                    return vehicle->record(history::kind::loaded, run.controller().mapFile().screenTune(),
                                           TCustomComPort::devicePath(port));
                }).commit;
    LogPlacement placement(path);
    run.record(
        placement.recordingPath(), limit, wait, [&] { placement.place(); }, entry);
    if (inVehicle)
        out(path + u'\n');
    return Done;
}

} // namespace cli
