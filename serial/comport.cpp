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
    explicit ScopedFlag(bool &flag) : m_flag(flag) { m_flag = true; }
    ~ScopedFlag() { m_flag = false; }
    bool &m_flag;
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
    : std::runtime_error(portMessage(code, osError, QString())), m_code(code), m_osError(osError)
{
}

EComPort::EComPort(int code, int osError, const QString &devicePath)
    : EComPort(code, osError, devicePath,
               osError == -1 ? QString() : explainPortError(code, osError, devicePath))
{
}

EComPort::EComPort(int code, int osError, const QString &devicePath, const QString &explanation)
    : std::runtime_error(portMessage(code, osError, explanation)), m_code(code), m_osError(osError),
      m_devicePath(devicePath), m_explanation(explanation)
{
}

EComPort::EComPort(const std::string &message, std::exception_ptr cause)
    : std::runtime_error(message), m_code(HandlerFailed), m_osError(-1), m_cause(cause)
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
    : m_port(port), m_fd(fd), m_generation(generation),
      m_sync(std::make_shared<HandOverSync>()), m_waiter(std::make_unique<ComWaiter>())
{
    if (int err = m_waiter->create())
        throw EComPort(EComPort::OpenFailed, err);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &e) {
        throw EComPort(EComPort::OpenFailed, e.code().value());
    }
}

TComThread::~TComThread()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

void TComThread::stop()
{
    m_stop.store(true);
    {
        std::lock_guard<std::mutex> lock(m_sync->mutex);
        m_sync->stop = true;
    }
    m_sync->done.notify_all();
    m_waiter->wake();
}

