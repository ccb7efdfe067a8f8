#pragma once
// The window's side for core tests: a screen over a table of controls built from the
// start-up table, a serial line that records writes and serves queued reads, timers
// that only remember their settings, and prompts answered from queues.
#include "common/context.h"
#include <functional>
#include "common/screen.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

struct FakeControl {
    QString text;
    QStringList items;
    int itemIndex = -1;
    bool enabled = true;
    bool visible = true;
    Rgb color{};
    Rgb fontColor{};
    int barMin = 0, barMax = 100, barPosition = 0;
    int focusCount = 0;
};

class FakeScreen : public Screen {
public:
    FakeScreen(); // every control of the start-up table with its start-up state
    QString text(const QString &name) const override;
    void setText(const QString &name, const QString &text) override;
    int itemIndex(const QString &name) const override;
    void setItemIndex(const QString &name, int index) override;
    QStringList items(const QString &name) const override;
    void setItems(const QString &name, const QStringList &items) override;
    bool isEnabled(const QString &name) const override;
    void setEnabled(const QString &name, bool enabled) override;
    bool isVisible(const QString &name) const override;
    void setVisible(const QString &name, bool visible) override;
    Rgb color(const QString &name) const override;
    void setColor(const QString &name, Rgb color) override;
    Rgb fontColor(const QString &name) const override;
    void setFontColor(const QString &name, Rgb color) override;
    int barMin(const QString &name) const override;
    int barMax(const QString &name) const override;
    int barPosition(const QString &name) const override;
    void setBarMin(const QString &name, int value) override;
    void setBarMax(const QString &name, int value) override;
    void setBarPosition(const QString &name, int value) override;
    void setFocus(const QString &name) override;

    // Typing into a combo box: the text changes and no entry stays selected unless
    // the text is one of the entries.
    void type(const QString &name, const QString &text);
    FakeControl &control(const QString &name); // throws on an unknown name
    const FakeControl &control(const QString &name) const;
    QString lastFocus;
    QStringList listItems(const QString &name) const { return control(name).items; }
    // Those of the named controls that are enabled (visible), in the order given.
    QStringList enabledOf(const QStringList &names) const;
    QStringList visibleOf(const QStringList &names) const;

private:
    QHash<QString, FakeControl> controls_;
};

class FakePort : public LinkPort {
public:
    int write(const QByteArray &bytes) override;
    QByteArray read(int count) override;
    QList<QByteArray> writes; // every write, in order
    std::deque<QByteArray> incoming; // each read takes up to count bytes from the front
    bool failWrites = false;  // writes throw the port's write error
    QByteArray allWritten() const;
};

class FakeTimer : public Timer {
public:
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

private:
    int interval_ = 1000;
    bool enabled_ = false;
};

class FakePrompt : public Prompt {
public:
    void message(const QString &text) override;
    std::optional<QString> saveFileName(const FileDialogSpec &setup) override;
    std::optional<QString> openFileName(const FileDialogSpec &setup) override;
    QStringList messages;                 // every message shown, in order
    std::deque<std::optional<QString>> fileAnswers; // answers to the file dialogs (nullopt: cancel)
    QList<FileDialogSpec> dialogs;        // every dialog shown
    std::function<void(const QString &)> onMessage; // runs while a message is "open"
};

// The fakes and a Context over them, as the window would hand it to one activity.
// State is as after start-up (lambda load source 5, TPS 130 and 230). Tests set the
// hooks they expect to be called.
struct Rig {
    FakeScreen screen;
    FakePort port;
    FakePrompt prompt;
    FakeTimer timer1, timer2, timerTps, timerReadBack;
    State state;
    Context ctx{screen, port, prompt, timer1, timer2, timerTps, timerReadBack, state, {}};
    Rig() { state.wv.lambdaLoadSource = 5; }
    // Runs a handler as the window's guard does: an escaping error is shown as a message.
    template <typename F> void guarded(F &&f)
    {
        try {
            f();
        } catch (const std::exception &e) {
            prompt.message(QString::fromUtf8(e.what()));
        }
    }
};
