// Test helper run as another user: "open PATH" opens a port and prints the
// component's message (or "aberta"); "list" prints the port list, one port a
// line: path, description and "sim"/"não" for access, separated by tabs.
#include "serial/comport.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "open") == 0) {
        TComPort port;
        port.setPort(QString::fromLocal8Bit(argv[2]));
        try {
            port.Open();
        } catch (const EComPort &e) {
            std::fputs(e.what(), stdout);
            return 1;
        }
        std::fputs("aberta", stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
        for (const SerialPortInfo &p : listPorts())
            std::printf("%s\t%s\t%s\n", qPrintable(p.path), p.description.toUtf8().constData(),
                        p.accessible ? "sim" : "não");
        return 0;
    }
    std::fputs("uso: velto-porttry open CAMINHO | list\n", stderr);
    return 2;
}
