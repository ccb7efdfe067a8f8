#include "cli/commands.h"

#include "cli/cmd_suggest.h"

#include "cli/commandline.h"
#include "cli/exitcodes.h"
#include "cli/headless.h"
#include "core/controller.h"
#include "core/offlinecore.h"
#include "core/tunediff.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "serial/comport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace cli {

void out(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

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
                          "  5  a verificação após o envio encontrou diferença (write --verify)\n");
}

namespace {

const QString jsonDescription = QStringLiteral("Saída em JSON.");

QCommandLineOption portOption()
{
    return QCommandLineOption(QStringLiteral("port"), QStringLiteral("A porta serial (/dev/ttyUSB0, ou ttyUSB0)."),
                              QStringLiteral("PORTA"));
}

// A step on a file: what it throws ends the command with 4, the file's name in front.
template <typename F> auto onFile(const QString &path, F step)
{
    try {
        return step();
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, path + QStringLiteral(": ") + QString::fromUtf8(e.what())};
    }
}

// A conversion of the screen: what it throws ends the command with 4.
template <typename F> auto converting(F step)
{
    try {
        return step();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, QString::fromUtf8(e.what())};
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

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
    OfflineCore core;
    onFile(path, [&] { core.controller().mapFile().loadFrom(path); });
    const UploadImage blocks = converting([&] { return uploadImage(core.controller().image()); });
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
                                  "arquivo não carrega ou um campo não converte. Com --verify, lê o módulo de volta "
                                  "e compara a imagem que a tela lida enviaria com a enviada; cada campo cujos bytes "
                                  "diferem é listado (código 5)."));
    cl.add(portOption());
    cl.add(QCommandLineOption(QStringLiteral("verify"),
                              QStringLiteral("Lê o módulo depois do envio e compara byte a byte.")));
    cl.parse(arguments, 1);
    const QString path = cl.positional().at(0);
    const QString port = cl.required(QStringLiteral("port"));

    Headless run(port);
    MapFile &file = run.controller().mapFile();
    onFile(path, [&] { file.loadFrom(path); });
    const Tune sentTune = file.screenTune();
    // Everything converts before the port opens: a refused file sends nothing.
    const UploadImage planned = converting([&] { return uploadImage(run.controller().image()); });
    run.open();
    const QByteArray sent = run.upload();
    if (!cl.isSet(QStringLiteral("verify")))
        return Done;

    run.readBack();
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

    UploadImage sentBlocks = planned;
    for (int i = 0; i < 256; ++i)
        sentBlocks[std::size_t(i / 8)][std::size_t(i % 8)] = std::uint8_t(sent[i]);
    const QList<tunediff::Difference> fields = differingFields(sentTune, sentBlocks, backTune, back);
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
                                  "arquivo que já existe fica como estava se algo falha."));
    cl.add(portOption());
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("O arquivo de mapa a gravar."), QStringLiteral("MAPFILE")));
    cl.parse(arguments, 0);
    const QString port = cl.required(QStringLiteral("port"));
    const QString path = cl.required(QStringLiteral("output"));

    Headless run(port);
    run.open();
    try {
        run.readBack();
    } catch (Failure &f) {
        f.message += f.message.endsWith(u'.') ? QStringLiteral(" Nada foi gravado.") : QStringLiteral(". Nada foi gravado.");
        throw;
    }
    onFile(path, [&] { run.controller().mapFile().saveTo(path); });
    return Done;
}

