// velto-ecu-sim: an ECU at the far end of a pseudo-terminal.
//
// The program opens a pseudo-terminal, prints the device path of its slave side
// as the first line on stdout and then behaves as the ECU on the master side:
// it stores upload frames, answers the read request, streams live data while
// polled, and takes test commands from a control FIFO.
#include "options.h"
#include "simulator.h"

int main(int argc, char **argv)
{
    ecusim::Options o;
    if (!ecusim::parseOptions(argc, argv, o))
        return 2;
    ecusim::Simulator sim(std::move(o));
    return sim.run();
}
