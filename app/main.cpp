// Velto: sets up the ECU over the serial line.
#include "app/form1.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>

namespace
{
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}
} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fputs("velto: no display available: set DISPLAY or QT_QPA_PLATFORM=offscreen\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    // The display name follows the application name ("Velto"). Setting it explicitly
    // would make Qt append " — Velto" to the title bar, which must show the caption
    // exactly as it is.
    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("velto"),
                         QIcon(QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("velto.png")))));
    TForm1 form;
    form.show();
    return app.exec();
}
