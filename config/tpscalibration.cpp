#include "config/tpscalibration.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/numtext.h"
#include "common/tpslimits.h"

#include <algorithm>

namespace {

const QString bar = ctl::BarraTps;

constexpr int stepPeriodMs = 500;
constexpr long double closedVoltageLimit = 1.25L;
constexpr int fullSampleFrames = 6; // kind-29 frames from the closed to the full sample
constexpr int fullWaitSteps = 7;    // steps 4 to 11: the wait for the full-throttle sample

const QString noAnswer =
    QString::fromUtf8(" Atenção ! !  O módulo não respondeu. A configuração do TPS foi cancelada.  ");
const QString notSent = QString::fromUtf8(
    " Atenção ! !  Os limites do TPS não foram enviados ao módulo. A configuração do TPS foi cancelada.  ");

} // namespace

TpsCalibration::TpsCalibration(Context &ctx) : ctx_(ctx) {}

void TpsCalibration::btnConfigurarTpsClick()
{
    ctx_.state.tps = TpsPhase::Started;
    const unsigned run = ++run_;
    savedMin_ = ctx_.state.wv.tpsMin;
    savedMax_ = ctx_.state.wv.tpsMax;
    savedBarMin_ = ctx_.screen.barMin(bar);
    savedBarMax_ = ctx_.screen.barMax(bar);
    enabledset::apply(ctx_); // the scanner's button and the others, as the calibration wants them
    ctx_.prompt.message(QString::fromUtf8(
        " Deixar  a  borboleta  Fechada  e  Seguir  as  instruções,  teclar Enter ou \" OK \" para continuar...  "));
    if (run != run_)
        return; // ended while the message was open (the port went away)
    samples_ = 1;
    steps_ = 0;
    closedSampled_ = false;
    fullSampled_ = false;
    ctx_.timerTps.setInterval(stepPeriodMs);
    ctx_.timerTps.setEnabled(true);
}

void TpsCalibration::cancel()
{
    // Disarm the sampling first: frames that still come in while the messages are
    // open must not take samples of a calibration that has ended.
    ctx_.timerTps.setEnabled(false);
    ctx_.state.tps = TpsPhase::None;
    ++run_;
    steps_ = 0;
    if (ctx_.state.scannerActive)
        ctx_.hooks.scannerToggle();
    ctx_.state.wv.tpsMin = savedMin_;
    ctx_.state.wv.tpsMax = savedMax_;
    ctx_.screen.setBarMin(bar, savedBarMin_);
    ctx_.screen.setBarMax(bar, savedBarMax_);
}

void TpsCalibration::cancelWith(const QStringList &messages)
{
    cancel();
    for (const QString &m : messages)
        ctx_.prompt.message(m);
    enabledset::apply(ctx_);
}

bool TpsCalibration::portLost()
{
    if (ctx_.state.tps == TpsPhase::None)
        return false;
    cancel();
    return true;
}

QString TpsCalibration::lostMessage()
{
    return QString::fromUtf8(
        " Atenção ! !  A configuração do TPS foi cancelada: os limites do TPS voltaram aos de antes "
        "e nada dela foi enviado ao módulo.  ");
}

