#pragma once
// The guided TPS calibration: TimerTPS paces its steps every 500 ms, the kind-29
// decoder hands each TPS reading to sample() while the calibration flag (the tag of
// TimerTPS) is 1.
#include "common/context.h"

#include <QStringList>
#include <functional>

class TpsCalibration {
public:
    explicit TpsCalibration(Context &ctx);
    void btnConfigurarTpsClick();
    void TimerTPSTimer();
    void sample(int reading);
    // The port went away: a calibration that runs (also one whose first message is
    // still open) ends at once, its limits back to what they were before it began,
    // without a message of its own. Returns whether one ran.
    bool portLost();
    // What the window adds to the loss's message then.
    static QString lostMessage();
    int sampleCounter() const { return samples_; }
    int stepCounter() const { return steps_; }
    // True when the last upload ran to its end command; the calibration ends with
    // "CONFIGURAÇÃO  CONCLUIDA" only then.
    std::function<bool()> uploadCompleted;

private:
    // Ends a calibration that did not get both samples or whose closed-throttle sample
    // was too high: nothing is sent, the values from before the start come back.
    void cancel();
    // cancel(), then the messages, then both buttons enabled again.
    void cancelWith(const QStringList &messages);

    Context &ctx_;
    int samples_ = 0;
    int steps_ = 0;
    // Counts the calibrations started and ended: a step that showed a message finds out
    // from it whether its calibration ended while the message was open.
    unsigned run_ = 0;
    bool closedSampled_ = false; // the closed-throttle sample (count 2) was taken
    bool fullSampled_ = false;   // the full-throttle sample (count 8) was taken
    // TPS limits and throttle bar range as they were when the calibration started.
    int savedMin_ = 0, savedMax_ = 0;
    int savedBarMin_ = 0, savedBarMax_ = 0;
};