int diff(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("diff A B [--json]"),
                   QStringLiteral("Compara dois arquivos de mapa campo a campo: uma linha por campo diferente com o "
                                  "número do campo, o controle, o rótulo ou a posição no mapa, o texto em A e o "
                                  "texto em B; mapas primeiro, depois configuração, depois TPS. Código 1 quando há "
                                  "diferenças."));
    cl.add(QCommandLineOption(QStringLiteral("json"), jsonDescription));
    cl.parse(arguments, 2);
    const QString pathA = cl.positional().at(0), pathB = cl.positional().at(1);
    const Tune a = onFile(pathA, [&] { return MapFile::readTune(pathA); });
    const Tune b = onFile(pathB, [&] { return MapFile::readTune(pathB); });
    const QList<tunediff::Difference> differences = tunediff::compare(a, b);
    if (cl.isSet(QStringLiteral("json"))) {
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

std::atomic<bool> interrupted{false};

void onSignal(int) { interrupted = true; }

int log(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("log --port PORTA -o ARQUIVO.msl [--seconds N]"),
                   QStringLiteral("Ativa o scanner e grava o registro da rodada (.msl), com o mapa da tela ao lado "
                                  "(ARQUIVO-mapa.txt), até N segundos ou até SIGINT/SIGTERM (Ctrl+C); então "
                                  "desativa o scanner e fecha o arquivo inteiro."));
    cl.add(portOption());
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("O registro a gravar."),
                              QStringLiteral("ARQUIVO")));
    cl.add(QCommandLineOption(QStringLiteral("seconds"), QStringLiteral("Grava por N segundos (sem limite: 0)."),
                              QStringLiteral("N"), QStringLiteral("0")));
    cl.parse(arguments, 0);
    const QString port = cl.required(QStringLiteral("port"));
    const QString path = cl.required(QStringLiteral("output"));
    bool ok = false;
    const int seconds = cl.value(QStringLiteral("seconds")).toInt(&ok);
    if (!ok || seconds < 0)
        throw Failure{Usage, QStringLiteral("--seconds espera um número inteiro de segundos, não \"%1\"")
                                 .arg(cl.value(QStringLiteral("seconds")))};

    Headless run(port);
    run.open();
    interrupted = false;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    run.record(path, seconds, [] { return interrupted.load(); });
    return Done;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    return '"' + bytes.replace('"', "\"\"") + '"';
}

int convert(const QStringList &arguments)
{
    CommandLine cl(QStringLiteral("convert REGISTRO.msl -o ARQUIVO.csv"),
                   QStringLiteral("Converte um registro em CSV: uma linha com os nomes dos canais e a coluna "
                                  "\"Marca\", uma com as unidades, depois uma linha por leitura, separadas por "
                                  "vírgula, com ponto decimal. Um marcador vai na coluna \"Marca\" da primeira "
                                  "leitura no seu instante ou depois."));
    cl.add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("O arquivo CSV a gravar."),
                              QStringLiteral("ARQUIVO")));
    cl.parse(arguments, 1);
    const QString path = cl.positional().at(0);
    const QString output = cl.required(QStringLiteral("output"));
    const logformat::Log log = onFile(path, [&] { return logformat::read(path); });
    if (log.badLines > 0)
        err(QStringLiteral("velto-cli: %1: %2 linha(s) ignorada(s); a primeira, linha %3: %4\n")
                .arg(path)
                .arg(log.badLines)
                .arg(log.firstBadLine)
                .arg(log.firstBadReason));

    QList<QStringList> marks(qsizetype(log.rows.size()));
    for (const logformat::Marker &m : log.markers)
        if (m.row < log.rows.size())
            marks[qsizetype(m.row)] << QStringLiteral("MARK %1 - %2").arg(m.number, 3, 10, QLatin1Char('0')).arg(m.text);
    QByteArray csv = logformat::channels().join(u',').toUtf8() + ",Marca\n";
    csv += logformat::units().join(u',').toUtf8() + ",\n";
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        QByteArray line = logformat::row(log.rows[i].ms, log.rows[i].values);
        line.chop(1); // the line end
        line.replace('\t', ',');
        csv += line + ',' + csvField(marks[qsizetype(i)].join(QStringLiteral("; "))) + '\n';
    }
    onFile(output, [&] { MapFile::writeFile(output, csv); });
    return Done;
}

} // namespace

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
        {QStringLiteral("suggest"), QStringLiteral("sugere o mapa de injeção pelas correções da sonda"), &suggest},
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
