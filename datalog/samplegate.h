#pragma once
// The module sends kinds 29, 30 and 31 for each sample of the engine. A sample is
// complete on a kind 31 once kinds 29 and 30 have come since the start: the recorder
// writes one row and the live listeners get one row there, never one per frame.

class SampleGate {
public:
    void restart() { seen_ = 0; }
    // A decoded live frame; true when it completes a sample.
    bool complete(int kind)
    {
        if (kind < 29 || kind > 31)
            return false;
        seen_ |= 1u << (kind - 29);
        return kind == 31 && seen_ == 7;
    }

private:
    unsigned seen_ = 0;
};
