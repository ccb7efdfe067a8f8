#pragma once
// The vehicle open in the window: its history written on a thread of its own, so that
// the window never waits on the disk. The controller's events become entries in the
// order they happened (one queue); a failure of the history (a full disk, a folder
// gone) comes back to the window's thread as one message through the prompt, and the
// tune on screen is left as it is. What the user asks for (the list of entries, a
// note, a tag, an entry's tune) runs on the same thread, after what is queued, and is
// waited for.
#include "common/context.h"
#include "core/controller.h"
#include "history/vehicle.h"

#include <QDateTime>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

class VehicleRecorder {
public:
    // Opens (or makes) the history in folder; throws its refusal (a folder that holds
    // something else). context: an object of the window's thread, for the messages.
    VehicleRecorder(const QString &folder, Prompt &prompt, QObject *context);
    // Writes what is still queued, then ends the thread.
    ~VehicleRecorder();
    VehicleRecorder(const VehicleRecorder &) = delete;
    VehicleRecorder &operator=(const VehicleRecorder &) = delete;

    QString folder() const { return folder_; }
    QString name() const { return name_; }
    // What opening repaired (history::Vehicle::messages), empty when nothing.
    QString openMessages() const { return openMessages_; }

    // Queues the entry of a controller's event (the kind texts of history::kind); returns
    // at once.
    void event(TuneEvent event, const Tune &tune, const QString &port,
               const QDateTime &when = QDateTime::currentDateTime());
    // Queues an entry of kind for tune, marked "no módulo" when inModule.
    void record(const QString &kind, const Tune &tune, const QString &port, bool inModule,
                const QDateTime &when = QDateTime::currentDateTime());

    // Runs work on the history's thread after everything queued, waits for it and
    // returns its result; what it throws is thrown here.
    template <typename T> T call(std::function<T(history::Vehicle &)> work)
    {
        T result{};
        callVoid([&](history::Vehicle &v) { result = work(v); });
        return result;
    }
    void callVoid(const std::function<void(history::Vehicle &)> &work);

    // The full hash of the entry marked "no módulo" once what is queued is written (the
    // entry of an upload just made); empty when the module's set is unknown. Waits only
    // for the queue: the mark itself is kept in memory, not read from the disk.
    QString moduleEntry();
    // registros/ of the vehicle: the folder its logs go to (made, and left out of git).
    QString logsFolder();

    // Waits until every queued entry is written, then shows a failure still to be told.
    void flush();
    // Shows the failures the thread met since the last time (one message), if any.
    void tellFailures();

private:
    struct Job {
        std::function<void(history::Vehicle &)> work;
        bool entry = false; // an entry or the mark: its failure is told through the prompt
    };
    void enqueue(std::function<void(history::Vehicle &)> work, bool entry);
    void run();

    QString folder_, name_, openMessages_;
    Prompt &prompt_;
    std::unique_ptr<QObject> anchor_;           // the queued message dies with the recorder
    std::unique_ptr<history::Vehicle> vehicle_; // the thread's once it runs

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Job> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    QStringList failures_; // met by the thread, not told yet
    bool failing_ = false; // the last entry failed: more of the same are not told again
    bool tellQueued_ = false;
    QString moduleCommit_; // the mark's full hash, as the thread last wrote it
    std::thread thread_;
};
