#pragma once
// The logs recorded while a vehicle was open: in its registros/ folder, each naming in
// its header the entry of the history it was recorded with. For a quick before and after
// of a change: the logs of the entry's parent ("antes") and of the entry itself
// ("depois desta mudança"); for the correction, the logs of the current entry first.
#include "history/vehicle.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace vehiclelogs {

struct RecordedLog {
    QString path;
    QString entry; // the commit's hash the header names; empty when it names none
    QDateTime modified;
    // Whether the log was recorded on the entry of this commit (full hash).
    bool recordedOn(const QString &commit) const;
};

// The logs (*.msl) in the vehicle's registros/, newest first. Only their headers are
// read. None when the folder does not exist.
QList<RecordedLog> list(const QString &vehicleFolder);
// How many of the logs each entry (full hash) has.
QHash<QString, int> countPerEntry(const QList<RecordedLog> &logs, const QList<history::Entry> &entries);

struct BeforeAfter {
    history::Entry entry;
    std::optional<history::Entry> parent; // none for the first entry
    QList<RecordedLog> before;            // recorded on the parent ("antes")
    QList<RecordedLog> after;             // recorded on the entry ("depois desta mudança")
};
BeforeAfter beforeAfter(const history::Vehicle &vehicle, const QString &id);

// Every log, those recorded on the entry (full hash) first; newest first within each part.
QList<RecordedLog> forCorrection(const QList<RecordedLog> &logs, const QString &commit);

// Where a recording made now goes: registros/velto-AAAAMMDD-HHMMSS.msl, "-2" and on
// when that is taken (the folder made and left out of git).
QString newLogPath(history::Vehicle &vehicle);

} // namespace vehiclelogs
