#pragma once
// Start-up work that needs no widget, done on a second thread while the toolkit
// starts and the window is built: the font configuration's first loading (the
// window's first text measured would otherwise wait for it), the port list (a walk
// through the device tree) and, once the application object exists, the image-format
// plugins (the style's first picture, the frame of the group boxes, makes the toolkit
// load every one of them to ask whether it reads the picture). main() makes one before
// the application object; the window waits for the fonts before its first control and
// takes the port list from it. Without one, the window does the same work itself, at
// the same points.
#include <QStringList>

#include <functional>
#include <future>
#include <thread>

class StartupPrefetch {
public:
    // listPorts: how the port list is read (EnumComPorts when null).
    explicit StartupPrefetch(std::function<QStringList()> listPorts = nullptr);
    ~StartupPrefetch(); // waits for the thread
    StartupPrefetch(const StartupPrefetch &) = delete;
    StartupPrefetch &operator=(const StartupPrefetch &) = delete;

    // The application object exists: the image-format plugins load on the second
    // thread. Without this call they load where the toolkit first reads a picture.
    void applicationStarted();

    // Returns once the font configuration is loaded (at once without a prefetch).
    static void waitForFonts();
    // The ports that can be opened: the list read at start the first time it is asked
    // for (an error while reading it comes out here), read now otherwise.
    static QStringList ports();

private:
    void run();

    std::function<QStringList()> listPorts_;
    std::promise<void> fonts_;
    std::promise<QStringList> ports_;
    std::future<void> fontsLoaded_;
    std::future<QStringList> portList_;
    bool portsTaken_ = false;
    std::promise<bool> application_; // true: the application object exists; false: ending first
    bool applicationTold_ = false;
    std::thread thread_; // last: starts once the rest is made
};
