#include "cli/commands.h"

#include "cli/cmd_cells.h"
#include "cli/cmd_history.h"
#include "cli/cmd_suggest.h"
#include "cli/commandline.h"
#include "cli/exitcodes.h"
#include "cli/headless.h"
#include "cli/steps.h"
#include "common/numtext.h"
#include "common/systemerror.h"
#include "config/configfields.h"
#include "core/controller.h"
#include "core/tunediff.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"
#include "serial/comport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <functional>

namespace cli {

void outBytes(const QByteArray &bytes)
{
    const bool written =
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) == std::size_t(bytes.size());
    if (std::fflush(stdout) != 0 || !written || std::ferror(stdout)) {
        const int error = errno;
        std::clearerr(stdout);
        throw Failure{FileOrConversion,
                      QStringLiteral("a saída padrão não pôde ser gravada: %1").arg(systemerror::text(error))};
    }
}

void out(const QString &text) { outBytes(text.toUtf8()); }

void err(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

QString exitCodeTable()
{
    return QStringLiteral("Códigos de saída:\n"
                          "  0  concluído\n"
                          "  1  diferenças encontradas (diff)\n"
                          "  2  uso incorreto (comando, opção ou argumento)\n"
                          "  3  porta ou módulo: a porta não abre, o módulo não responde, a porta se perdeu\n"
                          "  4  arquivo ou conversão: o arquivo não pode ser lido ou gravado, arquivo de mapa\n"
                          "     inválido, um campo que não converte\n"
                          "  5  a verificação após o envio encontrou diferença (write --verify)\n"
                          "  128+N  interrompido pelo sinal N (SIGINT 130, SIGTERM 143, SIGHUP 129): um envio para\n"
                          "     antes do comando de fim, uma leitura não grava nada; log termina com 0\n");
}

QCommandLineOption portOption()
{
    return QCommandLineOption(QStringLiteral("port"), QStringLiteral("A porta serial (/dev/ttyUSB0, ou ttyUSB0)."),
                              QStringLiteral("PORTA"));
}

void refuseExisting(const QStringList &paths, bool replace)
{
    if (replace)
        return;
    for (const QString &path : paths)
        if (QFileInfo::exists(path))
            throw Failure{FileOrConversion, QStringLiteral("%1 já existe: dê outro nome ou use --force para "
                                                           "substituí-lo. Nada foi gravado.")
                                                .arg(path)};
}

int log(const QStringList &arguments); // cmd_log.cpp

namespace {

const QString jsonDescription = QStringLiteral("Saída em JSON.");
const QString stdoutName = QStringLiteral("-");

// A field of a map file as a message names it: "campo 14 e5 (ignição linha 1 coluna 6)".
QString fieldName(int field)
{
    return QStringLiteral("campo %1 %2 (%3)")
        .arg(field)
        .arg(tunediff::fieldControl(field), tunediff::fieldLabel(field));
}

// A conversion error ("'abc' is not a valid integer value") with the file and the
// first field, in file order, that holds the text it names.
Failure conversionFailure(const QString &path, const Tune &tune, const QString &error)
{
    const qsizetype open = error.indexOf(u'\''), close = error.indexOf(u'\'', open + 1);
    const QString text = open >= 0 && close > open ? error.mid(open + 1, close - open - 1) : QString();
    const int field = close > open ? int(tune.fields().indexOf(text)) + 1 : 0;
    const QString place =
        field > 0 ? QStringLiteral("%1: %2: ").arg(path, fieldName(field)) : path + QStringLiteral(": ");
    return Failure{FileOrConversion, place + error.trimmed()};
}

// The text of a control of a set, the TPS limits as "tpsMin" and "tpsMax".
QString textOf(const Tune &tune, const QString &control)
{
    if (control == QLatin1String("tpsMin"))
        return QString::number(tune.tpsMin);
    if (control == QLatin1String("tpsMax"))
        return QString::number(tune.tpsMax);
    return tune.texts.value(mapfile::fieldControls().indexOf(control));
}

int fieldNumber(const QString &control)
{
    for (int field = 1; field <= mapfile::fieldCount; ++field)
        if (tunediff::fieldControl(field) == control)
            return field;
    return 0;
}

// What an upload of the set loaded from path sends, worked out before the port opens:
// the configuration page's field rules (when checkFields), then every conversion. A
// refusal names the file and the field and ends the command with 4.
// convert: the conversions of the upload (the window's core, or the set's own image).
UploadImage fileImage(const QString &path, const Tune &tune, bool checkFields,
                      const std::function<UploadImage()> &convert)
{
    try {
        if (checkFields) {
            const auto refused = configcheck::firstRefusal([&](const QString &c) { return textOf(tune, c); });
            if (refused)
                throw Failure{FileOrConversion,
                              QStringLiteral("%1: %2: %3")
                                  .arg(path, fieldName(fieldNumber(refused->control)),
                                       withSentence(refused->message, QStringLiteral("Nada foi enviado.")))};
        }
        return convert();
    } catch (const Failure &) {
        throw;
    } catch (const numtext::ConvertError &e) {
        // The command line names the file and the field itself.
        const int field = fieldNumber(e.control());
        if (field > 0)
            throw Failure{FileOrConversion,
                          QStringLiteral("%1: %2: %3").arg(path, fieldName(field), e.conversionMessage().trimmed())};
        throw conversionFailure(path, tune, e.conversionMessage());
    } catch (const std::exception &e) {
        throw conversionFailure(path, tune, QString::fromUtf8(e.what()));
    }
}

// Text for a file named by the user, or for standard output when it is "-".
void writeOutput(const QString &path, const QByteArray &bytes)
{
    if (path == stdoutName)
        outBytes(bytes);
    else
        onFile(path, [&] { MapFile::writeFile(path, bytes); });
}

QString hexBytes(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

void printJson(const QJsonValue &value)
{
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    out(QString::fromUtf8(doc.toJson(QJsonDocument::Indented)));
}

int ports(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("ports [--json]"),
                   QStringLiteral("Lista as portas seriais que podem ser abertas agora, como a lista de portas da "
                                  "janela, uma por linha."));
    cl.add(QCommandLineOption(QStringLiteral("json"), jsonDescription));
    cl.parse(arguments, 0);
    const QList<SerialPortInfo> list = listPorts();
    if (cl.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const SerialPortInfo &p : list)
            array.append(QJsonObject{{QStringLiteral("name"), p.path},
                                     {QStringLiteral("description"), p.description},
                                     {QStringLiteral("accessible"), p.accessible}});
        printJson(array);
    } else {
        for (const SerialPortInfo &p : list) {
            const QString text = portListText(p);
            out(text.isEmpty() ? p.path + u'\n' : p.path + QStringLiteral("\t") + text + u'\n');
        }
    }
    return Done;
}

int image(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("image MAPFILE [--json]"),
                   QStringLiteral("Mostra a imagem de 256 bytes que o envio do arquivo de mapa manda ao módulo: "
                                  "32 linhas \"NN: XX XX XX XX XX XX XX XX\" (bloco, bytes em hexadecimal)."));
    cl.add(QCommandLineOption(QStringLiteral("json"), jsonDescription));
    cl.parse(arguments, 1);
    const QString path = cl.positional().at(0);
    const Tune tune = onFile(path, [&] { return MapFile::readTune(path); });
    const UploadImage blocks = fileImage(path, tune, false, [&] { return tuneImage(tune); });
    if (cl.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (int n = 0; n < 32; ++n) {
            QJsonArray bytes;
            for (std::uint8_t b : blocks[std::size_t(n)])
                bytes.append(int(b));
            array.append(QJsonObject{{QStringLiteral("block"), n + 1}, {QStringLiteral("bytes"), bytes}});
        }
        printJson(QJsonObject{{QStringLiteral("file"), path}, {QStringLiteral("blocks"), array}});
    } else {
        const QByteArray all = imageBytes(blocks);
        for (int n = 0; n < 32; ++n)
            out(QStringLiteral("%1: %2\n").arg(n + 1, 2, 10, QChar(u'0')).arg(hexBytes(all.mid(8 * n, 8))));
    }
    return Done;
}

