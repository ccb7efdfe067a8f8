#include "link/scanner.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/names.h"
#include "common/numtext.h"
#include "link/frames.h"

#include <algorithm>
#include <utility>

namespace {

const QString captionOn = QStringLiteral("Ativar &Scanner");     // shown while the scanner is off
const QString captionOff = QStringLiteral("Desativar &Scanner"); // shown while it is on
const QString notResponding = QStringLiteral("Módulo não responde");

constexpr int firstTickMs = 10;
constexpr int tickMs = 1000;

std::int8_t signedByte(std::uint8_t b) { return static_cast<std::int8_t>(b); }
QString whole(long double v) { return numtext::formatFloat(QStringLiteral("0;-0;0"), v); }
QString plain(long long v) { return numtext::formatInt(v); }

void setPositionBars(Screen &s, bool visible)
{
    for (const QString &g : names::loadBars())
        s.setVisible(g, visible);
    for (const QString &g : names::speedBars())
        s.setVisible(g, visible);
}

// Paints cell k of both maps at once; a number outside the map touches nothing.
void paintCell(Screen &s, int k, Rgb colour)
{
    if (k < 0 || k > 71)
        return;
    s.setColor(names::ignitionCell(k), colour);
    s.setColor(names::injectionCell(k), colour);
}

} // namespace

Scanner::Scanner(Context &ctx) : ctx_(ctx) {}

void Scanner::Button3Click()
{
    Screen &s = ctx_.screen;
    if (!ctx_.state.scannerActive) {
        s.setVisible(ctl::TabSheet2, false);
        s.setVisible(ctl::GroupBox3, false);
        ctx_.state.scannerActive = true;
        // "Configurar &TPS" waits for the next transfer's end or the TPS calibration.
        ctx_.state.moduleKnown = false;
        setPositionBars(s, true);
        ctx_.timer1.setInterval(firstTickMs);
        ctx_.timer1.setEnabled(true);
        s.setText(ctl::Button3, captionOff);
        enabledset::apply(ctx_);
        dwellStep_ = numtext::parseInt(s.text(ctl::eLeitura));
    } else {
        ctx_.state.scannerActive = false;
        s.setText(ctl::Button3, captionOn);
        // Timer1 stays on: its next tick sends the stop command.
        setPositionBars(s, false);
        s.setVisible(ctl::GroupBox3, true);
        s.setVisible(ctl::TabSheet2, true);
        enabledset::apply(ctx_);
    }
    ctx_.state.linkActivity = true;
    if (onSwitched)
        onSwitched(ctx_.state.scannerActive);
}

void Scanner::Timer1Timer()
{
    if (!ctx_.state.linkActivity) {
        // Nothing came in since the last tick: the ECU is silent.
        ctx_.timer1.setEnabled(false);
        Button3Click();
        ctx_.prompt.message(notResponding);
    }
    if (ctx_.timer1.interval() == firstTickMs)
        ctx_.timer1.setInterval(tickMs);
    const bool polling = ctx_.state.scannerActive;
    if (!polling)
        ctx_.timer1.setEnabled(false);
    // The flag is cleared also when the write fails: a port that refuses the poll
    // must not keep the watchdog from noticing that nothing comes in.
    ctx_.state.linkActivity = false;
    ctx_.port.write(frames::command(polling ? frames::ScannerPoll : frames::ScannerStop));
}

void Scanner::linkLost()
{
    Screen &s = ctx_.screen;
    for (int &m : marked_) {
        paintCell(s, m, colors::black);
        m = none;
    }
    const QString bar = ctl::BarraTps;
    s.setBarPosition(bar, std::min(s.barMin(bar), s.barMax(bar)));
    ctx_.state.liveStale = true;
    enabledset::apply(ctx_);
}

void Scanner::liveDataA(const std::array<std::uint8_t, 8> &p)
{
    LiveValues &v = values_;
    v.loadPosition = p[7];
    v.temperature = p[0];
    v.columnMap = p[1];
    v.idleActuator = p[2];
    v.probeMv = p[3] * 10;
    v.tpsReading = p[4] + 256 * p[5];
    v.columnTps = p[6];
    ctx_.state.tpsReading = v.tpsReading;
    ctx_.state.tpsVoltage = v.tpsVolts();
    // The TPS calibration samples the reading before the bar moves.
    if (ctx_.state.tps == TpsPhase::Sampling && ctx_.hooks.tpsSample)
        ctx_.hooks.tpsSample(v.tpsReading);
    show(v, PartA);
    if (onLiveFrame)
        onLiveFrame(29, values_);
}

void Scanner::liveDataB(const std::array<std::uint8_t, 8> &p)
{
    LiveValues &v = values_;
    v.advance = p[0];
    v.speedPosition = signedByte(p[1]);
    v.pressure = p[4] * 20 + 820;
    // Speed, injection time and pump are shown only when the frame carries a period.
    const int period = p[5] + 256 * p[6];
    if (period > 0) {
        v.rpm = 1200000 / period;
        v.injectionTenths = (p[2] + 256 * p[3]) / 4;
        v.pump = p[7] != 0;
    }

    // Hidden dwell counter: how long the engine stays at one position.
    Screen &s = ctx_.screen;
    const int code = v.speedPosition * 43 + v.loadPosition;
    s.setText(ctl::Label1, plain(code));
    if (havePositionCode_ && code == positionCode_) {
        dwellTotal_ += dwellStep_;
        s.setText(ctl::Label48, plain(dwellTotal_));
    }
    positionCode_ = code;
    havePositionCode_ = true;

    show(v, period > 0 ? PartB : PartB | speedUnknown);
    v.markedCell = marked_[0] == none ? -1 : marked_[0];
    if (onLiveFrame)
        onLiveFrame(30, values_);
}