void TpsCalibration::TimerTPSTimer()
{
    ctx_.state.tps = TpsPhase::Sampling;
    ++steps_;
    ctx_.screen.setText(ctl::Label92, numtext::formatInt(steps_));

    if (steps_ == 1)
        ctx_.hooks.scannerToggle();

    if (steps_ == 4) {
        ctx_.timerTps.setEnabled(false);
        if (!closedSampled_) {
            // No live data came in: there is no closed-throttle reading to go on with.
            cancelWith({noAnswer});
            return;
        }
        // The voltage is a whole number of 5/1023 V steps, never exactly the limit.
        if (ctx_.state.tpsVoltage > closedVoltageLimit) {
            cancel();
            ctx_.prompt.message(QString::fromUtf8("  ATENÇÃO ! ! !    A tensão do Tps esta muito alta para borboleta "
                                                  "fechada, favor ver manual Pág. 13 "));
            ctx_.prompt.message(QString::fromUtf8(" A configuração foi cancelada ! ! ! "));
            enabledset::apply(ctx_);
            return;
        }
        const unsigned run = run_;
        ctx_.prompt.message(
            QString::fromUtf8(" Abrir  totalmente  a  Borboleta,  teclar Enter ou \" OK \" para continuar.... "));
        if (run != run_)
            return; // ended while the message was open (the port went away)
        ctx_.hooks.scannerToggle();
        ctx_.timerTps.setEnabled(true);
    }

    if (steps_ == 11) {
        if (!fullSampled_) {
            // The full-throttle reading never came: do not send limits nobody measured.
            // A module that did send, only too slowly, is told apart from a silent one.
            const int came = samples_ - 2;
            if (came <= 0) {
                cancelWith({noAnswer});
            } else {
                const QString seconds = numtext::formatGeneral(fullWaitSteps * stepPeriodMs / 1000.0L);
                cancelWith({QString::fromUtf8(" Atenção ! !  Chegaram só %1 das %2 leituras do TPS em %3 segundos: o "
                                              "módulo envia os dados devagar demais. A configuração do TPS foi "
                                              "cancelada.  ")
                                .arg(came)
                                .arg(fullSampleFrames)
                                .arg(seconds)});
            }
            return;
        }
        try {
            ctx_.hooks.upload();
        } catch (const std::exception &e) {
            // Refused before its first frame: nothing was sent.
            cancelWith({QString::fromUtf8(e.what()), notSent});
            return;
        }
    }

    if (steps_ == 17) {
        if (uploadCompleted && !uploadCompleted()) {
            // The upload was interrupted (its message is shown): the ECU kept its
            // previous set, so the screen keeps the previous limits too.
            cancelWith({notSent});
            return;
        }
        ctx_.screen.setText(ctl::Label54, numtext::formatGeneral(ctx_.state.tpsVoltage));
        ctx_.timerTps.setEnabled(false);
        ctx_.state.tps = TpsPhase::None; // the limits are sent: a loss from now on keeps them
        ctx_.prompt.message(QString::fromUtf8("  CONFIGURAÇÃO  CONCLUIDA . . .  Abrir toda a borboleta e conferir se o "
                                              "sinal do TPS esta de 0 a 100% "));
        if (ctx_.state.portOpen()) // not onto a port that went away while the message was open
            ctx_.hooks.scannerToggle();
        enabledset::apply(ctx_);
    }
}

void TpsCalibration::sample(int reading)
{
    ++samples_;
    ctx_.screen.setText(ctl::Label91, numtext::formatInt(samples_));

    if (samples_ == 2) {
        // Closed throttle.
        ctx_.state.wv.tpsMin = reading;
        ctx_.screen.setBarMax(bar, ctx_.state.wv.tpsMin);
        ctx_.screen.setBarMin(bar, ctx_.state.wv.tpsMin / 4);
        ctx_.screen.setText(ctl::Label89, numtext::formatInt(reading));
        closedSampled_ = true;
        ctx_.hooks.scannerToggle();
    } else if (samples_ == 8) {
        // Full throttle, on the 0..255 scale of the bar, no higher than the read-back
        // takes back.
        const int min = ctx_.state.wv.tpsMin;
        ctx_.state.wv.tpsMax = std::min(reading > min ? reading / 4 : min + 1, tpslimits::maxTop);
        ctx_.screen.setBarMax(bar, ctx_.state.wv.tpsMax);
        ctx_.screen.setText(ctl::Label90, numtext::formatGeneral(ctx_.state.wv.tpsMax));
        fullSampled_ = true;
        ctx_.hooks.scannerToggle();
        ctx_.timerTps.setEnabled(true);
    }
}