// One line per field: number, control, label, the text on each side.
QString fieldLines(const QList<tunediff::Difference> &differences, const QString &arrow)
{
    qsizetype controlWidth = 0, labelWidth = 0;
    for (const tunediff::Difference &d : differences) {
        controlWidth = std::max(controlWidth, d.control.size());
        labelWidth = std::max(labelWidth, d.label.size());
    }
    QString text;
    for (const tunediff::Difference &d : differences)
        text += QStringLiteral("%1  %2  %3  \"%4\" %5 \"%6\"\n")
                    .arg(d.field, 3)
                    .arg(d.control.leftJustified(controlWidth), d.label.leftJustified(labelWidth), d.a, arrow, d.b);
    return text;
}

int write(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("write MAPFILE --port PORTA [--verify]"),
                   QStringLiteral("Carrega o arquivo de mapa como \"&Carregar\" e o envia ao módulo como \"&Enviar  "
                                  "Dados\" (32 quadros, um a cada 50 ms, e o comando de fim). Nada é enviado se o "
                                  "arquivo não carrega, um campo não converte ou um campo não passa nas verificações "
                                  "da página de configuração (os máximos de Limite de RPM, Tempo de Carga e Avanço "
                                  "na Partida, a ordem do Cut Off) ou os limites do TPS saem da escala (código 4). "
                                  "Um sinal (SIGINT, SIGTERM, SIGHUP) para o envio antes do comando de fim: o "
                                  "módulo mantém o conjunto que tinha; a porta perdida no meio do envio também "
                                  "(código 3). Com --verify, lê o módulo de volta "
                                  "e compara a imagem que a tela lida enviaria com a enviada; cada campo cujos bytes "
                                  "diferem é listado (código 5). Com --vehicle, o envio completo é também uma "
                                  "entrada \"Enviado ao módulo\" do histórico do veículo, marcada \"no módulo\" "
                                  "(se a verificação lê outros bytes, a entrada \"Lido do módulo\" do que foi lido "
                                  "fica com a marca)."));
    cl.add(portOption());
    cl.add(QCommandLineOption(QStringLiteral("verify"),
                              QStringLiteral("Lê o módulo depois do envio e compara byte a byte.")));
    cl.add(vehicleOption());
    cl.parse(arguments, 1);
    const QString path = cl.positional().at(0);
    const QString port = cl.required(QStringLiteral("port"));
    // A folder that is not a vehicle history refuses before anything is sent.
    const std::unique_ptr<history::Vehicle> vehicle = openVehicle(cl);

    Headless run(port);
    MapFile &file = run.controller().mapFile();
    onFile(path, [&] { file.loadFrom(path); });
    const Tune sentTune = file.screenTune();
    // Everything converts before the port opens: a refused file sends nothing.
    const UploadImage planned = fileImage(path, sentTune, true, [&] { return uploadImage(run.controller().image()); });
    run.open();
    const QByteArray sent = run.upload();
    if (vehicle)
        recordInModule(*vehicle, history::kind::sent, sentTune, port);
    if (!cl.isSet(QStringLiteral("verify")))
        return Done;

    try {
        run.readBack();
    } catch (Failure &f) {
        if (run.linkLost())
            f.message = withSentence(f.message, QStringLiteral("O envio tinha terminado com o comando de fim; a "
                                                               "verificação não terminou."));
        throw;
    }
    const Tune backTune = file.screenTune();
    UploadImage back{};
    try {
        back = uploadImage(run.controller().image());
    } catch (const std::exception &e) {
        throw Failure{VerifyDiffers, QStringLiteral("verificação: a tela lida do módulo não pode ser enviada: %1")
                                         .arg(QString::fromUtf8(e.what()))};
    }
    const QByteArray backBytes = imageBytes(back);
    if (backBytes == sent)
        return Done;
    // The module holds what was read back, not what was sent.
    if (vehicle)
        recordInModule(*vehicle, history::kind::read, backTune, port);

    UploadImage sentBlocks = planned;
    for (int i = 0; i < 256; ++i)
        sentBlocks[std::size_t(i / 8)][std::size_t(i % 8)] = std::uint8_t(sent[i]);
    const QList<tunediff::Difference> fields = tunediff::differingFields(sentTune, sentBlocks, backTune, back);
    QString text = QStringLiteral("verificação: o módulo guardou outros bytes");
    if (!fields.isEmpty()) {
        text += QStringLiteral(" em %1 %2 (enviado -> lido):\n")
                    .arg(fields.size())
                    .arg(fields.size() == 1 ? QStringLiteral("campo") : QStringLiteral("campos"));
        text += fieldLines(fields, QStringLiteral("->"));
    } else {
        text += QStringLiteral(" (enviado -> lido):\n");
        for (int i = 0; i < 256; ++i)
            if (sent[i] != backBytes[i])
                text += QStringLiteral("  bloco %1 byte %2  %3 -> %4\n")
                            .arg(i / 8 + 1)
                            .arg(i % 8)
                            .arg(hexBytes(sent.mid(i, 1)), hexBytes(backBytes.mid(i, 1)));
    }
    text.chop(1);
    throw Failure{VerifyDiffers, text};
}

