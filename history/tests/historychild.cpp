// Makes one entry after another in the vehicle history named on the command line, each
// with one more map cell changed, printing "recorded <n>" after each, until it is killed.
#include "history/vehicle.h"
#include "link/tuneimage.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    history::Vehicle vehicle(QString::fromLocal8Bit(argv[1]));
    Tune tune = startupTune();
    for (long n = 1;; ++n) {
        tune.texts[8 + int(n % 144)] = QString::number(n % 40);
        tune.texts[2] = QString::number(3000 + n);
        vehicle.record(history::kind::sent, tune, QStringLiteral("/dev/ttyUSB0"));
        std::printf("recorded %ld\n", n);
        std::fflush(stdout);
    }
}
