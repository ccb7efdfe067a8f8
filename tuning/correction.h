#pragma once
// Assisted correction of the injection map. While its lambda correction runs, the ECU
// says by how much it had to correct the injection map where the engine ran (the short
// and long corrections of the log, percent). Rows that pass the filters spread that
// correction over the cells the ECU interpolates between; a cell with enough weight
// and a mean correction outside the dead band gets a new injection time.
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <deque>
#include <vector>

namespace correction {

constexpr int cellCount = 72;

// Every threshold of the analysis and the suggestion, with its default.
struct Settings {
    int minTemperature = 70; // °C; never below the tune's lambda activation temperature
    int minRpm = 500;
    int tpsWindowMs = 500;  // the throttle is steady when it moved less than maxTpsMove
    int maxTpsMove = 51;    // over this time, in converter steps of 1023
    int steadyCellMs = 300; // the base cell held at least this long
    int minProbeMv = 50;    // the probe is not railed: minProbeMv <= mV <= maxProbeMv
    int maxProbeMv = 950;
    double minHits = 20;   // sum of weights a cell needs before it is changed
    double deadBand = 2;   // |mean correction| below this (percent) changes nothing
    double maxChange = 10; // percent of the old value per round
    static constexpr double maxChangeLimit = 25;
    // A narrow-band probe reads every mixture richer than about lambda 0,97 as the
    // same "rich": where the tune rightly runs power-rich the loop pulls fuel out.
    // No fuel is removed from load column fullLoadFrom (0-based) onwards unless
    // leanFullLoad is set for this run.
    int fullLoadFrom = 7;
    bool leanFullLoad = false;
    // Only rows of the warm engine feed the map: the temperature correction at its
    // warm value (the tune's "Correção Ti" at 90 °C), the electro-fan and the air
    // conditioning off. Rows still warming belong to the warm-up curve.
    bool warmRowsOnly = true;
    // Only rows where the lambda correction can act: not with "Desativada", nor at
    // a closed throttle with "Des em Marcha Lenta".
    bool loopInControl = true;
    // Only rows where the loop has settled in the cell: after the base cell changes, a
    // row counts once the probe, seen probeDelayMs late, has crossed the tune's target
    // for the zone since then (its rows probeDelayMs after the change and later).
    bool loopSettled = true;
    int probeDelayMs = 200;
    // A cell whose rows fell mostly near its neighbours (own share below this) shows
    // their error rather than its own: it is never shown as confirmed.
    double minOwnShare = 0.5;
    friend bool operator==(const Settings &, const Settings &) = default;
};

// The filters, in the order they are tried: a rejected row counts for the first one
// that rejects it.
enum Filter {
    BadValues,
    Temperature,
    Speed,
    CutOff,
    Throttle,
    Position,
    Probe,
    Warming,
    LoopOff,
    Settling,
    FilterCount
};
// "temperatura do motor abaixo de 70 °C": what a row rejected by the filter had.
QString filterText(Filter filter, const Settings &settings, int lambdaTemperature);

// What the analysis takes from the tune the rows were recorded with.
struct TuneFacts {
    int lambdaTemperature = 0;  // eSondaTemp
    int warmTempCorrection = 0; // "Correção Ti" at 90 °C: CorrTemp of the warm engine
    bool loopOff = false;       // cbSondaAtiva "Desativada"
    bool loopOffAtIdle = false; // cbSondaAtiva "Des em Marcha Lenta"
    // The loop's targets in mV (eSondaLenta, eSondaParcial, eSondaPlena); 0 when not
    // known, and then only the probe's delay tells whether the loop settled.
    int idleTarget = 0, partTarget = 0, fullTarget = 0;
    // The target the ECU aims at a load position: idle with the throttle closed, full
    // load from fullLoadPosition on, part load between.
    static constexpr int fullLoadPosition = 39;
    int target(int loadPosition) const
    {
        return loadPosition <= 0 ? idleTarget : loadPosition >= fullLoadPosition ? fullTarget : partTarget;
    }
};
// Throws the conversion error of a field that is no number.
TuneFacts tuneFacts(const Tune &tune);

struct CellSum {
    double hits = 0;    // sum of the weights
    double sum = 0;     // sum of weight times correction
    double squares = 0; // sum of the squared weights
    double mean() const { return hits > 0 ? sum / hits : 0; }
    // Where the rows fell in the cell: 1 when all of them at its own position, small
    // when they fell near its neighbours, whose errors then make most of its mean.
    double ownShare() const { return hits > 0 ? squares / hits : 0; }
};

struct Analysis {
    std::array<CellSum, cellCount> cells{};
    // Sum over the rows of the product of two different cells' weights (row-major,
    // cell i times cell j at cellCount * i + j; 0 on the diagonal, whose products are
    // the cells' squares): with them the fit tells neighbouring cells apart.
    std::array<double, cellCount * cellCount> couplings{};
    std::array<std::int64_t, FilterCount> rejected{};
    std::int64_t rows = 0;      // rows seen (lines that could not be read included)
    std::int64_t used = 0;      // rows that passed every filter
    std::int64_t corrected = 0; // of those, rows with a correction other than 0
};

// The cells' corrections (percent) that explain the rows best: each row's correction
// is the sum of its four weights times the cells' corrections, solved by weighted
// least squares over all cells at once. Where rows fall between cells the fit alone
// can swing neighbours apart on a short log (the loop's own swing is no error of the
// map): each cell is held towards its own weighted mean by fitMeanPull times the weight
// its rows share with the neighbours (its hits less its squares; nothing for rows at
// its own position). A cell below minHits is also held towards 0 (the map as it is) by
// a ridge of fitRidge, which its own weight outgrows; the others get only a trace of
// it (a billionth of their own weight).
constexpr double fitRidge = 1;
constexpr double fitMeanPull = 0.5;
std::array<double, cellCount> fitted(const Analysis &analysis, double minHits);

// The ECU's interpolation weights at a position: up to four (cell, weight) pairs,
// weight above 0, for speed position R (0..48) and load position C (0..42).
struct Weight {
    int cell;
    double weight;
};
int weights(int speedPosition, int loadPosition, std::array<Weight, 4> &out);

// The analysis fed row by row: the rows of one or more logs, or the live rows of the
// scanner. Rows come in time order; a row earlier than the one before starts a new
// run (the scanner was switched on again), as does beginRun() (the next log).
class Accumulator {
public:
    // lambdaTemperature: the tune's eSondaTemp, a floor for the temperature filter.
    Accumulator(const Settings &settings, int lambdaTemperature);
    Accumulator(const Settings &settings, const TuneFacts &facts);
    void beginRun();
    void add(const logformat::Row &row);
    // Lines of a log that could not be read: counted as bad values.
    void addUnreadable(std::int64_t lines);
    const Analysis &analysis() const { return analysis_; }
    // Whether the last row added passed every filter.
    bool lastUsed() const { return lastUsed_; }
    int minTemperature() const { return minTemperature_; }

private:
    Filter check(const LiveValues &v, std::int64_t ms);
    void remember(const LiveValues &v, std::int64_t ms);
    bool throttleSteady(std::int64_t ms) const;