int read(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("read --port PORTA -o MAPFILE"),
                   QStringLiteral("Lê todos os dados do módulo como \"&Lêr  Dados\" e os grava no arquivo de mapa "
                                  "como \"&Salvar\". O arquivo só é gravado depois de uma leitura completa; um "
                                  "arquivo que já existe fica como estava se algo falha. Com -o -, o arquivo de mapa "
                                  "vai para a saída padrão. Com --vehicle, a leitura completa é também uma entrada "
                                  "\"Lido do módulo\" do histórico do veículo, marcada \"no módulo\"; -o pode "
                                  "faltar."));
    cl.add(portOption());
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("O arquivo de mapa a gravar (-: a saída padrão)."),
                              QStringLiteral("MAPFILE")));
    cl.add(vehicleOption());
    cl.parse(arguments, 0);
    const QString port = cl.required(QStringLiteral("port"));
    const std::unique_ptr<history::Vehicle> vehicle = openVehicle(cl);
    const QString path =
        vehicle && !cl.isSet(QStringLiteral("output")) ? QString() : cl.required(QStringLiteral("output"));

    Headless run(port);
    run.open();
    try {
        run.readBack();
    } catch (Failure &f) {
        f.message = withSentence(f.message, QStringLiteral("Nada foi gravado."));
        throw;
    }
    if (path == stdoutName)
        outBytes(run.controller().mapFile().screenBytes());
    else if (!path.isEmpty())
        onFile(path, [&] { run.controller().mapFile().saveTo(path); });
    if (vehicle)
        recordInModule(*vehicle, history::kind::read, run.controller().mapFile().screenTune(), port);
    return Done;
}