void TComThread::run()
{
    int stale = 0;     // bytes the last handler left unread
    bool rest = false; // "readable" with nothing to read: look again shortly
    while (!stopping()) {
        int err = 0;
        const ComWaiter::Event seen = (stale > 0 || rest)
                                          ? m_waiter->wait(-1, StaleRecheckMs, &err)
                                          : m_waiter->wait(m_fd, -1, &err);
        if (stopping())
            return;
        Result result;
        switch (seen) {
        case ComWaiter::Event::Woken:
            continue;
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
            if (int e = comPendingCount(m_fd, &now)) {
                deliver(Event::DeviceGone, e, &result);
                return;
            }
            if (now <= stale) {
                stale = now;
                continue;
            }
            break;
        }
        case ComWaiter::Event::Readable:
            break;
        }
        if (!deliver(Event::BytesReceived, 0, &result))
            return;
        stale = 0;
        switch (result.status) {
        case Status::Delivered:
            if (result.taken == 0)
                stale = result.count;
            break;
        case Status::Nothing:
            rest = true;
            break;
        case Status::Failed:
            return;
        case Status::Busy:
        case Status::Stale:
            break;
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
    const quint64 number = quint64(m_handOvers.fetch_add(1) + 1);
    const std::shared_ptr<HandOverSync> sync = m_sync;
    TCustomComPort *const port = m_port;
    const quint64 generation = m_generation;
    std::unique_lock<std::mutex> posting(postMutex);
    QMetaObject::invokeMethod(
        port,
        [port, sync, number, generation, event, osError] {
            { std::lock_guard<std::mutex> posted(postMutex); }
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
    m_waiter->wait(-1, ms, &err);
}

// ---------------------------------------------------------------- TCustomComPort

TCustomComPort::TCustomComPort(QObject *parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort()
{
    if (m_device)
        closeDevice();
}

QString TCustomComPort::devicePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
}

EComPort TCustomComPort::failure(int code, int osError) const
{
    return EComPort(code, osError, devicePath(m_port));
}

void TCustomComPort::setPort(const QString &name)
{
    if (name == m_port)
        return;
    StopPacing(); // the writer reads the name for its errors
    m_port = name;
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
        ++m_generation;
        m_thread = std::make_unique<TComThread>(this, m_device->fd(), m_generation);
    } catch (...) {
        m_thread.reset();
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
    m_thread.reset(); // stop, wake, join: nobody else uses the descriptor now
    ++m_generation;   // hand-overs still queued become no-ops
    m_device->discardInput();
    destroyHandle();
}

void TCustomComPort::createHandle()
{
    auto device = std::make_unique<ComDevice>();
    if (int err = device->open(QFile::encodeName(devicePath(m_port))))
        throw failure(EComPort::OpenFailed, err);
    m_device = std::move(device);
}

void TCustomComPort::destroyHandle()
{
    if (!m_device)
        return;
    m_device->close();
    m_device.reset();
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
    if (m_buffer.inputSize <= 0 || m_buffer.outputSize <= 0)
        throw failure(EComPort::SetupFailed, EINVAL);
}

void TCustomComPort::applyLineSettings()
{
    if (!m_device)
        return;
    ComLineSettings line;
    line.baudRate = m_baudRate;
    line.dataBits = m_dataBits;
    line.parity = m_parity;
    line.stopBits = m_stopBits;
    line.flow = m_flowControl;
    if (int err = m_device->applyLineSettings(line))
        throw failure(EComPort::SetStateFailed, err);
}

// Time-outs are applied by each Read and Write; here they are only checked.
void TCustomComPort::applyTimeouts()
{
    const TComTimeouts &t = m_timeouts;
    for (int v : {t.readInterval, t.readTotalMultiplier, t.readTotalConstant,
                  t.writeTotalMultiplier, t.writeTotalConstant}) {
        if (v < -1)
            throw failure(EComPort::SetTimeoutsFailed, EINVAL);
    }
}

void TCustomComPort::checkModemStatus()
{
    if (!m_device)
        return;
    if (int err = m_device->checkModemStatus())
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
    if (!m_device)
        throw failure(EComPort::WriteFailed, EBADF);
    const qint64 total =
        qint64(m_timeouts.writeTotalMultiplier) * data.size() + m_timeouts.writeTotalConstant;
    qsizetype written = 0;
    if (int err = m_device->write(data.constData(), data.size(),
                                  int(std::min<qint64>(std::max<qint64>(total, 0), INT_MAX)),
                                  &written))
        throw failure(EComPort::WriteFailed, err);
    return int(written);
}

void TCustomComPort::StartPacing(int periodMs)
{
    StopPacing();
    if (!m_device)
        throw failure(EComPort::WriteFailed, EBADF);
    const quint64 generation = ++m_paceGeneration;
    // The writer's thread reads only what the GUI thread leaves alone while it runs
    // (device, time-outs, name): Close, setPort and StopPacing join it first.
    auto write = [this](const QByteArray &bytes) { return Write(bytes); };
    auto passed = [this, generation](const PacedSlot &slot) {
        {
            std::lock_guard<std::mutex> lock(m_passedMutex);
            m_passed.push_back(slot);
        }
        std::unique_lock<std::mutex> posting(postMutex);
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                { std::lock_guard<std::mutex> posted(postMutex); }
                dispatchPacedSlots(generation);
            },
            Qt::QueuedConnection);
    };
    try {
        m_pacer = std::make_unique<PacedWriter>(write, passed, std::chrono::milliseconds(periodMs));
    } catch (const std::system_error &e) {
        throw failure(EComPort::WriteFailed, e.code().value());
    }
}

void TCustomComPort::PaceSlot(int slot, const QByteArray &bytes)
{
    if (!m_pacer)
        throw failure(EComPort::WriteFailed, EBADF);
    m_pacer->hand(slot, bytes);
}

QList<PacedSlot> TCustomComPort::StopPacing()
{
    if (!m_pacer)
        return {};
    m_pacer->stop();
    m_pacer.reset();
    ++m_paceGeneration; // its calls still queued find nothing
    return takePassedSlots();
}

QList<PacedSlot> TCustomComPort::takePassedSlots()
{
    std::lock_guard<std::mutex> lock(m_passedMutex);
    QList<PacedSlot> passed(m_passed.begin(), m_passed.end());
    m_passed.clear();
    return passed;
}

// Runs on the GUI thread; nothing may escape from a queued call. One slot at a time:
// a handler that stops the pacing leaves the rest to StopPacing's caller.
void TCustomComPort::dispatchPacedSlots(quint64 generation)
{
    while (generation == m_paceGeneration) {
        std::optional<PacedSlot> slot;
        {
            std::lock_guard<std::mutex> lock(m_passedMutex);
            if (m_passed.empty())
                return;
            slot = m_passed.front();
            m_passed.pop_front();
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
    if (!m_device)
        throw failure(EComPort::ReadFailed, EBADF);
    if (count <= 0)
        return 0;
    s.resize(count);
    qsizetype received = 0;
    const int err = m_device->read(s.data(), count, readLimits(m_timeouts, count), &received, *m_readClock);
    s.resize(received);
    m_bytesRead += received;
    if (err)
        throw failure(EComPort::ReadFailed, err);
    return int(received);
}

int TCustomComPort::InputCount()
{
    if (!m_device)
        throw failure(EComPort::ClearErrorFailed, EBADF);
    int count = 0;
    if (int err = m_device->pendingCount(&count))
        throw failure(EComPort::ClearErrorFailed, err);
    return count;
}

void TCustomComPort::setBaudRate(int baud)
{
    if (baud == m_baudRate)
        return;
    m_baudRate = baud;
    applyLineSettings();
}

void TCustomComPort::setDataBits(int bits)
{
    if (bits == m_dataBits)
        return;
    m_dataBits = bits;
    applyLineSettings();
}

void TCustomComPort::setParity(const TComParity &parity)
{
    if (parity == m_parity)
        return;
    m_parity = parity;
    applyLineSettings();
}

void TCustomComPort::setStopBits(TStopBits bits)
{
    if (bits == m_stopBits)
        return;
    m_stopBits = bits;
    applyLineSettings();
}

void TCustomComPort::setFlowControl(const TComFlowControl &flow)
{
    if (flow == m_flowControl)
        return;
    m_flowControl = flow;
    applyLineSettings();
}

void TCustomComPort::setBuffer(const TComBuffer &buffer)
{
    if (buffer == m_buffer)
        return;
    m_buffer = buffer;
    if (Connected())
        applyBuffer();
}

void TCustomComPort::setTimeouts(const TComTimeouts &timeouts)
{
    if (timeouts == m_timeouts)
        return;
    m_timeouts = timeouts;
    if (Connected())
        applyTimeouts();
}

// Runs on the port's thread for each hand-over. Nothing may escape from here:
// this is a queued call inside the event loop.
TComThread::Result TCustomComPort::dispatchLineEvent(quint64 generation, TComThread::Event event,
                                                     int osError)
{
    using Status = TComThread::Status;
    TComThread::Result result;
    if (generation != m_generation || !m_device) {
        result.status = Status::Stale;
        return result;
    }
    if (m_dispatching) {
        result.status = Status::Busy;
        return result;
    }
    ScopedFlag dispatching(m_dispatching);
    if (event == TComThread::Event::DeviceGone) {
        reportError(failure(EComPort::ReadFailed, osError));
        result.status = Status::Failed;
        return result;
    }
    int count = 0;
    if (int err = m_device->pendingCount(&count)) {
        reportError(failure(EComPort::ClearErrorFailed, err));
        result.status = Status::Failed;
        return result;
    }
    if (count <= 0) {
        result.status = Status::Nothing;
        return result;
    }
    const qint64 readBefore = m_bytesRead;
    try {
        doRxChar(count);
    } catch (...) {
        reportError(EComPort::fromCurrentException());
    }
    result.status = Status::Delivered;
    result.count = count;
    result.taken = m_bytesRead - readBefore;
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
