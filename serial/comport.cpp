// The serial port component: open and close with their events, blocking writes,
// bounded reads, and the event thread with its synchronous hand-over to the GUI
// thread. The system calls are in comport_unix.cpp.
#include "serial/comport.h"

#include "serial/comport_backend.h"
#include "serial/porterror.h"

#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>

namespace {

// While unread bytes that the handler left behind sit in the input queue the
// device stays "readable"; the thread then looks for new bytes at this pace
// instead of polling the device.
constexpr int StaleRecheckMs = 10;
// A hand-over refused because the handler is still running (a modal box inside
// it) is tried again after this pause.
constexpr int BusyRetryMs = 10;

// Orders the building of a posted call on the event thread before its run on
// the GUI thread. Qt's event queue orders it too, but inside the library, where
// the thread sanitizer cannot see it; with this lock the order is explicit.
std::mutex postMutex;

struct ScopedFlag {
    explicit ScopedFlag(bool &flag) : flag_(flag) { flag_ = true; }
    ~ScopedFlag() { flag_ = false; }
    bool &flag_;
};

} // namespace

// ---------------------------------------------------------------- EComPort

namespace {

std::string portMessage(int code, int osError, const QString &explanation)
{
    QString text = EComPort::codeText(code);
    if (osError != -1)
        text += QStringLiteral(" (win error code: %1)").arg(osError);
    if (!explanation.isEmpty())
        text += QLatin1Char('\n') + explanation;
    return text.toStdString();
}

} // namespace

EComPort::EComPort(int code, int osError)
    : std::runtime_error(portMessage(code, osError, QString())),
      code_(code),
      osError_(osError)
{
}

EComPort::EComPort(int code, int osError, const QString &devicePath)
    : EComPort(code, osError, devicePath, osError == -1 ? QString() : explainPortError(code, osError, devicePath))
{
}

EComPort::EComPort(int code, int osError, const QString &devicePath, const QString &explanation)
    : std::runtime_error(portMessage(code, osError, explanation)),
      code_(code),
      osError_(osError),
      devicePath_(devicePath),
      explanation_(explanation)
{
}

EComPort::EComPort(const std::string &message, std::exception_ptr cause)
    : std::runtime_error(message),
      code_(HandlerFailed),
      osError_(-1),
      cause_(cause)
{
}

EComPort EComPort::fromCurrentException()
{
    const std::exception_ptr current = std::current_exception();
    try {
        std::rethrow_exception(current);
    } catch (const EComPort &e) {
        return e;
    } catch (const std::exception &e) {
        return EComPort(e.what(), current);
    } catch (...) {
        return EComPort("Unknown exception in an event handler", current);
    }
}

QString EComPort::codeText(int code)
{
    switch (code) {
    case OpenFailed: return QStringLiteral("Unable to open com port");
    case WriteFailed: return QStringLiteral("WriteFile function failed");
    case ReadFailed: return QStringLiteral("ReadFile function failed");
    case PurgeFailed: return QStringLiteral("PurgeComm function failed");
    case SetStateFailed: return QStringLiteral("SetCommState function failed");
    case SetTimeoutsFailed: return QStringLiteral("SetCommTimeouts failed");
    case SetupFailed: return QStringLiteral("SetupComm function failed");
    case ClearErrorFailed: return QStringLiteral("ClearCommError function failed");
    case ModemStatusFailed: return QStringLiteral("GetCommModemStatus function failed");
    default: return QStringLiteral("Com port error %1").arg(code);
    }
}

// ---------------------------------------------------------------- TComThread

struct HandOverSync {
    std::mutex mutex;
    std::condition_variable done;
    quint64 completed = 0; // number of the last hand-over that has returned
    TComThread::Result result;
    bool stop = false;
};

TComThread::TComThread(TCustomComPort *port, int fd, quint64 generation)
    : port_(port),
      fd_(fd),
      generation_(generation),
      sync_(std::make_shared<HandOverSync>()),
      waiter_(std::make_unique<ComWaiter>())
{
    if (int err = waiter_->create())
        throw EComPort(EComPort::OpenFailed, err);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &e) {
        throw EComPort(EComPort::OpenFailed, e.code().value());
    }
}

TComThread::~TComThread()
{
    stop();
    if (thread_.joinable())
        thread_.join();
}

void TComThread::stop()
{
    stop_.store(true);
    {
        std::lock_guard<std::mutex> lock(sync_->mutex);
        sync_->stop = true;
    }
    sync_->done.notify_all();
    waiter_->wake();
}