int diff(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("diff A B [--texts] [--json]"),
                   QStringLiteral("Compara dois arquivos de mapa campo a campo: uma linha por campo diferente com o "
                                  "número do campo, o controle, o rótulo ou a posição no mapa, o texto em A e o "
                                  "texto em B; mapas primeiro, depois configuração, depois TPS. Dois campos são "
                                  "iguais quando enviam os mesmos bytes ao módulo (\"4\" e \"4,0\", como "
                                  "write --verify compara); o Repouso do TPS, que não é enviado, é comparado como "
                                  "texto. Código 1 quando há diferenças."));
    cl.add(
        QCommandLineOption(QStringLiteral("texts"), QStringLiteral("Compara os textos dos campos, não os valores.")));
    cl.add(QCommandLineOption(QStringLiteral("json"), jsonDescription));
    cl.parse(arguments, 2);
    const QString pathA = cl.positional().at(0), pathB = cl.positional().at(1);
    const Tune a = onFile(pathA, [&] { return MapFile::readTune(pathA); });
    const Tune b = onFile(pathB, [&] { return MapFile::readTune(pathB); });
    return printDifferences(a, b, pathA, pathB, cl.isSet(QStringLiteral("texts")), cl.isSet(QStringLiteral("json")));
}

} // namespace

