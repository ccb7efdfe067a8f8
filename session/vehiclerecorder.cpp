#include "session/vehiclerecorder.h"

#include <QObject>
#include <QStringList>
#include <exception>

VehicleRecorder::VehicleRecorder(const QString &folder, Prompt &prompt, QObject *context)
    : prompt_(prompt),
      anchor_(std::make_unique<QObject>())
{
    vehicle_ = std::make_unique<history::Vehicle>(folder, history::Vehicle::Open::CreateIfMissing);
    folder_ = vehicle_->folder();
    name_ = vehicle_->name();
    openMessages_ = vehicle_->messages();
    try {
        if (const std::optional<QString> marked = vehicle_->inModule())
            moduleCommit_ = vehicle_->entry(*marked).commit;
    } catch (const history::UnknownEntry &) {
        // A mark naming no entry: what the module holds is unknown.
    }
    Q_UNUSED(context); // the anchor lives on the thread that makes the recorder
    thread_ = std::thread([this] { run(); });
}

VehicleRecorder::~VehicleRecorder()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    vehicle_.reset();
}

void VehicleRecorder::event(TuneEvent event, const Tune &tune, const QString &port, const QDateTime &when)
{
    switch (event) {
    case TuneEvent::Sent: return record(history::kind::sent, tune, port, true, when);
    case TuneEvent::Read:
    case TuneEvent::ModuleMatched: // the check read the module: its set is the latest entry, or a new one
        return record(history::kind::read, tune, port, true, when);
    case TuneEvent::Loaded: return record(history::kind::loaded, tune, port, false, when);
    case TuneEvent::Saved: return record(history::kind::saved, tune, port, false, when);
    case TuneEvent::Corrected: return record(history::kind::correction, tune, port, false, when);
    case TuneEvent::TpsCalibrated: return record(history::kind::tps, tune, port, true, when);
    case TuneEvent::ModuleUnknown:
        return enqueue(
            [this](history::Vehicle &v) {
                {
                    std::lock_guard lock(mutex_);
                    moduleCommit_.clear();
                }
                v.clearInModule();
            },
            true);
    }
}

void VehicleRecorder::record(const QString &kind, const Tune &tune, const QString &port, bool inModule,
                             const QDateTime &when)
{
    enqueue(
        [this, kind, tune, port, inModule, when](history::Vehicle &v) {
            try {
                const history::Entry entry = v.record(kind, tune, port, when);
                if (inModule) {
                    {
                        // What the module runs is this entry even when the mark fails
                        // to be written (a full disk): the logs name it.
                        std::lock_guard lock(mutex_);
                        moduleCommit_ = entry.commit;
                    }
                    v.markInModule(entry.id);
                }
            } catch (const std::exception &e) {
                if (inModule) {
                    // The module runs a set the history could not keep: no entry names it.
                    std::lock_guard lock(mutex_);
                    moduleCommit_.clear();
                }
                throw std::runtime_error(
                    QStringLiteral("%1\nA entrada \"%2\" não foi registrada no histórico; o ajuste "
                                   "na tela não mudou.")
                        .arg(QString::fromUtf8(e.what()), kind)
                        .toStdString());
            }
            try {
                v.compact();
            } catch (const std::exception &) {
                // The entry is written; packing is tried again after the next one.
            }
        },
        true);
}

void VehicleRecorder::enqueue(std::function<void(history::Vehicle &)> work, bool entry)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({std::move(work), entry});
    }
    wake_.notify_one();
}

void VehicleRecorder::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            break; // stopping, and everything queued is written
        Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        QString failure;
        try {
            job.work(*vehicle_);
        } catch (const std::exception &e) {
            failure = QString::fromUtf8(e.what());
        } catch (...) {
            failure = QStringLiteral("Erro desconhecido no histórico do veículo.");
        }
        lock.lock();
        busy_ = false;
        if (!job.entry) {
            // What the user asked for tells its own failure.
        } else if (failure.isEmpty()) {
            failing_ = false;
        } else if (!failing_) {
            // A full disk fails every entry after it: the first one tells it.
            failing_ = true;
            failures_ << failure;
            if (!tellQueued_) {
                tellQueued_ = true;
                QMetaObject::invokeMethod(
                    anchor_.get(), [this] { tellFailures(); }, Qt::QueuedConnection);
            }
        }
        if (queue_.empty())
            idle_.notify_all();
    }
    idle_.notify_all();
}

void VehicleRecorder::callVoid(const std::function<void(history::Vehicle &)> &work)
{
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    std::exception_ptr error;
    enqueue(
        [&](history::Vehicle &v) {
            try {
                work(v);
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(doneMutex);
            done = true;
            doneWake.notify_all();
        },
        false);
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
    if (error)
        std::rethrow_exception(error);
}

QString VehicleRecorder::moduleEntry()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    return moduleCommit_;
}

QString VehicleRecorder::logsFolder()
{
    return call<QString>([](history::Vehicle &v) { return v.logsFolder(); });
}

void VehicleRecorder::flush()
{
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    tellFailures();
}

void VehicleRecorder::tellFailures()
{
    QStringList failures;
    {
        std::lock_guard lock(mutex_);
        failures.swap(failures_);
        tellQueued_ = false;
    }
    if (failures.isEmpty())
        return;
    try {
        prompt_.message(failures.join(u'\n'));
    } catch (const std::exception &) {
        // A failing message box must not take the program down.
    }
}
