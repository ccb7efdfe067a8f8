// Velto: sets up the ECU over the serial line.
#include "app/endonsignals.h"
#include "app/form1.h"
#include "app/startupprefetch.h"
#include "app/translations.h"
#include "datalog/datalog.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>
#include <cstdio>

namespace {
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// VELTO_GRAB=FILE.png: once the window is shown it writes a PNG of itself to FILE.png
// and the program ends (0 written, 1 not). The package check proves with it that an
// installed program finds and shows its picture.
void grabWhenShown(QWidget &window, const QString &path)
{
    QTimer::singleShot(0, &window, [&window, path] {
        const bool written = window.grab().save(path, "PNG");
        if (!written)
            std::fprintf(stderr, "velto: cannot write %s\n", qPrintable(path));
        QCoreApplication::exit(written ? 0 : 1);
    });
}
} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fputs("velto: no display available: set DISPLAY or QT_QPA_PLATFORM=offscreen\n", stderr);
        return 2;
    }
    usePortugueseLocale();
    // Before the application object: the fonts and the port list load beside it.
    StartupPrefetch prefetch;
    QApplication app(argc, argv);
    prefetch.applicationStarted();
    installQtTranslations(app);
    // The display name follows the application name ("Velto"). Setting it explicitly
    // would make Qt append " — Velto" to the title bar, which must show the caption
    // exactly as it is.
    QApplication::setApplicationName(QStringLiteral("Velto"));
    // Ties the window to the installed desktop entry (and its icon) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTO_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(VELTO_APP_ID),
                         QIcon(QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("velto.png")))));
    // The map page is not shown at start: built right after the first paint, the window
    // appears sooner.
    TForm1 form(nullptr, std::nullopt, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    const auto watch = endOnSignals(form);
    form.show();
    // velto [--vehicle DIR] [LOG.msl]: the vehicle's history opens as "Abrir veículo…"
    // opens it (DIR also from VELTO_VEHICLE); the log opens for replay with its viewer,
    // as "Abrir registro" opens it.
    QStringList arguments = QApplication::arguments().mid(1);
    QString vehicle = qEnvironmentVariable("VELTO_VEHICLE");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--vehicle") && i + 1 < arguments.size()) {
            vehicle = arguments.at(i + 1);
            arguments.remove(i, 2);
            break;
        }
        if (a.startsWith(QLatin1String("--vehicle="))) {
            vehicle = a.mid(10);
            arguments.remove(i);
            break;
        }
    }
    if (!vehicle.isEmpty())
        form.guarded([&] { form.openVehicle(vehicle); });
    if (!arguments.isEmpty())
        form.guarded([&] { form.datalog().openLog(arguments.at(0)); });
    // SIGTERM or SIGHUP while its refusal box was open: the program ends here.
    if (endRequested())
        return 0;
    const QString grab = qEnvironmentVariable("VELTO_GRAB");
    if (!grab.isEmpty())
        grabWhenShown(form, grab);
    eventLoopStarts();
    return app.exec();
}