int printDifferences(const Tune &a, const Tune &b, const QString &pathA, const QString &pathB, bool texts, bool json)
{
    const QList<tunediff::Difference> differences = texts ? tunediff::compareTexts(a, b) : tunediff::compare(a, b);
    if (json) {
        QJsonArray array;
        for (const tunediff::Difference &d : differences)
            array.append(QJsonObject{{QStringLiteral("field"), d.field},
                                     {QStringLiteral("control"), d.control},
                                     {QStringLiteral("label"), d.label},
                                     {QStringLiteral("a"), d.a},
                                     {QStringLiteral("b"), d.b}});
        printJson(QJsonObject{
            {QStringLiteral("a"), pathA}, {QStringLiteral("b"), pathB}, {QStringLiteral("differences"), array}});
    } else {
        out(fieldLines(differences, QStringLiteral("->")));
    }
    return differences.isEmpty() ? Done : DifferencesFound;
}

namespace {

// How a spreadsheet reads the numbers: comma and decimal point, or (--br, as a
// spreadsheet set to Portuguese (Brazil) expects) semicolon and decimal comma.
struct CsvStyle {
    char separator = ',';
    char decimal = '.';
};

// A CSV field: quoted when it holds the separator, a quote or a line end.
QByteArray csvField(const QString &text, const CsvStyle &style)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(style.separator) && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    return '"' + bytes.replace('"', "\"\"") + '"';
}

// The channels the log holds leave their columns in the CSV; those it does not hold
// are left out (their zeros were never read).
QByteArray csvOf(const logformat::Log &log, const CsvStyle &style)
{
    QList<QStringList> marks(qsizetype(log.rows.size()));
    for (const logformat::Marker &m : log.markers)
        if (m.row < log.rows.size())
            marks[qsizetype(m.row)]
                << QStringLiteral("MARK %1 - %2").arg(m.number, 3, 10, QLatin1Char('0')).arg(m.text);
    QList<qsizetype> kept;
    QStringList names, units;
    for (qsizetype c = 0; c < logformat::channels().size(); ++c)
        if (!log.absent.contains(logformat::channels()[c])) {
            kept << c;
            names << logformat::channels()[c];
            units << logformat::units()[c];
        }
    const QByteArray sep(1, style.separator);
    QByteArray csv = names.join(QLatin1Char(style.separator)).toUtf8() + sep + "Marca\n";
    csv += units.join(QLatin1Char(style.separator)).toUtf8() + sep + '\n';
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        QByteArray line = logformat::row(log.rows[i].ms, log.rows[i].values);
        line.chop(1); // the line end
        if (kept.size() != logformat::channels().size()) {
            const QList<QByteArray> fields = line.split('\t');
            QByteArrayList held;
            for (qsizetype c : kept)
                held << fields.value(c);
            line = held.join('\t');
        }
        line.replace('.', style.decimal).replace('\t', style.separator);
        csv += line + sep + csvField(marks[qsizetype(i)].join(QStringLiteral("; ")), style) + '\n';
    }
    return csv;
}

