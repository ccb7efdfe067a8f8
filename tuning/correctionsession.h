#pragma once
// What the correction dialog works on, without widgets: the source of the rows (logs
// or the live scanner), the tune they were recorded with, the settings, the analysis
// and the suggestion, and applying it to the screen's injection map.
#include "datalog/logformat.h"
#include "tuning/correction.h"
#include "tuning/recordedlogs.h"
#include "tuning/warmup.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class Controller;

class CorrectionSession {
public:
    explicit CorrectionSession(Controller &controller);

    const correction::Settings &settings() const { return settings_; }
    // New thresholds: the rows are analysed again.
    void setSettings(const correction::Settings &settings);

    // Logs and the tune beside them become the source; throws correction::Refused and
    // then keeps the source it had.
    void openLogs(const QStringList &paths);
    // The live rows of the scanner become the source, relative to the set last sent
    // to the module or read back from it; throws correction::Refused when there is none.
    void startLive();
    void stopLive();
    bool isLive() const { return live_; }
    // A live row (Datalog::onLiveRow); ignored unless live.
    void liveRow(const logformat::Row &row);
    // The 5-per-second refresh: whether rows came since the last tick.
    bool refreshTick();

    bool hasSource() const { return tune_.has_value(); }
    const correction::Analysis &analysis() const { return analysis_; }
    const correction::Suggestion &suggestion() const { return suggestion_; }
    // The warm-up curve the same rows suggest.
    const correction::WarmUpSuggestion &warmUp() const { return warmUp_; }
    const Tune *tune() const { return tune_ ? &*tune_ : nullptr; }
    // "2 registros (a.msl, b.msl), mapa a-mapa.txt" or the live source.
    QString sourceText() const;
    int lambdaTemperature() const;

    // Writes the suggested texts of the cells (every changed one when empty) into the
    // screen's injection map as one undo step; nothing is sent. In the percent view the
    // map first returns to ms as "mS" does, within that step (undone, the map is back in
    // percent; declined, it stays in percent). Asks before overwriting cells that differ
    // from the map the rows were recorded with. Returns the number of cells written
    // (0 when the user declined); throws when it cannot apply (nothing changed then).
    int apply(const QList<int> &cells = {});

    // Writes the changed warm-up points ("Correção Ti") into the screen as one undo
    // step; returns how many. Refused as apply is.
    int applyWarmUp();

    static QString liveWithoutTuneMessage();
    static QString busyMessage();
    static QString scannerMessage();

private:
    void recompute();

    Controller &controller_;
    correction::Settings settings_;
    std::optional<Tune> tune_;
    QString tuneName_;
    QStringList logNames_;
    std::vector<logformat::Log> logs_;
    std::vector<logformat::Row> liveRows_;
    std::unique_ptr<correction::Accumulator> liveAccumulator_;
    bool live_ = false;
    bool dirty_ = false;
    correction::Analysis analysis_;
    correction::Suggestion suggestion_;
    correction::WarmUpSuggestion warmUp_;
};