void Scanner::liveDataC(const std::array<std::uint8_t, 8> &p)
{
    LiveValues &v = values_;
    v.correctionShort = signedByte(p[0]);
    v.correctionLong = signedByte(p[1]);
    v.correctionTemperature = signedByte(p[2]);
    v.correctionAtmosphere = signedByte(p[3]);
    v.correctionAdvance = signedByte(p[4]);
    v.fan = p[5] != 0;
    v.airConditioning = p[6] != 0;
    show(v, PartC);
    if (onLiveFrame)
        onLiveFrame(31, values_);
}

void Scanner::show(const LiveValues &v, unsigned parts)
{
    Screen &s = ctx_.screen;
    if (parts & PartA) {
        s.setText(ctl::eTemperatura, plain(v.temperature));
        s.setFontColor(ctl::eTemperatura, v.temperature < 95 ? colors::lime : colors::yellow);
        s.setText(ctl::eValorMap, plain(v.columnMap));
        s.setText(ctl::eAtuadorML, plain(v.idleActuator));
        s.setText(ctl::eValorSonda, plain(v.probeMv));
        s.setBarPosition(ctl::BarraTps, v.tpsReading / 4);
        if (std::exchange(ctx_.state.liveStale, false)) // greyed while the link was lost
            enabledset::apply(ctx_);
        s.setText(ctl::eValorTps, numtext::formatFloat(QStringLiteral("0.00 "), v.tpsVolts()));
        s.setText(ctl::eColunaTps, plain(v.columnTps));
        for (const QString &g : names::loadBars())
            s.setBarPosition(g, v.loadPosition);
    }
    if (parts & PartB) {
        s.setText(ctl::eAvanco, plain(v.advance) + QStringLiteral("°"));
        s.setText(ctl::eLinhaMapa, plain(v.speedPosition));
        // The bars take the byte as received, read unsigned.
        const int unsignedPosition = static_cast<std::uint8_t>(v.speedPosition);
        for (const QString &g : names::speedBars())
            s.setBarPosition(g, 48 - unsignedPosition);
        s.setText(ctl::ePresAtm, plain(v.pressure));
        // Without a known speed (a frame with period 0) these keep what they showed.
        if (!(parts & speedUnknown) && v.rpm > 0) {
            s.setText(ctl::eRpm, plain(v.rpm));
            const long double opening = v.opening();
            s.setText(ctl::eTi, numtext::formatFloat(QStringLiteral("0.0"), v.injectionTenths / 10.0L) +
                                    QStringLiteral("  ") + numtext::formatFloat(QStringLiteral("0"), opening));
            s.setFontColor(ctl::eTi, opening < 90 ? colors::lime : colors::yellow);
            s.setFontColor(ctl::eScannerBomba, v.pump ? colors::yellow : colors::grey);
        }
        markCells(v.speedPosition, v.loadPosition);
    }
    if (parts & PartC) {
        s.setText(ctl::eCorSondaCurto, whole(v.correctionShort));
        s.setText(ctl::eCorSondaLongo, whole(v.correctionLong));
        s.setText(ctl::eCorTemperatura, whole(v.correctionTemperature) + QStringLiteral(" %"));
        s.setText(ctl::eCorPresAtm, whole(v.correctionAtmosphere) + QStringLiteral(" %"));
        s.setText(ctl::eCorAvanco, whole(v.correctionAdvance) + QStringLiteral(" °"));
        s.setFontColor(ctl::eScannerEletro, v.fan ? colors::yellow : colors::grey);
        s.setFontColor(ctl::eScannerAr, v.airConditioning ? colors::yellow : colors::grey);
    }
}

void Scanner::markCells(int speedPosition, int loadPosition)
{
    const int R = speedPosition;
    const int C = loadPosition;
    const int row = R / 6;
    const int column = C / 6;

    int base = none, lower = none, right = none, diagonal = none;
    // A position off the map marks nothing.
    if (const int cell = baseCell(R, C); cell >= 0) {
        base = cell;
        const long double rowFraction = (R / 6.0L - row) * 100;
        const long double columnFraction = (C / 6.0L - column) * 100;
        if (rowFraction > 20 && R < 48)
            lower = base + 8;
        if (columnFraction > 20 && C < 42)
            right = base + 1;
        if (lower != none && right != none)
            diagonal = base + 9;
    }

    // marked_ holds base, lower, right, diagonal. A cell that stays marked is not
    // cleared, so it never flickers black between frames.
    const std::array<int, 4> fresh{base, lower, right, diagonal};
    for (int &m : marked_) {
        if (m == none)
            continue;
        for (int f : fresh) {
            if (m == f) {
                m = none;
                break;
            }
        }
    }
    Screen &s = ctx_.screen;
    for (int i : {0, 2, 1, 3}) { // base, right, lower, diagonal
        if (fresh[i] != marked_[i])
            paintCell(s, marked_[i], colors::black);
        marked_[i] = fresh[i];
        if (fresh[i] != none)
            paintCell(s, fresh[i], colors::red);
    }
}
