#include "datalog/datalog.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/names.h"
#include "common/numtext.h"
#include "files/mapfile.h"
#include "link/scanner.h"

#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <tuple>

namespace {

const QString playCaption = QStringLiteral("Repr&oduzir");
const QString pauseCaption = QStringLiteral("Pa&usar");
const QString slider = ctl::tbPosicao;
const QString readout = ctl::ePosicaoRegistro;
const QString markerList = ctl::lbMarcas;

// The bars the scanner shows while it runs; playback shows them the same way.
void showPositionBars(Screen &s, bool visible)
{
    for (const QString &g : names::loadBars())
        s.setVisible(g, visible);
    for (const QString &g : names::speedBars())
        s.setVisible(g, visible);
    s.setVisible(ctl::GroupBox3, !visible);
}

// A row written for a kind 29: only that frame's channels changed since the row before.
bool onlyFirstKindChanged(const LiveValues &before, const LiveValues &now)
{
    const auto first = [](const LiveValues &v) {
        return std::tie(v.temperature, v.columnMap, v.idleActuator, v.probeMv, v.tpsReading, v.columnTps,
                        v.loadPosition);
    };
    const auto others = [](const LiveValues &v) {
        return std::tie(v.advance, v.speedPosition, v.pressure, v.rpm, v.injectionTenths, v.pump, v.correctionShort,
                        v.correctionLong, v.correctionTemperature, v.correctionAtmosphere, v.correctionAdvance, v.fan,
                        v.airConditioning);
    };
    return first(before) != first(now) && others(before) == others(now);
}

// The read-outs of each channel a log may lack: during playback they show nothing.
struct AbsentReadout {
    const char *channel;
    const QString &readout;
};
const AbsentReadout absentReadouts[] = {
    {"RPM", ctl::eRpm},
    {"Avanco", ctl::eAvanco},
    {"TPS", ctl::eValorTps},
    {"Temperatura", ctl::eTemperatura},
    {"ColunaMAP", ctl::eValorMap},
    {"ColunaTPS", ctl::eColunaTps},
    {"LinhaRPM", ctl::eLinhaMapa},
    {"AtuadorML", ctl::eAtuadorML},
    {"Sonda", ctl::eValorSonda},
    {"PressaoAtm", ctl::ePresAtm},
    {"CorrCurto", ctl::eCorSondaCurto},
    {"CorrLongo", ctl::eCorSondaLongo},
    {"CorrTemp", ctl::eCorTemperatura},
    {"CorrAtm", ctl::eCorPresAtm},
    {"CorrAvanco", ctl::eCorAvanco},
};
// The devices' read-outs keep their text; an unknown state is the colour before any frame.
const AbsentReadout absentDevices[] = {
    {"Bomba", ctl::eScannerBomba}, {"Eletro", ctl::eScannerEletro}, {"Ar", ctl::eScannerAr}};

// "mm:ss" of a recording (minutes go on past 99).
QString minutesSeconds(std::int64_t ms)
{
    const std::int64_t s = std::max<std::int64_t>(ms, 0) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString clock(std::int64_t ms)
{
    const std::int64_t tenths = ms / 100;
    return QStringLiteral("%1:%2,%3")
        .arg(tenths / 600, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

} // namespace

Datalog::Datalog(Context &ctx, Scanner &scanner, MapFile &mapFile, Timer &timer, Recorder::Clock clock)
    : ctx_(ctx),
      scanner_(scanner),
      mapFile_(mapFile),
      timer_(timer),
      recorder_(clock),
      clock_(std::move(clock))
{
    if (!clock_)
        clock_ = [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    scanner_.onLiveFrame = [this](int kind, const LiveValues &v) {
        recorder_.frame(kind, v);
        liveFrame(kind, v);
    };
    scanner_.onSwitched = [this](bool on) { scannerSwitched(on); };
}

Datalog::~Datalog()
{
    scanner_.onLiveFrame = nullptr;
    scanner_.onSwitched = nullptr;
}

FileDialogSpec Datalog::dialogSpec()
{
    FileDialogSpec setup;
    setup.filter = QStringLiteral("Registros (.msl)|*.msl|Todos os arquivos|*.*");
    setup.defaultSuffix = QStringLiteral("msl");
    return setup;
}

QString Datalog::positionText(std::int64_t ms, std::int64_t totalMs) { return clock(ms) + " / " + clock(totalMs); }

void Datalog::btnGravarClick()
{
    if (!ctx_.state.scannerActive || recorder_.isRecording() || readingModule_)
        return;
    const std::optional<QByteArray> tune = knownTune();
    FileDialogSpec setup = dialogSpec();
    setup.suggestedName = Recorder::suggestedName();
    if (logFolder)
        setup.initialDir = logFolder();
    const std::optional<QString> path = ctx_.prompt.saveFileName(setup);
    if (!path)
        return;
    // The dialog asked about the log; the tune beside it is asked about here.
    const QString tunePath = Recorder::tunePath(*path);
    if ((tune || readModuleTune) && QFileInfo::exists(tunePath) &&
        ctx_.prompt.question(QString::fromUtf8("O mapa %1 já existe ao lado do registro. Deseja substituí-lo pelo "
                                               "mapa do módulo?")
                                 .arg(tunePath),
                             {QStringLiteral("Substituir"), QStringLiteral("Cancelar")}) != 0)
        return;
    if (tune || !readModuleTune) {
        startRecording(*path, tune);
        return;
    }
    // Which set the module holds is unknown: it is read back first.
    readingModule_ = true;
    updateButtons();
    try {
        readModuleTune([this, p = *path](const std::optional<Tune> &read) { moduleTuneRead(p, read); });
    } catch (...) {
        readingModule_ = false;
        updateButtons();
        throw;
    }
}

void Datalog::moduleTuneRead(const QString &path, const std::optional<Tune> &tune)
{
    readingModule_ = false;
    // The scanner did not come back (the link went, "&Desativar"): nothing to record.
    if (!ctx_.state.scannerActive || recorder_.isRecording()) {
        updateButtons();
        return;
    }
    startRecording(path, tune ? std::optional(MapFile::bytesOf(*tune)) : std::nullopt);
}

void Datalog::recordTo(const QString &path)
{
    if (!ctx_.state.scannerActive || recorder_.isRecording())
        return;
    startRecording(path, knownTune());
}

// The tune written beside a log is the set the module holds: the screen may differ from
// it. Nothing when it is unknown.
std::optional<QByteArray> Datalog::knownTune()
{
    if (!moduleTune)
        return mapFile_.screenBytes();
    const std::optional<Tune> held = moduleTune();
    if (!held)
        return std::nullopt;
    return MapFile::bytesOf(*held);
}

void Datalog::startRecording(const QString &path, const std::optional<QByteArray> &tune)
{
    try {
        recorder_.start(path, tune, historyEntry ? historyEntry() : QString());
    } catch (...) {
        updateButtons();
        throw;
    }
    timer_.setInterval(syncMs);
    timer_.setEnabled(true);
    updateButtons();
}

void Datalog::btnPararClick() { stopRecording(); }

void Datalog::stopRecording()
{
    if (!recorder_.isRecording())
        return;
    timer_.setEnabled(false);
    struct Refresh {
        Datalog *d;
        ~Refresh() { d->updateButtons(); }
    } refresh{this};
    recorder_.stop();
}

void Datalog::btnMarcarClick()
{
    recorder_.mark();
    updateStatus();
}

void Datalog::linkLost()
{
    if (!recorder_.isRecording() || riding_)
        return;
    riding_ = true;
    recorder_.mark(QStringLiteral("Conexão perdida"));
}

void Datalog::linkRestored()
{
    if (!riding_)
        return;
    riding_ = false;
    if (recorder_.isRecording())
        recorder_.mark(QStringLiteral("Reconectado"));
}

void Datalog::linkGivenUp()
{
    riding_ = false;
    stopRecording();
}

void Datalog::liveFrame(int kind, const LiveValues &values)
{
    if (liveGate_.complete(kind) && onLiveRow)
        onLiveRow(logformat::Row{(clock_() - liveStartNs_) / 1000000, values});
}

void Datalog::scannerSwitched(bool on)
{
    liveGate_.restart();
    liveStartNs_ = clock_();
    if (on) {
        // The live run takes the screen: a log that was open is closed.
        closeLog(false);
    } else if (recorder_.isRecording() && !riding_) {
        // Called from the scanner's switch (button, watchdog, calibration): the
        // recording ends here and a failure is told at once.
        try {
            stopRecording();
        } catch (const std::exception &e) {
            ctx_.prompt.message(QString::fromUtf8(e.what()));
        }
    }
    updateButtons();
}

void Datalog::btnAbrirRegistroClick()
{
    const std::optional<QString> path = ctx_.prompt.openFileName(dialogSpec());
    if (path)
        openLog(*path);
}

void Datalog::openLog(const QString &path)
{
    if (ctx_.state.scannerActive || recorder_.isRecording())
        return;
    // Read first: a file that cannot be played leaves the screen as it was.
    auto log = std::make_unique<logformat::Log>(logformat::read(path));
    closeLog(false);
    log_ = std::move(log);
    logPath_ = path;
    Screen &s = ctx_.screen;
    showPositionBars(s, true);
    s.setBarMin(slider, 0);
    s.setBarMax(slider, int(log_->rows.size()) - 1);
    QStringList items;
    // The marker's own time in the file, with its decimals.
    for (const logformat::Marker &m : log_->markers)
        items << QStringLiteral("%1 - %2 - %3 s")
                     .arg(m.number, 3, 10, QLatin1Char('0'))
                     .arg(m.text, numtext::formatFixed(m.ms / 1000.0L, 3));
    s.setItems(markerList, items);
    row_ = std::size_t(-1);
    seek(0);
    setPlaying(false);
    updateButtons();
    if (onLogSwitched)
        onLogSwitched(path);
    if (log_->badLines > 0)
        ctx_.prompt.message(QString::fromUtf8("O registro %1 foi aberto sem %2 linha(s): a primeira é a linha %3 (%4).")
                                .arg(path)
                                .arg(log_->badLines)
                                .arg(log_->firstBadLine)
                                .arg(log_->firstBadReason));
}

void Datalog::btnFecharRegistroClick() { closeLog(true); }

void Datalog::closeLog(bool restoreScreen)
{
    if (!log_)
        return;
    setPlaying(false);
    log_.reset();
    Screen &s = ctx_.screen;
    if (restoreScreen)
        showPositionBars(s, false); // as the scanner leaves the screen when switched off
    s.setItems(markerList, {});
    s.setBarMax(slider, 0);
    s.setBarPosition(slider, 0);
    s.setText(readout, positionText(0, 0));
    updateButtons();
    if (onLogSwitched)
        onLogSwitched(QString());
}

void Datalog::seek(std::size_t row)
{
    if (!log_)
        return;
    row = std::min(row, log_->rows.size() - 1);
    const std::int64_t first = log_->rows.front().ms;
    playMs_ = log_->rows[row].ms - first;
    if (row == row_)
        return;
    row_ = row;
    const auto &rows = log_->rows;
    scanner_.show(rows[row].values, Scanner::AllParts);
    // In a log with a row per frame the live screen moved the red marks only with a
    // kind 30: after rows of kind 29 they stay where the row before those showed them.
    std::size_t marks = row;
    while (!log_->rowPerSample && marks > 0 && onlyFirstKindChanged(rows[marks - 1].values, rows[marks].values))
        --marks;
    if (marks != row) {
        LiveValues v = rows[row].values;
        v.loadPosition = rows[marks].values.loadPosition;
        scanner_.show(v, Scanner::PartB);
    }
    showAbsent(rows[row].values);
    ctx_.screen.setBarPosition(slider, int(row));
    ctx_.screen.setText(readout, positionText(playMs_, log_->rows.back().ms - first));
    if (onRowShown)
        onRowShown(row);
}

void Datalog::showAbsent(const LiveValues &v)
{
    const QStringList &absent = log_->absent;
    if (absent.isEmpty())
        return;
    Screen &s = ctx_.screen;
    for (const AbsentReadout &a : absentReadouts)
        if (absent.contains(QLatin1String(a.channel)))
            s.setText(a.readout, QString());
    for (const AbsentReadout &a : absentDevices)
        if (absent.contains(QLatin1String(a.channel)))
            s.setFontColor(a.readout, colors::silver);
    const bool rpm = !absent.contains(QLatin1String("RPM")), ti = !absent.contains(QLatin1String("Ti"));
    if (!rpm || !ti) // the opening needs both; the injection time alone is still worth showing
        s.setText(ctl::eTi, ti ? numtext::formatFloat(QStringLiteral("0.0"), v.injectionTenths / 10.0L) : QString());
}

void Datalog::tbPosicaoChange()
{
    const int position = ctx_.screen.barPosition(slider);
    if (log_ && position >= 0 && std::size_t(position) != row_)
        seek(std::size_t(position));
}

void Datalog::lbMarcasClick()
{
    const int i = ctx_.screen.itemIndex(markerList);
    if (log_ && i >= 0 && std::size_t(i) < log_->markers.size())
        seek(log_->markers[std::size_t(i)].row);
}

void Datalog::cbVelocidadeChange()
{
    static const int speeds[] = {1, 2, 4, 8};
    const int i = ctx_.screen.itemIndex(ctl::cbVelocidade);
    speed_ = i >= 0 && i < 4 ? speeds[i] : 1;
}

void Datalog::btnReproduzirClick()
{
    if (!log_)
        return;
    if (!playing_ && row_ + 1 >= log_->rows.size())
        seek(0); // at the end: play from the start again
    setPlaying(!playing_);
}

void Datalog::setPlaying(bool playing)
{
    playing_ = playing && log_;
    ctx_.screen.setText(ctl::btnReproduzir, playing_ ? pauseCaption : playCaption);
    if (playing_) {
        timer_.setInterval(playMs);
        timer_.setEnabled(true);
    } else if (!recorder_.isRecording()) {
        timer_.setEnabled(false);
    }
}

void Datalog::TimerRegistroTimer()
{
    if (recorder_.isRecording()) {
        try {
            recorder_.sync();
        } catch (...) {
            timer_.setEnabled(false);
            updateButtons();
            throw;
        }
        updateStatus();
        return;
    }
    if (!playing_ || !log_) {
        timer_.setEnabled(false);
        return;
    }
    // Play on by one tick of the timer at the chosen speed.
    playMs_ += std::int64_t(timer_.interval()) * speed_;
    const std::int64_t target = log_->rows.front().ms + playMs_;
    const auto it = std::upper_bound(log_->rows.begin(), log_->rows.end(), target,
                                     [](std::int64_t t, const logformat::Row &r) { return t < r.ms; });
    const std::size_t row = std::size_t(it - log_->rows.begin()) - 1;
    const std::int64_t kept = playMs_;
    seek(row);
    playMs_ = kept;
    if (row + 1 >= log_->rows.size())
        setPlaying(false);
}

void Datalog::updateButtons()
{
    ctx_.state.recording = recorder_.isRecording();
    ctx_.state.logOpen = log_ != nullptr;
    enabledset::apply(ctx_);
    updateStatus();
}

void Datalog::updateStatus()
{
    QString status;
    if (recorder_.isRecording()) {
        status = QString::fromUtf8("● Gravando %1 — %2")
                     .arg(minutesSeconds(recorder_.elapsedMs()), QFileInfo(recorder_.path()).fileName());
    } else if (log_) {
        status = QStringLiteral("Reproduzindo %1").arg(QFileInfo(logPath_).fileName());
    }
    const int marker = recorder_.isRecording() ? recorder_.markers() : 0;
    ctx_.screen.setText(statusReadout, status);
    ctx_.screen.setText(markerReadout, marker > 0 ? QStringLiteral("Marca %1").arg(marker) : QString());
}
