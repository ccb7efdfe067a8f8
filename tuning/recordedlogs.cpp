#include "tuning/recordedlogs.h"

#include "common/numtext.h"
#include "datalog/recorder.h"

#include <QFileInfo>

namespace correction {

QString asSentence(const std::exception &e)
{
    QString text = QString::fromUtf8(e.what()).trimmed();
    if (!text.endsWith(u'.'))
        text += u'.';
    return text;
}

namespace {

// The map file's own system messages (which its load button shows as they are) in the
// correction's sentences.
QString inPortuguese(const QString &sentence)
{
    static const std::pair<const char *, const char *> texts[] = {
        {"File not found.", "o arquivo não existe."},
        {"File access denied.", "o acesso ao arquivo foi negado."},
        {"Invalid filename.", "o nome do arquivo é inválido."},
        {"Too many open files.", "há arquivos abertos demais."},
    };
    for (const auto &[english, portuguese] : texts)
        if (sentence == QLatin1String(english))
            return QString::fromUtf8(portuguese);
    return sentence;
}

// A tune that loads and whose lambda temperature and injection cells convert.
Tune readTune(const QString &path, const QString &what)
{
    Tune t;
    try {
        t = MapFile::readTune(path);
    } catch (const std::exception &e) {
        throw Refused(QString::fromUtf8("%1 %2 não pôde ser lido: %3 Nada a sugerir.")
                          .arg(what, path, inPortuguese(asSentence(e))));
    }
    try {
        tuneFacts(t);
        suggest(Analysis{}, t, Settings{});
    } catch (const std::exception &e) {
        throw Refused(
            QString::fromUtf8("%1 %2 não serve para a correção: %3 Nada a sugerir.").arg(what, path, asSentence(e)));
    }
    return t;
}

// Same injection map: the same values, whatever the texts look like ("8" and "8,0").
bool sameInjection(const Tune &a, const Tune &b)
{
    const auto ta = injectionTenths(a), tb = injectionTenths(b);
    for (int k = 0; k < cellCount; ++k) {
        const int f = injectionField(k);
        const bool same = ta[std::size_t(k)] >= 0 && tb[std::size_t(k)] >= 0 ? ta[std::size_t(k)] == tb[std::size_t(k)]
                                                                             : a.texts.value(f) == b.texts.value(f);
        if (!same)
            return false;
    }
    return true;
}

QString differentMaps(const QString &firstLog, const QString &firstTune, const QString &log, const QString &tune)
{
    if (firstLog.isEmpty())
        return QString::fromUtf8("O registro %1 foi gravado com outro mapa de injeção (%2) que não o de %3: a "
                                 "correção não vale para esse mapa. Nada a sugerir.")
            .arg(log, tune, firstTune);
    return QString::fromUtf8("Os registros %1 e %2 foram gravados com mapas de injeção diferentes (%3 e %4): a "
                             "correção de um não vale para o outro. Abra-os em separado. Nada a sugerir.")
        .arg(firstLog, log, firstTune, tune);
}

// Refuses a log whose injection times the map it names does not explain.
void checkSnapshot(const logformat::Log &log, const QString &path, const Tune &tune, const QString &tunePath)
{
    QStringList missing;
    for (const QString &c : snapshotChannels())
        if (log.absent.contains(c))
            missing << c;
    if (!missing.isEmpty())
        throw Refused(QString::fromUtf8("O registro %1 não tem %2 %3, com %4 se confere que ele foi gravado com o "
                                        "mapa %5: nada a sugerir.")
                          .arg(path, missing.size() == 1 ? QStringLiteral("o canal") : QStringLiteral("os canais"),
                               missing.join(QStringLiteral(", ")),
                               missing.size() == 1 ? QStringLiteral("o qual") : QStringLiteral("os quais"), tunePath));
    const SnapshotFit fit = snapshotFit(log.rows, tune);
    if (fit.rows >= snapshotMinRows && fit.medianError > snapshotTolerance)
        throw Refused(QString::fromUtf8("O mapa de injeção de %1 não explica o Ti do registro %2 (erro mediano de %3 "
                                        "%, acima de %4 %): o registro foi gravado com outro mapa, e a correção não "
                                        "vale para esse. Nada a sugerir.")
                          .arg(tunePath, path, numtext::formatFixed(100 * fit.medianError, 1),
                               numtext::formatFixed(100 * snapshotTolerance, 1)));
}

} // namespace

RecordedLogs readLogs(const QStringList &paths, const std::optional<QString> &tunePath)
{
    RecordedLogs out;
    QString firstLog; // the log whose snapshot gave the tune
    if (tunePath) {
        out.tune = readTune(*tunePath, QStringLiteral("O mapa"));
        out.tunePath = *tunePath;
    }
    for (const QString &path : paths) {
        logformat::Log log;
        try {
            log = logformat::read(path);
        } catch (const std::exception &e) {
            throw Refused(QString::fromUtf8(e.what()));
        }
        try {
            requireChannels(log, path, Settings{.warmRowsOnly = false});
        } catch (const std::exception &e) {
            throw Refused(QString::fromUtf8(e.what()));
        }
        const QString snapshot = Recorder::tunePath(path);
        if (log.moduleSetUnknown && !tunePath)
            throw Refused(QString::fromUtf8("O registro %1 foi gravado sem que se soubesse que mapa o módulo tinha "
                                            "(o módulo não pôde ser lido ao começar a gravação): não há mapa ao "
                                            "lado dele, e a correção só vale em relação ao mapa com que o motor "
                                            "rodou. Nada a sugerir.")
                              .arg(path));
        // A tune beside such a log is not its own: only the one the user names counts.
        if (!log.moduleSetUnknown && (!tunePath || QFileInfo::exists(snapshot))) {
            const Tune t = readTune(snapshot, QString::fromUtf8("O mapa do registro %1,").arg(path));
            if (out.tunePath.isEmpty()) {
                out.tune = t;
                out.tunePath = snapshot;
                firstLog = path;
            } else if (!sameInjection(out.tune, t)) {
                throw Refused(differentMaps(firstLog, out.tunePath, path, snapshot));
            }
            checkSnapshot(log, path, t, snapshot);
        } else {
            checkSnapshot(log, path, out.tune, out.tunePath);
        }
        out.unreadableLines += log.badLines;
        out.paths << path;
        out.logs.push_back(std::move(log));
    }
    return out;
}

void requireRuleChannels(const RecordedLogs &logs, const Settings &settings)
{
    for (std::size_t i = 0; i < logs.logs.size(); ++i)
        try {
            requireChannels(logs.logs[i], logs.paths.value(int(i)), settings);
        } catch (const std::exception &e) {
            throw Refused(QString::fromUtf8(e.what()));
        }
}

Analysis analyse(const RecordedLogs &logs, const Settings &settings)
{
    requireRuleChannels(logs, settings);
    Accumulator a(settings, tuneFacts(logs.tune));
    for (const logformat::Log &log : logs.logs) {
        a.beginRun();
        for (const logformat::Row &r : log.rows)
            a.add(r);
        a.addUnreadable(log.badLines);
    }
    return a.analysis();
}

} // namespace correction
