#include "link/tuneimage.h"

#include "common/context.h"
#include "common/tablescreen.h"
#include "link/parameterimage.h"

#include <stdexcept>

namespace {

// Nothing here reaches a line or a person: a call to the line is a fault.
class NoLine : public LinkPort {
public:
    int write(const QByteArray &) override { throw std::logic_error("no serial line"); }
    QByteArray read(int) override { throw std::logic_error("no serial line"); }
};
class NoPrompt : public Prompt {
public:
    void message(const QString &) override {}
    std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
    std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
    int question(const QString &, const QStringList &) override { return -1; }
};

// The start-up screen (the start-up table holds the window's first selections) and the
// working values the window starts with; no line, no prompt, no timer that ticks.
struct StartupScreen {
    StartupScreen() { state.wv.lambdaLoadSource = 5; }
    TableScreen screen;
    NoLine line;
    NoPrompt prompt;
    IdleTimer timer1, timer2, timerTps, timerReadBack;
    State state;
    Context ctx{screen, line, prompt, timer1, timer2, timerTps, timerReadBack, state, {}};
};

} // namespace

UploadImage uploadImage(ParameterImage &image)
{
    image.prepare();
    image.checkAll();
    UploadImage out{};
    for (int n = 1; n <= 32; ++n)
        out[std::size_t(n - 1)] = image.block(n);
    return out;
}

QByteArray imageBytes(const UploadImage &image)
{
    QByteArray bytes;
    bytes.reserve(256);
    for (const auto &block : image)
        for (std::uint8_t b : block)
            bytes.append(char(b));
    return bytes;
}

Tune startupTune()
{
    StartupScreen s;
    return MapFile(s.ctx).screenTune();
}

UploadImage tuneImage(const Tune &tune)
{
    StartupScreen s;
    MapFile(s.ctx).apply(tune);
    ParameterImage image(s.ctx);
    return uploadImage(image);
}
