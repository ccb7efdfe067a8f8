// Records a steady stream of live frames into the log named on the command line and
// syncs twice a second, printing "synced <ms>" after each sync, until it is killed.
#include "datalog/recorder.h"

#include <cstdio>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    Recorder r;
    r.start(QString::fromLocal8Bit(argv[1]), QByteArray("tune\r\n"));
    LiveValues v;
    for (long n = 0;; ++n) {
        v.rpm = 800 + int(n % 5000);
        v.loadPosition = int(n % 43);
        for (int kind : {29, 30, 31})
            r.frame(kind, v);
        if (n % 160 == 0) {
            r.sync();
            std::printf("synced %lld\n", static_cast<long long>(r.rows()));
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(3000));
    }
}
