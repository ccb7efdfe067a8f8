#pragma once
// The window's side for core tests: a screen over a table of controls built from the
// start-up table, a serial line that records writes and serves queued reads, timers
// that only remember their settings, and prompts answered from queues.
#include "common/context.h"
#include <functional>
#include "common/screen.h"
#include "common/tablescreen.h"
#include "core/tunediff.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

using FakeControl = TableControl;

// The core's table screen, with what tests ask of it besides.
class FakeScreen : public TableScreen {
public:
    QStringList listItems(const QString &name) const { return control(name).items; }
    // Those of the named controls that are enabled (visible), in the order given.
    QStringList enabledOf(const QStringList &names) const;
    QStringList visibleOf(const QStringList &names) const;
};

class FakePort : public LinkPort {
public:
    int write(const QByteArray &bytes) override;
    QByteArray read(int count) override;
    QList<QByteArray> writes; // every write, in order
    std::deque<QByteArray> incoming; // each read takes up to count bytes from the front
    bool failWrites = false;  // writes throw the port's write error
    bool refuseWrites = false; // the device went away before: writes throw, nothing goes out
    bool refusing() const override { return refuseWrites; }
    QByteArray allWritten() const;
};

// A timer that only remembers its settings.
using FakeTimer = IdleTimer;

class FakePrompt : public Prompt {
public:
    void message(const QString &text) override;
    std::optional<QString> saveFileName(const FileDialogSpec &setup) override;
    std::optional<QString> openFileName(const FileDialogSpec &setup) override;
    int question(const QString &text, const QStringList &buttons) override;
    // Recorded, then asked as question().
    int differenceQuestion(const QString &text, const QList<tunediff::Difference> &differences,
                           const QStringList &buttons) override;
    std::optional<QString> askText(const QString &question, const QString &initial) override;
    QStringList messages;                 // every message shown, in order
    std::deque<std::optional<QString>> fileAnswers; // answers to the file dialogs (nullopt: cancel)
    QList<FileDialogSpec> dialogs;        // every dialog shown
    std::function<void(const QString &)> onMessage; // runs while a message is "open"
    QStringList questions;                // every question asked, in order
    QList<QStringList> questionButtons;   // the buttons of each question
    QList<QList<tunediff::Difference>> questionDifferences; // the rows of each difference question
    std::deque<int> questionAnswers;      // the button chosen for each (none left: -1, closed)
    QStringList textQuestions;            // every text asked for, in order
    std::deque<std::optional<QString>> textAnswers; // the answer to each (none left: cancel)
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
