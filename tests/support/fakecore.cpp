#include "fakecore.h"

CoreRig::CoreRig(const QStringList &ports)
{
    controller = std::make_unique<Controller>(screen, port, prompt, timer1, timer2, timerTps, timerReadBack);
    controller->FormCreate(ports);
}

void CoreRig::receive(int kind, std::array<std::uint8_t, 8> payload)
{
    QByteArray frame("HP");
    frame.append(char(kind));
    for (std::uint8_t b : payload)
        frame.append(char(b));
    frame.append('F');
    port.incoming.push_back(frame);
    guarded([&] { controller->ComPort1RxChar(); });
}
