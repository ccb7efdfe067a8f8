#include "datalog/vehiclelogs.h"

#include "datalog/logformat.h"
#include "datalog/recorder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace vehiclelogs {

bool RecordedLog::recordedOn(const QString &commit) const
{
    // The header holds the full hash; an abbreviated one (seven characters at least) is
    // taken as well.
    return entry.size() >= 7 && commit.startsWith(entry);
}

QList<RecordedLog> list(const QString &vehicleFolder)
{
    const QDir folder(QDir(vehicleFolder).filePath(history::logsFolderName));
    QList<RecordedLog> logs;
    // Hidden files are recordings still being made (velto-cli log's).
    for (const QFileInfo &info : folder.entryInfoList({QStringLiteral("*.msl")}, QDir::Files, QDir::Time))
        logs << RecordedLog{info.filePath(), logformat::historyEntryOf(info.filePath()), info.lastModified()};
    return logs;
}

QHash<QString, int> countPerEntry(const QList<RecordedLog> &logs, const QList<history::Entry> &entries)
{
    QHash<QString, int> counts;
    QHash<QString, QString> byHash; // full hash → itself, for the headers that hold it whole
    for (const history::Entry &e : entries)
        byHash.insert(e.commit, e.commit);
    for (const RecordedLog &log : logs) {
        if (log.entry.isEmpty())
            continue;
        if (byHash.contains(log.entry)) {
            ++counts[log.entry];
            continue;
        }
        for (const history::Entry &e : entries)
            if (log.recordedOn(e.commit)) {
                ++counts[e.commit];
                break;
            }
    }
    return counts;
}

BeforeAfter beforeAfter(const history::Vehicle &vehicle, const QString &id)
{
    BeforeAfter result;
    result.entry = vehicle.entry(id);
    const QString parent = vehicle.parentOf(result.entry.commit);
    if (!parent.isEmpty())
        result.parent = vehicle.entry(parent);
    for (const RecordedLog &log : list(vehicle.folder())) {
        if (log.recordedOn(result.entry.commit))
            result.after << log;
        else if (result.parent && log.recordedOn(result.parent->commit))
            result.before << log;
    }
    return result;
}

QList<RecordedLog> forCorrection(const QList<RecordedLog> &logs, const QString &commit)
{
    QList<RecordedLog> ordered = logs;
    std::stable_partition(ordered.begin(), ordered.end(), [&](const RecordedLog &l) { return l.recordedOn(commit); });
    return ordered;
}

QString newLogPath(history::Vehicle &vehicle)
{
    const QDir folder(vehicle.logsFolder());
    const QString name = Recorder::suggestedName();
    QString path = folder.filePath(name);
    // Two recordings begun within one second: the second gets "-2".
    for (int n = 2; QFileInfo::exists(path) || QFileInfo::exists(Recorder::tunePath(path)); ++n)
        path = folder.filePath(QStringLiteral("%1-%2.msl").arg(name.chopped(4)).arg(n));
    return path;
}

} // namespace vehiclelogs
