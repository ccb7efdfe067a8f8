#pragma once
// The serial port component: the program's only path to the ECU.
//
// The main window owns one TComPort and uses it through a small set of
// operations (port name, Open, Close, Write, Read, InputCount) and a few events
// (OnAfterOpen, OnAfterClose, OnRxChar, OnError). Every operation and every event
// runs on the thread that owns the port object (the GUI thread). While the port is
// open one event thread (TComThread) waits for received bytes and hands each
// arrival synchronously to the GUI thread.
//
// Use from the window:
//   ComPort1 = new TComPort(this);
//   ComPort1->OnAfterOpen = [this] { ComPort1AfterOpen(); };
//   ComPort1->OnAfterClose = [this] { ComPort1AfterClose(); };
//   ComPort1->OnRxChar = [this](int count) { ComPort1RxChar(count); };
//   ComPort1->OnError = [this](const EComPort &e) { /* general error handler */ };
//   ComPort1->setPort(cbPorta->currentText());
//   ComPort1->Open();                       // throws EComPort
//   ComPort1->Write(frame);                 // throws EComPort
//   QByteArray s; ComPort1->Read(s, 12);    // at most 100 ms per missing byte
//   ComPort1->Close();                      // in FormClose: raises OnAfterClose
// Exceptions from Open, Close, Write, Read and InputCount reach the caller;
// exceptions escaping OnRxChar are caught and passed to OnError.
//
// Everything that touches the operating system lives in comport_unix.cpp.
#include "serial/pacedwriter.h"
#include "serial/portnames.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// Every failure of the component. what() is the exact message shown to the user:
// the text of the code, followed, when the system gave an error number, by
// " (win error code: %d)" with that number (errno), e.g.
// "Unable to open com port (win error code: 2)". When the error names a device
// and its cause is known (no permission, held by another program, device gone),
// a second line explains it (explainPortError, serial/porterror.h), e.g.
// "Unable to open com port (win error code: 5)\n O cabo ou o adaptador foi desconectado. ".
//
// Codes:
//   0  an exception escaped an event handler run by the event thread; what() is
//      that exception's own message and cause() holds it
//   1  "Unable to open com port"            Open: no such device, held by another
//                                           opener, not a terminal
//   2  "WriteFile function failed"          Write
//   3  "ReadFile function failed"           Read; the device went away (OnError)
//   5  "PurgeComm function failed"          not raised here: Close always completes
//   7  "SetCommState function failed"       Open: line settings or DTR/RTS refused
//   8  "SetCommTimeouts failed"             Open: invalid time-outs
//   9  "SetupComm function failed"          Open: invalid buffer sizes
//   10 "ClearCommError function failed"     InputCount; pending count in a hand-over
//   11 "GetCommModemStatus function failed" Open, after OnAfterOpen; the port stays open
// Operations on a closed port fail with their code and EBADF (9).
class EComPort : public std::runtime_error {
public:
    enum Code {
        HandlerFailed = 0,
        OpenFailed = 1,
        WriteFailed = 2,
        ReadFailed = 3,
        PurgeFailed = 5,
        SetStateFailed = 7,
        SetTimeoutsFailed = 8,
        SetupFailed = 9,
        ClearErrorFailed = 10,
        ModemStatusFailed = 11,
    };

    // osError: the system's error number, or -1 when there is none.
    explicit EComPort(int code, int osError = -1);
    // The same for the device at devicePath, with the explanation of the cause
    // read from the system now (who holds the device, its group).
    EComPort(int code, int osError, const QString &devicePath);

    // Wraps the exception currently being handled (call inside a catch block). An
    // EComPort is returned as it is; anything else becomes code 0 with its message.
    static EComPort fromCurrentException();

    int code() const { return code_; }
    int osError() const { return osError_; }
    // The device the error is about; empty when not known.
    QString devicePath() const { return devicePath_; }
    // The second line of what(), without the line break; empty when none.
    QString explanation() const { return explanation_; }
    // The original exception for code 0, else null.
    std::exception_ptr cause() const { return cause_; }