void TComThread::run()
{
    int stale = 0;     // bytes the last handler left unread
    bool rest = false; // "readable" with nothing to read: look again shortly
    while (!stopping()) {
        int err = 0;
        const ComWaiter::Event seen =
            (stale > 0 || rest) ? waiter_->wait(-1, StaleRecheckMs, &err) : waiter_->wait(fd_, -1, &err);
        if (stopping())
            return;
        Result result;
        switch (seen) {
        case ComWaiter::Event::Woken: continue;
        case ComWaiter::Event::Gone:
        case ComWaiter::Event::Failed:
            // Report once and stop watching the device; Close still joins us.
            deliver(Event::DeviceGone, err, &result);
            return;
        case ComWaiter::Event::Timeout: {
            rest = false;
            if (stale == 0)
                continue;
            int now = 0;
            if (int e = comPendingCount(fd_, &now)) {
                deliver(Event::DeviceGone, e, &result);
                return;
            }
            if (now <= stale) {
                stale = now;
                continue;
            }
            break;
        }
        case ComWaiter::Event::Readable: break;
        }
        if (!deliver(Event::BytesReceived, 0, &result))
            return;
        stale = 0;
        switch (result.status) {
        case Status::Delivered:
            if (result.taken == 0)
                stale = result.count;
            break;
        case Status::Nothing: rest = true; break;
        case Status::Failed: return;
        case Status::Busy:
        case Status::Stale: break;
        }
    }
}

// One hand-over, retried while the handler of the previous one is still running.
bool TComThread::deliver(Event event, int osError, Result *result)
{
    for (;;) {
        if (!handOver(event, osError, result))
            return false;
        if (result->status != Status::Busy)
            return true;
        pause(BusyRetryMs);
        if (stopping())
            return false;
    }
}

// Posts the event to the port's thread and waits until it has been handled or
// the port is closing. Returns false when closing: the posted call may then
// still arrive, and the generation check makes it a no-op.
bool TComThread::handOver(Event event, int osError, Result *result)
{
    const quint64 number = quint64(handOvers_.fetch_add(1) + 1);
    const std::shared_ptr<HandOverSync> sync = sync_;
    TCustomComPort *const port = port_;
    const quint64 generation = generation_;
    std::unique_lock<std::mutex> posting(postMutex);
    QMetaObject::invokeMethod(
        port,
        [port, sync, number, generation, event, osError] {
            {
                std::lock_guard<std::mutex> posted(postMutex);
            }
            const Result answer = port->dispatchLineEvent(generation, event, osError);
            {
                std::lock_guard<std::mutex> lock(sync->mutex);
                sync->result = answer;
                sync->completed = number;
            }
            sync->done.notify_all();
        },
        Qt::QueuedConnection);
    posting.unlock();
    std::unique_lock<std::mutex> lock(sync->mutex);
    sync->done.wait(lock, [&] { return sync->stop || sync->completed == number; });
    if (sync->completed != number)
        return false;
    *result = sync->result;
    return true;
}

void TComThread::pause(int ms)
{
    int err = 0;
    waiter_->wait(-1, ms, &err);
}

// ---------------------------------------------------------------- TCustomComPort

TCustomComPort::TCustomComPort(QObject *parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort()
{
    if (device_)
        closeDevice();
}

QString TCustomComPort::devicePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
}

EComPort TCustomComPort::failure(int code, int osError) const { return EComPort(code, osError, devicePath(port_)); }

void TCustomComPort::setPort(const QString &name)
{
    if (name == port_)
        return;
    StopPacing(); // the writer reads the name for its errors
    port_ = name;
    if (Connected()) {
        Close();
        Open();
    }
}

void TCustomComPort::Open()
{
    if (Connected())
        return;
    createHandle();
    try {
        applySettings();
        ++generation_;
        thread_ = std::make_unique<TComThread>(this, device_->fd(), generation_);
    } catch (...) {
        thread_.reset();
        destroyHandle();
        throw;
    }
    doAfterOpen();
    checkModemStatus();
}

void TCustomComPort::Close()
{
    if (!Connected())
        return;
    closeDevice();
    doAfterClose();
}

void TCustomComPort::closeDevice()
{
    StopPacing();
    thread_.reset(); // stop, wake, join: nobody else uses the descriptor now
    ++generation_;   // hand-overs still queued become no-ops
    device_->discardInput();
    destroyHandle();
}

void TCustomComPort::createHandle()
{
    auto device = std::make_unique<ComDevice>();
    if (int err = device->open(QFile::encodeName(devicePath(port_))))
        throw failure(EComPort::OpenFailed, err);
    device_ = std::move(device);
}

void TCustomComPort::destroyHandle()
{
    if (!device_)
        return;
    device_->close();
    device_.reset();
}