int convert(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("convert REGISTRO.msl -o ARQUIVO.csv [--br]"),
                   QStringLiteral("Converte um registro em CSV: uma linha com os nomes dos canais e a coluna "
                                  "\"Marca\", uma com as unidades, depois uma linha por leitura, separadas por "
                                  "vírgula, com ponto decimal. Um marcador vai na coluna \"Marca\" da primeira "
                                  "leitura no seu instante ou depois. Para uma planilha em português (Brasil), que "
                                  "lê a vírgula como decimal, use --br: ponto e vírgula entre os campos e vírgula "
                                  "decimal; sem --br, para planilhas em inglês e para programas. Com -o -, o CSV vai "
                                  "para a saída padrão."));
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("O arquivo CSV a gravar (-: a saída padrão)."),
                              QStringLiteral("ARQUIVO")));
    cl.add(QCommandLineOption(QStringLiteral("br"),
                              QStringLiteral("Ponto e vírgula entre os campos e vírgula decimal (planilha em "
                                             "português).")));
    cl.parse(arguments, 1);
    const QString path = cl.positional().at(0);
    const QString output = cl.required(QStringLiteral("output"));
    const logformat::Log log = readLog(path);
    const CsvStyle style = cl.isSet(QStringLiteral("br")) ? CsvStyle{';', ','} : CsvStyle{};
    writeOutput(output, csvOf(log, style));
    if (!log.absent.isEmpty())
        err(QStringLiteral("velto-cli: %1: o registro não tem %2 %3: %4 fora do CSV.\n")
                .arg(path, log.absent.size() == 1 ? QStringLiteral("o canal") : QStringLiteral("os canais"),
                     log.absent.join(QStringLiteral(", ")),
                     log.absent.size() == 1 ? QStringLiteral("ficou") : QStringLiteral("ficaram")));
    return Done;
}

} // namespace

logformat::Log readLog(const QString &path)
{
    logformat::Log log = onFile(path, [&] { return logformat::read(path); });
    if (log.badLines > 0)
        err(QStringLiteral("velto-cli: %1: %2 linha(s) ignorada(s); a primeira, linha %3: %4\n")
                .arg(path)
                .arg(log.badLines)
                .arg(log.firstBadLine)
                .arg(log.firstBadReason));
    return log;
}

const QList<Subcommand> &subcommands()
{
    static const QList<Subcommand> table{
        {QStringLiteral("ports"), QStringLiteral("lista as portas seriais"), &ports},
        {QStringLiteral("image"), QStringLiteral("mostra a imagem que o envio de um arquivo de mapa manda"), &image},
        {QStringLiteral("write"), QStringLiteral("envia um arquivo de mapa ao módulo (--verify: e confere)"), &write},
        {QStringLiteral("read"), QStringLiteral("lê o módulo e grava um arquivo de mapa"), &read},
        {QStringLiteral("diff"), QStringLiteral("compara dois arquivos de mapa campo a campo"), &diff},
        {QStringLiteral("log"), QStringLiteral("grava o registro da rodada com o scanner"), &log},
        {QStringLiteral("convert"), QStringLiteral("converte um registro em CSV"), &convert},
        {QStringLiteral("cells"), QStringLiteral("um canal do registro por célula do mapa"), &cells},
        {QStringLiteral("suggest"), QStringLiteral("sugere o mapa de injeção pelas correções da sonda"), &suggest},
        {QStringLiteral("history"),
         QStringLiteral("o histórico de ajustes de um veículo (list, show, diff, restore, note, tag)"), &history},
    };
    return table;
}

QString overview()
{
    QString text = QStringLiteral("Uso: velto-cli COMANDO [opções]\n\n"
                                  "Envia, lê e compara parâmetros do módulo Velto sem a janela, com o mesmo código "
                                  "da janela.\n\nComandos:\n");
    for (const Subcommand &s : subcommands())
        text += QStringLiteral("  %1  %2\n").arg(s.name.leftJustified(7), s.summary);
    return text + QStringLiteral("\nvelto-cli COMANDO --help mostra as opções de cada comando.\n\n") + exitCodeTable();
}

} // namespace cli