    // The text of a code without the error number ("Unable to open com port").
    static QString codeText(int code);

private:
    EComPort(int code, int osError, const QString &devicePath, const QString &explanation);
    EComPort(const std::string &message, std::exception_ptr cause);

    int code_;
    int osError_;
    QString devicePath_;
    QString explanation_;
    std::exception_ptr cause_;
};

// Settings groups. Changing a group while the port is open applies it at once.
enum class TParityBits { None, Odd, Even, Mark, Space };
enum class TStopBits { One, OnePointFive, Two };
enum class TDtrControl { Disable, Enable, Handshake };
enum class TRtsControl { Disable, Enable, Handshake, Toggle };

struct TComParity {
    TParityBits bits = TParityBits::None;
    bool check = false; // a byte with a parity error is read as 0
    bool replace = false;
    char replaceChar = 0; // only 0 is possible on this platform (else code 7)
    friend bool operator==(const TComParity &, const TComParity &) = default;
};

struct TComFlowControl {
    bool outCtsFlow = false;
    bool outDsrFlow = false; // not available on this platform: refused with code 7
    TDtrControl controlDtr = TDtrControl::Disable;
    TRtsControl controlRts = TRtsControl::Disable;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool dsrSensitivity = false; // not available on this platform: refused with code 7
    bool txContinueOnXoff = false;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    friend bool operator==(const TComFlowControl &, const TComFlowControl &) = default;
};

struct TComBuffer {
    int inputSize = 1024;
    int outputSize = 1024;
    friend bool operator==(const TComBuffer &, const TComBuffer &) = default;
};

// Time-outs in milliseconds, -1 standing for "maximum".
//
// Read: with readInterval -1 and both read totals 0, a read returns at once with
// what is waiting. Otherwise a read returns when count bytes have arrived, or when
// no new byte has come for readInterval ms (ReadIdleLimitMs when readInterval is 0
// and no total is set; the wait counts from the call, so it also ends when nothing
// arrives at all), or when readTotalMultiplier * count + readTotalConstant ms have
// passed, if that is above 0.
// Write: a write returns when all bytes have been handed to the device, or, if
// writeTotalMultiplier * length + writeTotalConstant is above 0, when that many
// ms have passed, with the number handed over so far.
struct TComTimeouts {
    int readInterval = -1;
    int readTotalMultiplier = 0;
    int readTotalConstant = 0;
    int writeTotalMultiplier = 100;
    int writeTotalConstant = 1000;
    friend bool operator==(const TComTimeouts &, const TComTimeouts &) = default;
};

// The clock of a read's time-outs and of its wait for the device's bytes. Tests give
// their own, whose time passes only when they say so.
class ComReadClock {
public:
    using Time = std::chrono::steady_clock::time_point;
    virtual ~ComReadClock() = default;
    virtual Time now() = 0;
    // Waits until fd is readable or timeoutMs of this clock have passed (-1: no limit),
    // as poll() on fd with POLLIN does, and returns what poll() returns; *revents gets
    // its events. May return early (0, or -1 with errno EINTR).
    virtual int waitReadable(int fd, int timeoutMs, short *revents) = 0;
    // The monotonic clock and poll() itself.
    static ComReadClock &monotonic();
};

class TCustomComPort;
class ComDevice;
class ComWaiter;
struct HandOverSync;

// The event thread of an open port. It waits in poll() on the device and on a
// wake descriptor; when bytes have arrived it asks the GUI thread to raise
// OnRxChar and waits until that has returned (or until the port is closing), so
// at most one hand-over is in progress. It never reads or writes data. Created by
// Open, stopped and joined by Close before the device is closed.
class TComThread {
public:
    // Starts the thread. Failure to create its wake descriptor: code 1.
    TComThread(TCustomComPort *port, int fd, quint64 generation);
    ~TComThread(); // stops and joins
    TComThread(const TComThread &) = delete;
    TComThread &operator=(const TComThread &) = delete;