void TCustomComPort::applySettings()
{
    applyBuffer();
    applyLineSettings();
    applyTimeouts();
}

// The kernel sizes its own queues; only the values themselves can be wrong.
void TCustomComPort::applyBuffer()
{
    if (buffer_.inputSize <= 0 || buffer_.outputSize <= 0)
        throw failure(EComPort::SetupFailed, EINVAL);
}

void TCustomComPort::applyLineSettings()
{
    if (!device_)
        return;
    ComLineSettings line;
    line.baudRate = baudRate_;
    line.dataBits = dataBits_;
    line.parity = parity_;
    line.stopBits = stopBits_;
    line.flow = flowControl_;
    if (int err = device_->applyLineSettings(line))
        throw failure(EComPort::SetStateFailed, err);
}

// Time-outs are applied by each Read and Write; here they are only checked.
void TCustomComPort::applyTimeouts()
{
    const TComTimeouts &t = timeouts_;
    for (int v :
         {t.readInterval, t.readTotalMultiplier, t.readTotalConstant, t.writeTotalMultiplier, t.writeTotalConstant}) {
        if (v < -1)
            throw failure(EComPort::SetTimeoutsFailed, EINVAL);
    }
}

void TCustomComPort::checkModemStatus()
{
    if (!device_)
        return;
    if (int err = device_->checkModemStatus())
        throw failure(EComPort::ModemStatusFailed, err);
}

void TCustomComPort::doAfterOpen()
{
    if (OnAfterOpen)
        OnAfterOpen();
}

void TCustomComPort::doAfterClose()
{
    if (OnAfterClose)
        OnAfterClose();
}

void TCustomComPort::doRxChar(int count)
{
    if (OnRxChar)
        OnRxChar(count);
}

void TCustomComPort::doError(const EComPort &error)
{
    if (OnError)
        OnError(error);
}

int TCustomComPort::Write(const QByteArray &data)
{
    if (data.isEmpty())
        return 0;
    if (!device_)
        throw failure(EComPort::WriteFailed, EBADF);
    const qint64 total = qint64(timeouts_.writeTotalMultiplier) * data.size() + timeouts_.writeTotalConstant;
    qsizetype written = 0;
    if (int err = device_->write(data.constData(), data.size(),
                                 int(std::min<qint64>(std::max<qint64>(total, 0), INT_MAX)), &written))
        throw failure(EComPort::WriteFailed, err);
    return int(written);
}

void TCustomComPort::StartPacing(int periodMs)
{
    StopPacing();
    if (!device_)
        throw failure(EComPort::WriteFailed, EBADF);
    const quint64 generation = ++paceGeneration_;
    // The writer's thread reads only what the GUI thread leaves alone while it runs
    // (device, time-outs, name): Close, setPort and StopPacing join it first.
    auto write = [this](const QByteArray &bytes) { return Write(bytes); };
    auto passed = [this, generation](const PacedSlot &slot) {
        {
            std::lock_guard<std::mutex> lock(passedMutex_);
            passed_.push_back(slot);
        }
        std::unique_lock<std::mutex> posting(postMutex);
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                {
                    std::lock_guard<std::mutex> posted(postMutex);
                }
                dispatchPacedSlots(generation);
            },
            Qt::QueuedConnection);
    };
    try {
        pacer_ = std::make_unique<PacedWriter>(write, passed, std::chrono::milliseconds(periodMs));
    } catch (const std::system_error &e) {
        throw failure(EComPort::WriteFailed, e.code().value());
    }
}

void TCustomComPort::PaceSlot(int slot, const QByteArray &bytes)
{
    if (!pacer_)
        throw failure(EComPort::WriteFailed, EBADF);
    pacer_->hand(slot, bytes);
}

QList<PacedSlot> TCustomComPort::StopPacing()
{
    if (!pacer_)
        return {};
    pacer_->stop();
    pacer_.reset();
    ++paceGeneration_; // its calls still queued find nothing
    return takePassedSlots();
}

QList<PacedSlot> TCustomComPort::takePassedSlots()
{
    std::lock_guard<std::mutex> lock(passedMutex_);
    QList<PacedSlot> passed(passed_.begin(), passed_.end());
    passed_.clear();
    return passed;
}

// Runs on the GUI thread; nothing may escape from a queued call. One slot at a time:
// a handler that stops the pacing leaves the rest to StopPacing's caller.
void TCustomComPort::dispatchPacedSlots(quint64 generation)
{
    while (generation == paceGeneration_) {
        std::optional<PacedSlot> slot;
        {
            std::lock_guard<std::mutex> lock(passedMutex_);
            if (passed_.empty())
                return;
            slot = passed_.front();
            passed_.pop_front();
        }
        try {
            if (OnSlotPassed)
                OnSlotPassed(*slot);
        } catch (...) {
            reportError(EComPort::fromCurrentException());
        }
    }
}

