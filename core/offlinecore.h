#pragma once
// The controller on a table screen with no serial line: what an upload of a parameter
// set would send, worked out without a port (velto-cli image, the verify after a write).
#include "common/context.h"
#include "core/tablescreen.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>

class Controller;
class ParameterImage;
struct Tune;

namespace tunediff {
struct Difference;
}

// The 32 blocks of 8 bytes of the parameter image, block 1 first.
using UploadImage = std::array<std::array<std::uint8_t, 8>, 32>;

// The image an upload of the screen sends: Prepare, the check of every block that the
// upload makes before its first frame, then each block as its tick converts it. Throws
// what the upload's start would show (a field that does not convert, a value that does
// not fit its byte).
UploadImage uploadImage(ParameterImage &image);
QByteArray imageBytes(const UploadImage &image);

// A timer that only keeps its settings: nothing ticks on its own.
class IdleTimer : public Timer {
public:
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

private:
    int interval_ = 1000;
    bool enabled_ = false;
};

class OfflineCore {
public:
    OfflineCore(); // the screen after start-up, with an empty port list
    ~OfflineCore();
    OfflineCore(const OfflineCore &) = delete;
    OfflineCore &operator=(const OfflineCore &) = delete;

    Controller &controller() { return *controller_; }
    TableScreen &screen() { return screen_; }
    // Puts the parameter set on screen as a load does and returns what an upload sends.
    UploadImage imageOf(const Tune &tune);

private:
    class NoLine : public LinkPort {
    public:
        int write(const QByteArray &) override;
        QByteArray read(int) override;
    };
    class NoPrompt : public Prompt {
    public:
        void message(const QString &text) override { messages << text; }
        std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
        std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
        int question(const QString &, const QStringList &) override { return -1; }
        QStringList messages;
    };

    TableScreen screen_;
    NoLine line_;
    NoPrompt prompt_;
    IdleTimer timer1_, timer2_, timerTps_, timerReadBack_;
    std::unique_ptr<Controller> controller_;
};

// The fields whose bytes differ between the image sent for the parameter set `sent` and
// the image `back` that the read-back screen (holding the texts of `back`) would upload.
// A field is named when its read-back text, put in place of the sent text, changes a
// byte at which the two images differ: a text that the ECU's units round (6050 read
// back as 6000) changes no byte and is not named. Maps first, then configuration, then
// the TPS limits; the texts are those of the two sets.
QList<tunediff::Difference> differingFields(const Tune &sent, const UploadImage &sentImage, const Tune &backTune,
                                            const UploadImage &backImage);
