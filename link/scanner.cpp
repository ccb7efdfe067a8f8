#include "link/scanner.h"

#include "common/names.h"
#include "common/numtext.h"
#include "link/frames.h"

namespace {

const QString captionOn = QStringLiteral("Ativar &Scanner");   // shown while the scanner is off
const QString captionOff = QStringLiteral("Desativar &Scanner"); // shown while it is on
const QString notResponding = QStringLiteral("Módulo não responde");

constexpr int firstTickMs = 10;
constexpr int tickMs = 1000;

// Buttons that the scanner locks while it runs and unlocks when it stops.
const char *const lockedButtons[] = {"btnLerDados", "Button6", "btnEnvia", "Button8",
                                     "btnSalvar",   "Button1", "btnCarregar", "Button2"};

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

Rgb onOff(std::uint8_t b) { return b == 0 ? colors::grey : colors::yellow; }

} // namespace

Scanner::Scanner(Context &ctx) : ctx_(ctx) {}

void Scanner::Button3Click()
{
    Screen &s = ctx_.screen;
    const QString caption = s.text(QStringLiteral("Button3"));
    if (caption == captionOn) {
        s.setVisible(QStringLiteral("TabSheet2"), false);
        s.setVisible(QStringLiteral("GroupBox3"), false);
        ctx_.state.scannerActive = true;
        setPositionBars(s, true);
        for (const char *b : lockedButtons)
            s.setEnabled(b, false);
        ctx_.timer1.setInterval(firstTickMs);
        ctx_.timer1.setEnabled(true);
        s.setText(QStringLiteral("Button3"), captionOff);
        dwellStep_ = numtext::parseInt(s.text(QStringLiteral("eLeitura")));
        for (const char *b : {"btnAlterarMapas", "btnDesativar", "btnConfigurarTps"})
            s.setEnabled(b, false);
    } else if (caption == captionOff) {
        ctx_.state.scannerActive = false;
        for (const char *b : lockedButtons)
            s.setEnabled(b, true);
        s.setText(QStringLiteral("Button3"), captionOn);
        // btnConfigurarTps stays locked: the end of a transfer or the TPS calibration
        // unlocks it. Timer1 stays on: its next tick sends the stop command.
        s.setEnabled(QStringLiteral("btnAlterarMapas"), true);
        s.setEnabled(QStringLiteral("btnDesativar"), true);
        setPositionBars(s, false);
        s.setVisible(QStringLiteral("GroupBox3"), true);
        s.setVisible(QStringLiteral("TabSheet2"), true);
    }
    ctx_.state.linkActivity = true;
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

void Scanner::liveDataA(const std::array<std::uint8_t, 8> &p)
{
    Screen &s = ctx_.screen;
    loadPosition_ = p[7];
    s.setText(QStringLiteral("eTemperatura"), plain(p[0]));
    s.setFontColor(QStringLiteral("eTemperatura"), p[0] < 95 ? colors::lime : colors::yellow);
    s.setText(QStringLiteral("eValorMap"), plain(p[1]));
    s.setText(QStringLiteral("eAtuadorML"), plain(p[2]));
    s.setText(QStringLiteral("eValorSonda"), plain(p[3] * 10));

    const int reading = p[4] + 256 * p[5];
    ctx_.state.tpsReading = reading;
    // The TPS calibration samples the reading before the bar moves.
    if (ctx_.timerTps.tag == 1 && ctx_.hooks.tpsSample)
        ctx_.hooks.tpsSample(reading);
    s.setBarPosition(QStringLiteral("BarraTps"), reading / 4);
    ctx_.state.tpsVoltage = reading * 5 / 1023.0L;
    s.setText(QStringLiteral("eValorTps"), numtext::formatFloat(QStringLiteral("0.00 "), ctx_.state.tpsVoltage));
    s.setText(QStringLiteral("eColunaTps"), plain(p[6]));
    for (const QString &g : names::loadBars())
        s.setBarPosition(g, loadPosition_);
}

void Scanner::liveDataB(const std::array<std::uint8_t, 8> &p)
{
    Screen &s = ctx_.screen;
    s.setText(QStringLiteral("eAvanco"), plain(p[0]) + QStringLiteral("°"));
    speedPosition_ = signedByte(p[1]);
    s.setText(QStringLiteral("eLinhaMapa"), plain(speedPosition_));
    for (const QString &g : names::speedBars())
        s.setBarPosition(g, 48 - p[1]);

    injectionTime_ = ((p[2] + 256 * p[3]) / 4) / 10.0L;
    s.setText(QStringLiteral("ePresAtm"), plain(p[4] * 20 + 820));

    const int period = p[5] + 256 * p[6];
    if (period > 0) {
        const int rpm = 1200000 / period;
        s.setText(QStringLiteral("eRpm"), plain(rpm));
        const long double opening = static_cast<long double>(rpm) / 30 * 20 * injectionTime_ / 100 / 4;
        s.setText(QStringLiteral("eTi"), numtext::formatFloat(QStringLiteral("0.0"), injectionTime_) +
                                             QStringLiteral("  ") +
                                             numtext::formatFloat(QStringLiteral("0"), opening));
        s.setFontColor(QStringLiteral("eTi"), opening < 90 ? colors::lime : colors::yellow);
        s.setFontColor(QStringLiteral("eScannerBomba"), onOff(p[7]));
    }

    // Hidden dwell counter: how long the engine stays at one position.
    const int code = speedPosition_ * 43 + loadPosition_;
    s.setText(QStringLiteral("Label1"), plain(code));
    if (havePositionCode_ && code == positionCode_) {
        dwellTotal_ += dwellStep_;
        s.setText(QStringLiteral("Label48"), plain(dwellTotal_));
    }
    positionCode_ = code;
    havePositionCode_ = true;

    markCells();
}

void Scanner::liveDataC(const std::array<std::uint8_t, 8> &p)
{
    Screen &s = ctx_.screen;
    s.setText(QStringLiteral("eCorSondaCurto"), whole(signedByte(p[0])));
    s.setText(QStringLiteral("eCorSondaLongo"), whole(signedByte(p[1])));
    s.setText(QStringLiteral("eCorTemperatura"), whole(signedByte(p[2])) + QStringLiteral(" %"));
    s.setText(QStringLiteral("eCorPresAtm"), whole(signedByte(p[3])) + QStringLiteral(" %"));
    s.setText(QStringLiteral("eCorAvanco"), whole(signedByte(p[4])) + QStringLiteral(" °"));
    s.setFontColor(QStringLiteral("eScannerEletro"), onOff(p[5]));
    s.setFontColor(QStringLiteral("eScannerAr"), onOff(p[6]));
}

void Scanner::markCells()
{
    const int R = speedPosition_;
    const int C = loadPosition_;
    const int row = R / 6;
    const int column = C / 6;

    int base = none, lower = none, right = none, diagonal = none;
    // A position off the map marks nothing; without this check a load position from
    // 48 on would wrap into column 0 of the next row.
    if (row >= 0 && row <= 8 && column >= 0 && column <= 7) {
        base = 8 * row + column;
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