namespace {

ComReadLimits readLimits(const TComTimeouts &t, int count)
{
    const qint64 total = qint64(t.readTotalMultiplier) * count + t.readTotalConstant;
    ComReadLimits limits;
    if (total > 0)
        limits.totalMs = int(std::min<qint64>(total, INT_MAX));
    if (t.readInterval == -1 && total <= 0)
        limits.idleMs = 0;
    else if (t.readInterval > 0)
        limits.idleMs = t.readInterval;
    else if (total <= 0)
        limits.idleMs = TCustomComPort::ReadIdleLimitMs;
    return limits;
}

} // namespace

int TCustomComPort::Read(QByteArray &s, int count)
{
    s.clear();
    if (!device_)
        throw failure(EComPort::ReadFailed, EBADF);
    if (count <= 0)
        return 0;
    s.resize(count);
    qsizetype received = 0;
    const int err = device_->read(s.data(), count, readLimits(timeouts_, count), &received, *readClock_);
    s.resize(received);
    bytesRead_ += received;
    if (err)
        throw failure(EComPort::ReadFailed, err);
    return int(received);
}

int TCustomComPort::InputCount()
{
    if (!device_)
        throw failure(EComPort::ClearErrorFailed, EBADF);
    int count = 0;
    if (int err = device_->pendingCount(&count))
        throw failure(EComPort::ClearErrorFailed, err);
    return count;
}

void TCustomComPort::setBaudRate(int baud)
{
    if (baud == baudRate_)
        return;
    baudRate_ = baud;
    applyLineSettings();
}

void TCustomComPort::setDataBits(int bits)
{
    if (bits == dataBits_)
        return;
    dataBits_ = bits;
    applyLineSettings();
}

void TCustomComPort::setParity(const TComParity &parity)
{
    if (parity == parity_)
        return;
    parity_ = parity;
    applyLineSettings();
}

void TCustomComPort::setStopBits(TStopBits bits)
{
    if (bits == stopBits_)
        return;
    stopBits_ = bits;
    applyLineSettings();
}

void TCustomComPort::setFlowControl(const TComFlowControl &flow)
{
    if (flow == flowControl_)
        return;
    flowControl_ = flow;
    applyLineSettings();
}

void TCustomComPort::setBuffer(const TComBuffer &buffer)
{
    if (buffer == buffer_)
        return;
    buffer_ = buffer;
    if (Connected())
        applyBuffer();
}

void TCustomComPort::setTimeouts(const TComTimeouts &timeouts)
{
    if (timeouts == timeouts_)
        return;
    timeouts_ = timeouts;
    if (Connected())
        applyTimeouts();
}

// Runs on the port's thread for each hand-over. Nothing may escape from here:
// this is a queued call inside the event loop.
TComThread::Result TCustomComPort::dispatchLineEvent(quint64 generation, TComThread::Event event, int osError)
{
    using Status = TComThread::Status;
    TComThread::Result result;
    if (generation != generation_ || !device_) {
        result.status = Status::Stale;
        return result;
    }
    if (dispatching_) {
        result.status = Status::Busy;
        return result;
    }
    ScopedFlag dispatching(dispatching_);
    if (event == TComThread::Event::DeviceGone) {
        reportError(failure(EComPort::ReadFailed, osError));
        result.status = Status::Failed;
        return result;
    }
    int count = 0;
    if (int err = device_->pendingCount(&count)) {
        reportError(failure(EComPort::ClearErrorFailed, err));
        result.status = Status::Failed;
        return result;
    }
    if (count <= 0) {
        result.status = Status::Nothing;
        return result;
    }
    const qint64 readBefore = bytesRead_;
    try {
        doRxChar(count);
    } catch (...) {
        reportError(EComPort::fromCurrentException());
    }
    result.status = Status::Delivered;
    result.count = count;
    result.taken = bytesRead_ - readBefore;
    return result;
}

// An error raised on the event thread's behalf: OnError is its only way out.
void TCustomComPort::reportError(const EComPort &error)
{
    try {
        doError(error);
    } catch (...) {
    }
}

// ---------------------------------------------------------------- TComPort

TComPort::TComPort(QObject *parent) : TCustomComPort(parent)
{
    setBaudRate(38400);
    setTimeouts(TComTimeouts{0, 0, 0, 0, 0});
}
