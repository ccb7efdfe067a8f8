#pragma once
// The guided TPS calibration: TimerTPS paces its steps every 500 ms, the kind-29
// decoder hands each TPS reading to sample() while the calibration flag (the tag of
// TimerTPS) is 1.
#include "common/context.h"

class TpsCalibration {
public:
    explicit TpsCalibration(Context &ctx);
    void btnConfigurarTpsClick();
    void TimerTPSTimer();
    void sample(int reading);
    int sampleCounter() const { return samples_; }
    int stepCounter() const { return steps_; }

private:
    Context &ctx_;
    int samples_ = 0;
    int steps_ = 0;
};
