#pragma once
// Logs for the injection-map correction, with the tune each was recorded with: the
// map file the recorder writes beside the log (NAME-mapa.txt), or a tune the user
// names. The suggestion is only sound relative to the map the ECU ran with, so logs
// made with different injection maps are refused together.
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "tuning/correction.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>
#include <vector>

namespace correction {

// A refusal: what() is the message for the user, naming the file and what is wrong.
class Refused : public std::runtime_error {
public:
    explicit Refused(const QString &message) : std::runtime_error(message.toUtf8().toStdString()) {}
};

// An error's text as the end of a sentence (a full stop added when it has none).
QString asSentence(const std::exception &e);

struct RecordedLogs {
    QStringList paths;
    std::vector<logformat::Log> logs;
    Tune tune;        // the tune the logs were recorded with
    QString tunePath; // where it was read from
    std::int64_t unreadableLines = 0;
};

// Reads the logs and the tune they were recorded with. tunePath: the tune the user
// says the module held; a snapshot beside a log must then hold the same injection
// map. Without it every log needs its snapshot, and all snapshots the same injection
// map; a log whose header says the module's set was unknown is refused. Throws Refused.
RecordedLogs readLogs(const QStringList &paths, const std::optional<QString> &tunePath = std::nullopt);

// Refuses logs that lack a channel the rules of settings read (Refused, naming the
// first such log and its channels).
void requireRuleChannels(const RecordedLogs &logs, const Settings &settings);

// The analysis of every row of every log, each log its own run.
Analysis analyse(const RecordedLogs &logs, const Settings &settings);

} // namespace correction