    // Asks the thread to end: it leaves its poll and any hand-over wait at once.
    void stop();
    // Hand-overs posted to the GUI thread so far (diagnostics and tests).
    int handOverCount() const { return handOvers_.load(); }

private:
    enum class Status { Delivered, Nothing, Busy, Stale, Failed };
    struct Result {
        Status status = Status::Nothing;
        int count = 0;    // pending count passed to OnRxChar
        qint64 taken = 0; // bytes read by the handler during the hand-over
    };
    enum class Event { BytesReceived, DeviceGone };

    void run();
    bool handOver(Event event, int osError, Result *result);
    bool deliver(Event event, int osError, Result *result);
    void pause(int ms);
    bool stopping() const { return stop_.load(); }

    TCustomComPort *const port_;
    const int fd_;
    const quint64 generation_;
    std::shared_ptr<HandOverSync> sync_;
    std::unique_ptr<ComWaiter> waiter_;
    std::atomic<bool> stop_{false};
    std::atomic<int> handOvers_{0};
    std::thread thread_;

    friend class TCustomComPort;
    friend struct HandOverSync;
};

// The component with its own defaults (9600 baud, 8N1, no flow control, DTR and
// RTS held off, buffers 1024/1024, time-outs -1, 0, 0, 100, 1000). Not copyable.
class TCustomComPort : public QObject {
    Q_OBJECT
public:
    // A read with the program's time-outs (all 0) returns when no new byte has
    // come for this long, with the bytes received so far.
    static constexpr int ReadIdleLimitMs = 100;

    explicit TCustomComPort(QObject *parent = nullptr);
    // Closes the port without raising OnAfterClose (the owner may be half destroyed).
    ~TCustomComPort() override;

    // The device: a path ("/dev/ttyUSB0"), or a bare name meaning a device in /dev
    // ("ttyUSB0", "pts/3"); "/dev/ttyS0" at first. Setting the name it already holds does nothing; setting
    // another name while open closes the port and opens it again with the new name
    // (OnAfterClose, then OnAfterOpen).
    void setPort(const QString &name);
    QString port() const { return port_; }
    // The device path a port name stands for.
    static QString devicePath(const QString &name);

    // Opens the device for exclusive use (a second opener, also in another
    // process or as root, fails with code 1), applies buffer sizes (9), line
    // settings and DTR/RTS (7), time-outs (8), starts the event thread and raises
    // OnAfterOpen; then reads the modem lines once (11, the port stays open). If a
    // step before OnAfterOpen fails the port stays closed and no event is raised.
    // Does nothing if already open.
    void Open();
    // Stops the event thread, discards unread input, restores the device's
    // previous settings, releases it and raises OnAfterClose. No event reaches the
    // owner after OnAfterClose. Always completes, also after the device went away.
    // Does nothing if not open.
    void Close();
    bool Connected() const { return device_ != nullptr; }

    // Writes all bytes; blocks until they have been handed to the device (see
    // TComTimeouts). Returns the number written; an empty array writes nothing
    // and returns 0. Failure (also when closed): code 2.
    int Write(const QByteArray &data);
    // Reads up to count bytes into s and cuts s to the number read, which it
    // returns. Blocks until count bytes have arrived or the time-outs end the read
    // (with the program's time-outs: ReadIdleLimitMs without a new byte), so a
    // short frame returns what arrived, possibly nothing. If the device goes away
    // the bytes received before are returned; with none, code 3 is raised.
    // Failure (also when closed): code 3.
    int Read(QByteArray &s, int count);
    // Received bytes waiting to be read. Failure (also when closed): code 10.
    int InputCount();

    // Paced writing (the upload's frames): byte strings leave at absolute deadlines of
    // the monotonic clock from a thread of the port's own, whatever the GUI thread is
    // doing (PacedWriter). Slot 1 is due at once, slot n periodMs x (n - 1) later;
    // PaceSlot hands a slot's bytes over (empty: nothing written), each written as
    // Write does. OnSlotPassed is raised on the GUI thread after each slot; after a
    // failed write nothing more is written. StartPacing on a closed port: code 2, EBADF.
    // StopPacing (also Close and setPort) stops and joins the thread, so nothing is
    // written after it returns, and gives back the slots that passed but were not
    // raised yet.
    void StartPacing(int periodMs);
    void PaceSlot(int slot, const QByteArray &bytes);
    QList<PacedSlot> StopPacing();
    bool Pacing() const { return pacer_ != nullptr; }