    Settings settings_;
    TuneFacts facts_;
    int minTemperature_;
    Analysis analysis_;
    bool inRun_ = false;
    bool lastUsed_ = false;
    std::int64_t lastMs_ = 0;
    int cell_ = -1;                            // base cell of the last row
    std::int64_t cellSince_ = 0;               // time of the first row in that cell
    bool seenRich_ = false, seenLean_ = false; // the probe against its target since then
    // Throttle over the window: the rows since the last one at or before ms - window,
    // with the running minimum and maximum in monotonic queues.
    struct Sample {
        std::int64_t seq, ms;
        int tps;
    };
    std::deque<Sample> window_, lows_, highs_;
    std::int64_t seq_ = 0;
};

Analysis analyse(const std::vector<logformat::Row> &rows, const Settings &settings, int lambdaTemperature);
Analysis analyse(const std::vector<logformat::Row> &rows, const Settings &settings, const TuneFacts &facts);

// Channels the analysis reads from a log.
const QStringList &neededChannels();
// Those the rules of settings read besides (the warm rows: CorrTemp, Eletro, Ar).
QStringList ruleChannels(const Settings &settings);
// Refuses a log that lacks one of them, naming the file and the channels.
void requireChannels(const logformat::Log &log, const QString &path, const Settings &settings = {});
// The tune's lambda activation temperature (eSondaTemp); throws its conversion error.
int lambdaTemperature(const Tune &tune);

enum class CellState {
    TooFewHits, // grey: not enough rows ran here
    Unchanged,  // plain: within the dead band, or the change rounds away
    Added,      // blue: more fuel
    Removed,    // red: less fuel
    FullLoad,   // full load: fuel is not removed where the probe cannot measure
    Neighbours, // within the dead band, but its rows fell mostly near its neighbours
};
// "plena: a sonda não mede", "dados de vizinhas".
QString stateMark(CellState state);

struct CellSuggestion {
    double hits = 0;
    double mean = 0; // percent: the fitted correction of the cell
    double ownShare = 0;
    QString oldText, newText;
    CellState state = CellState::TooFewHits;
    int oldTenths = 0, newTenths = 0;
    double changePercent() const { return oldTenths ? 100.0 * (newTenths - oldTenths) / oldTenths : 0; }
};

struct Suggestion {
    std::array<CellSuggestion, cellCount> cells{};
    int changed = 0;
    // Why nothing changes, in one sentence; empty when a cell changes.
    QString sentence;
};

// The suggestion relative to the injection map the rows were recorded with. An
// injection text that is not a number throws its conversion error, naming the cell.
Suggestion suggest(const Analysis &analysis, const Tune &recordedWith, const Settings &settings);
// base with the suggested texts in the given cells (all changed cells when empty).
Tune applied(const Tune &base, const Suggestion &suggestion, const QList<int> &cells = {});
// The injection map of a tune in tenths of a millisecond (-1 where a text is no number).
std::array<int, cellCount> injectionTenths(const Tune &tune);
// Index of injection cell k in Tune::texts.
constexpr int injectionField(int cell) { return 80 + cell; }

// Whether a tune's injection map is the one a log was recorded with: the ECU's
// injection time at a row is the map between the four cells times the temperature and
// pressure corrections and the lambda corrections, plus the fan's and the air
// conditioning's increments. A row's error is how far that prediction lies outside the
// tenth of a millisecond the log shows (it truncates), relative to the prediction.
struct SnapshotFit {
    std::int64_t rows = 0;  // rows that could be predicted (injecting, sound values)
    double medianError = 0; // relative, 0.01 = 1 %
};
// The channels the check reads.
const QStringList &snapshotChannels();
// Fewer rows than this prove nothing either way; above the tolerance the map does not
// explain the log (measured on the simulator's free drive: 0 % for the map it ran with,
// 3,0 to 4,8 % for the map of the round before).
constexpr std::int64_t snapshotMinRows = 20;
constexpr double snapshotTolerance = 0.015;
SnapshotFit snapshotFit(const std::vector<logformat::Row> &rows, const Tune &tune);

// Sentences of the suggestion.
QString noRowsSentence();
QString noCorrectionSentence();
QString noChangeSentence();
QString fewDataSentence(const Settings &settings);

} // namespace correction
