#include "app/startupprefetch.h"

#include "serial/portnames.h"

#include <QImageReader>

#include <fontconfig/fontconfig.h>
#include <locale.h>

namespace {

StartupPrefetch *running = nullptr; // the one main() made, while it lives

// The application object sets the process's locale while this thread reads numbers
// in the font configuration; a locale of the thread's own keeps the two apart. It is
// the one the application object sets (the environment's, or C when that is missing).
class ThreadLocale {
public:
    ThreadLocale()
    {
        locale_ = newlocale(LC_ALL_MASK, "", locale_t(nullptr));
        if (!locale_)
            locale_ = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        if (locale_)
            uselocale(locale_);
    }
    ~ThreadLocale()
    {
        if (!locale_)
            return;
        uselocale(LC_GLOBAL_LOCALE);
        freelocale(locale_);
    }
    ThreadLocale(const ThreadLocale &) = delete;
    ThreadLocale &operator=(const ThreadLocale &) = delete;

private:
    locale_t locale_ = locale_t(nullptr);
};

} // namespace

StartupPrefetch::StartupPrefetch(std::function<QStringList()> listPorts)
    : listPorts_(listPorts ? std::move(listPorts) : EnumComPorts),
      fontsLoaded_(fonts_.get_future()),
      portList_(ports_.get_future()),
      thread_([this] { run(); })
{
    running = this;
}

StartupPrefetch::~StartupPrefetch()
{
    if (!applicationTold_)
        application_.set_value(false);
    thread_.join();
    if (running == this)
        running = nullptr;
}

void StartupPrefetch::run()
{
    const ThreadLocale locale;
    // The toolkit's font database loads the same default configuration on its first
    // use and finds it loaded.
    FcInit();
    fonts_.set_value();
    try {
        ports_.set_value(listPorts_());
    } catch (...) {
        ports_.set_exception(std::current_exception());
    }
    // The plugins are looked for in the application's folders too: only once it exists.
    if (application_.get_future().get())
        QImageReader::supportedImageFormats();
}

void StartupPrefetch::applicationStarted()
{
    if (applicationTold_)
        return;
    applicationTold_ = true;
    application_.set_value(true);
}

void StartupPrefetch::waitForFonts()
{
    if (running)
        running->fontsLoaded_.wait();
}

QStringList StartupPrefetch::ports()
{
    if (!running || running->portsTaken_)
        return EnumComPorts();
    running->portsTaken_ = true;
    return running->portList_.get();
}