    // Settings. Changing one while open applies its group at once.
    int baudRate() const { return baudRate_; }
    void setBaudRate(int baud);
    int dataBits() const { return dataBits_; }
    void setDataBits(int bits);
    TComParity parity() const { return parity_; }
    void setParity(const TComParity &parity);
    TStopBits stopBits() const { return stopBits_; }
    void setStopBits(TStopBits bits);
    TComFlowControl flowControl() const { return flowControl_; }
    void setFlowControl(const TComFlowControl &flow);
    TComBuffer buffer() const { return buffer_; }
    void setBuffer(const TComBuffer &buffer);
    TComTimeouts timeouts() const { return timeouts_; }
    void setTimeouts(const TComTimeouts &timeouts);

    // The clock of Read's time-outs (null: the monotonic clock). Tests set their own.
    void setReadClock(ComReadClock *clock) { readClock_ = clock ? clock : &ComReadClock::monotonic(); }

    // The event thread while the port is open, else null.
    const TComThread *comThread() const { return thread_.get(); }

    // Events, all raised on the GUI thread.
    // After a successful open, before Open returns.
    std::function<void()> OnAfterOpen;
    // After the port has been closed.
    std::function<void()> OnAfterClose;
    // Bytes have arrived; count is the number waiting when the event is handled
    // (never 0). Not entered again while it runs (a modal box inside it runs the
    // event loop): the next arrival waits until it has returned. If it reads
    // nothing, it is raised again only when more bytes arrive.
    std::function<void(int count)> OnRxChar;
    // Errors that no operation of the owner could catch: an exception escaping
    // OnRxChar (the event thread goes on serving the port), and the device going
    // away (code 3, reported once; the port stays open until Close).
    std::function<void(const EComPort &)> OnError;
    // A paced slot has passed: its bytes were written (or failed) at their deadline.
    std::function<void(const PacedSlot &)> OnSlotPassed;

protected:
    // Steps of Open and Close, in order; each can be replaced.
    virtual void createHandle();
    virtual void destroyHandle();
    virtual void applySettings(); // buffer, line settings, time-outs
    virtual void applyBuffer();
    virtual void applyLineSettings();
    virtual void applyTimeouts();
    virtual void checkModemStatus();
    // Event raisers.
    virtual void doAfterOpen();
    virtual void doAfterClose();
    virtual void doRxChar(int count);
    virtual void doError(const EComPort &error);

private:
    TComThread::Result dispatchLineEvent(quint64 generation, TComThread::Event event, int osError);
    void closeDevice();
    void dispatchPacedSlots(quint64 generation);
    QList<PacedSlot> takePassedSlots();
    void reportError(const EComPort &error);
    // An error about this port's device.
    EComPort failure(int code, int osError) const;

    QString port_ = QStringLiteral("/dev/ttyS0");
    int baudRate_ = 9600;
    int dataBits_ = 8;
    TComParity parity_;
    TStopBits stopBits_ = TStopBits::One;
    TComFlowControl flowControl_;
    TComBuffer buffer_;
    TComTimeouts timeouts_;
    ComReadClock *readClock_ = &ComReadClock::monotonic();

    std::unique_ptr<ComDevice> device_;
    std::unique_ptr<TComThread> thread_;
    // Counts opens and closes; a hand-over posted for an earlier one is ignored.
    quint64 generation_ = 0;
    bool dispatching_ = false;
    qint64 bytesRead_ = 0;

    // Paced writing: the writer thread, and the slots it reports, queued for the GUI thread.
    std::unique_ptr<PacedWriter> pacer_;
    quint64 paceGeneration_ = 0;
    std::mutex passedMutex_;
    std::deque<PacedSlot> passed_;

    friend class TComThread;
};

// The component with this program's settings: 38400 baud, 8N1, no flow control,
// DTR and RTS held off, buffers 1024/1024, all time-outs 0 (so a read waits at
// most ReadIdleLimitMs for each next byte).
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    explicit TComPort(QObject *parent = nullptr);
};
