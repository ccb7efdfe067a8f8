// The serial port component over a pseudo-terminal pair.
#include "serial/comport.h"
#include "ptypair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>

namespace {

// Everything the port raised, in order: "open", "close", "rx 3", "error <what()>".
struct EventLog {
    QStringList events;
    QList<int> errorCodes;

    void attach(TCustomComPort &port)
    {
        port.OnAfterOpen = [this] { events << QStringLiteral("open"); };
        port.OnAfterClose = [this] { events << QStringLiteral("close"); };
        port.OnRxChar = [this](int count) { events << QStringLiteral("rx %1").arg(count); };
        port.OnError = [this](const EComPort &e) {
            events << QStringLiteral("error ") + QString::fromUtf8(e.what());
            errorCodes << e.code();
        };
    }
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// Runs the operation; returns the EComPort it raised ("" when none).
template<typename F>
QString ecomPortOf(F &&operation, int *code = nullptr, int *osError = nullptr)
{
    try {
        operation();
    } catch (const EComPort &e) {
        if (code)
            *code = e.code();
        if (osError)
            *osError = e.osError();
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// Waits without running the event loop, as a busy window would.
template<typename F>
bool waitWithoutEvents(F &&condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QThread::msleep(1);
    }
    return true;
}

qint64 cpuMicroseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (qint64(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000
           + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

// The ECU's side of a read, on a clock whose time passes only while the read waits:
// each piece of the script goes on the line once the read has waited its gap of this
// clock's time, and the wait returns when the whole piece can be read. A read that
// would wait less than the gap times out first (the gap shrinks by what it waited).
// Bytes the line delivers late therefore never look like a time-out.
class ScriptedLine : public ComReadClock {
public:
    struct Piece {
        int gapMs;
        QByteArray bytes;
    };
    ScriptedLine(PtyPair &pty, QList<Piece> script) : pty_(pty), script_(std::move(script)) {}

    Time now() override { return Time(std::chrono::milliseconds(ms_)); }
    int waitReadable(int fd, int timeoutMs, short *revents) override
    {
        *revents = 0;
        if (script_.isEmpty() || (timeoutMs >= 0 && script_.first().gapMs > timeoutMs)) {
            if (timeoutMs < 0)
                return 0; // nothing more comes: a read without limits would wait for ever
            if (!script_.isEmpty())
                script_.first().gapMs -= timeoutMs;
            ms_ += timeoutMs;
            return 0;
        }
        const Piece piece = script_.takeFirst();
        ms_ += piece.gapMs;
        if (!pty_.send(piece.bytes) || !arrived(fd, int(piece.bytes.size())))
            return -1;
        *revents = POLLIN;
        return 1;
    }
    int elapsedMs() const { return ms_; }

private:
    // Waits (in real time, bounded) until the line has delivered count bytes to fd:
    // the pseudo-terminal hands them over asynchronously.
    static bool arrived(int fd, int count)
    {
        for (int i = 0; i < 10000; ++i) {
            pollfd p{fd, POLLIN, 0};
            int pending = 0;
            if (::poll(&p, 1, 1000) > 0 && ::ioctl(fd, FIONREAD, &pending) == 0 && pending >= count)
                return true;
            QThread::usleep(200);
        }
        return false;
    }

    PtyPair &pty_;
    QList<Piece> script_;
    int ms_ = 0;
};

} // namespace

Q_DECLARE_METATYPE(TComTimeouts)

namespace {

enum RefusedSetting { Speed, DataBits, DsrFlow, InputBuffer, Timeout };
enum CloseMoment { WhileWaiting, FromHandler, WhileWaitingThenReopen };

} // namespace

class TestComPort : public QObject {
    Q_OBJECT
private slots:
    void messagesCarryCodeTextAndErrorNumber_data();
    void messagesCarryCodeTextAndErrorNumber();
    void programSettingsAreTheDefaultsOfTComPort();
    void lineIsRawWhileOpenAndRestoredAfterClose();
    void bytesPassUnchanged_data();
    void bytesPassUnchanged();
    void failedOpenLeavesPortClosedWithoutEvents_data();
    void failedOpenLeavesPortClosedWithoutEvents();
    void refusedSettingClosesDeviceAgain_data();
    void refusedSettingClosesDeviceAgain();
    void openAndCloseTwiceRaiseOneEventEach();
    void destroyingOpenPortReleasesDeviceSilently();
    void settingSamePortDoesNotReopen();
    void settingAnotherPortReopensOnIt();
    void emptyWriteReturnsZero();
    void operationsOnClosedPortFail_data();
    void operationsOnClosedPortFail();
    void waitingBytesGiveOneRxCharOnGuiThread();
    void bytesLeftAfterReadAreAnnouncedAgain();
    void unreadBytesAreAnnouncedOnlyWhenMoreArrive();
    void shortReadReturnsWhatArrived_data();
    void shortReadReturnsWhatArrived();
    void readGathersBytesArrivingInPieces_data();
    void readGathersBytesArrivingInPieces();
    void exceptionInRxCharReachesOnError_data();
    void exceptionInRxCharReachesOnError();
    void closeDuringHandOverDoesNotDeadlock_data();
    void closeDuringHandOverDoesNotDeadlock();
    void secondArrivalWaitsWhileRxCharRuns();
    void deviceGoneIsReportedOnceWithoutSpinning();
};

void TestComPort::messagesCarryCodeTextAndErrorNumber_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("osError");
    QTest::addColumn<QString>("message");
    QTest::newRow("open, no number") << 1 << -1 << "Unable to open com port";
    QTest::newRow("open, ENOENT") << 1 << 2 << "Unable to open com port (win error code: 2)";
    QTest::newRow("write") << 2 << 5 << "WriteFile function failed (win error code: 5)";
    QTest::newRow("read") << 3 << -1 << "ReadFile function failed";
    QTest::newRow("purge") << 5 << -1 << "PurgeComm function failed";
    QTest::newRow("line state") << 7 << 22 << "SetCommState function failed (win error code: 22)";
    QTest::newRow("time-outs") << 8 << -1 << "SetCommTimeouts failed";
    QTest::newRow("buffers") << 9 << -1 << "SetupComm function failed";
    QTest::newRow("error state") << 10 << 5 << "ClearCommError function failed (win error code: 5)";
    QTest::newRow("modem lines") << 11 << -1 << "GetCommModemStatus function failed";
}

void TestComPort::messagesCarryCodeTextAndErrorNumber()
{
    QFETCH(int, code);
    QFETCH(int, osError);
    QFETCH(QString, message);
    const EComPort e(code, osError);
    QCOMPARE(QString::fromUtf8(e.what()), message);
    QCOMPARE(e.code(), code);
    QCOMPARE(e.osError(), osError);
}

void TestComPort::programSettingsAreTheDefaultsOfTComPort()
{
    TComPort port;
    QCOMPARE(port.baudRate(), 38400);
    QCOMPARE(port.dataBits(), 8);
    QCOMPARE(port.parity(), TComParity{});
    QCOMPARE(port.stopBits(), TStopBits::One);
    const TComFlowControl flow = port.flowControl();
    QCOMPARE(flow.controlDtr, TDtrControl::Disable);
    QCOMPARE(flow.controlRts, TRtsControl::Disable);
    QVERIFY(!flow.outCtsFlow && !flow.outDsrFlow && !flow.xonXoffIn && !flow.xonXoffOut);
    QCOMPARE(port.buffer(), (TComBuffer{1024, 1024}));
    QCOMPARE(port.timeouts(), (TComTimeouts{0, 0, 0, 0, 0}));
    QCOMPARE(TCustomComPort().timeouts(), (TComTimeouts{-1, 0, 0, 100, 1000}));
    QCOMPARE(TCustomComPort().baudRate(), 9600);
}

void TestComPort::lineIsRawWhileOpenAndRestoredAfterClose()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    const termios before = pty.settings();
    QVERIFY(before.c_lflag & ICANON); // a fresh terminal is cooked

    TComPort port;
    port.setPort(pty.slaveName());
    port.Open();
    const termios t = pty.settings();
    QCOMPARE(cfgetospeed(&t), speed_t(B38400));
    QCOMPARE(cfgetispeed(&t), speed_t(B38400));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(int(t.c_cc[VMIN]), 0);
    QCOMPARE(int(t.c_cc[VTIME]), 0);
    QCOMPARE(pty.exclusive(), 1);

    port.Close();
    const termios after = pty.settings();
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(pty.exclusive(), 0);
}

void TestComPort::bytesPassUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("toEcu");
    const QByteArray control("\x03\x0D\x11\x13\x7F\x00\x0A\x1A\x1C\xFF", 10);
    QTest::newRow("control characters to the ECU") << control << true;
    QTest::newRow("control characters from the ECU") << control << false;
    QTest::newRow("all 256 values to the ECU") << allByteValues() << true;
    QTest::newRow("all 256 values from the ECU") << allByteValues() << false;
}

void TestComPort::bytesPassUnchanged()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, toEcu);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    port.setPort(pty.slaveName());
    port.Open();
    if (toEcu) {
        QCOMPARE(port.Write(bytes), int(bytes.size()));
        QCOMPARE(pty.receive(int(bytes.size())), bytes);
    } else {
        QVERIFY(pty.send(bytes));
        QByteArray got;
        QCOMPARE(port.Read(got, int(bytes.size())), int(bytes.size()));
        QCOMPARE(got, bytes);
    }
}

void TestComPort::failedOpenLeavesPortClosedWithoutEvents_data()
{
    QTest::addColumn<QString>("name"); // "" = the pseudo-terminal, held by another port
    QTest::addColumn<int>("osError");
    QTest::addColumn<QString>("message");
    // Under the component's text, the port named in the window's language.
    QTest::newRow("missing path") << "/dev/velto-no-such-tty" << ENOENT
                                  << QString::fromUtf8("Unable to open com port (win error code: 2)\n A porta "
                                                       "/dev/velto-no-such-tty não existe. ");
    QTest::newRow("the list's placeholder") << "!!" << ENOENT
                                            << QString::fromUtf8("Unable to open com port (win error code: 2)\n Nenhuma "
                                                                 "porta serial foi encontrada: conecte o cabo do módulo "
                                                                 "e escolha a porta. ");
    QTest::newRow("not a terminal") << "/dev/null" << ENOTTY
                                    << QString::fromUtf8("Unable to open com port (win error code: 25)\n /dev/null não "
                                                         "é uma porta serial. ");
    // Root gets past TIOCEXCL and is stopped by the lock; others by TIOCEXCL.
    const int held = geteuid() == 0 ? EWOULDBLOCK : EBUSY;
    // The second line names the holder: this test, through its lock.
    QTest::newRow("held by another opener")
        << "" << held
        << QStringLiteral("Unable to open com port (win error code: %1)\n"
                          " A porta %2 está em uso por outro programa: tst_comport (processo %3). ")
               .arg(held);
}

void TestComPort::failedOpenLeavesPortClosedWithoutEvents()
{
    QFETCH(QString, name);
    QFETCH(int, osError);
    QFETCH(QString, message);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort holder;
    if (name.isEmpty()) {
        name = pty.slaveName();
        holder.setPort(name);
        holder.Open();
        message = message.arg(name).arg(QCoreApplication::applicationPid());
    }

    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(name);
    int code = 0, error = 0;
    QCOMPARE(ecomPortOf([&] { port.Open(); }, &code, &error), message);
    QCOMPARE(code, 1);
    QCOMPARE(error, osError);
    QVERIFY(!port.Connected());
    QVERIFY(port.comThread() == nullptr);
    QTest::qWait(20);
    QCOMPARE(log.events, QStringList());
    if (holder.Connected()) {
        // The failed opener left the holder's claim alone.
        QCOMPARE(pty.exclusive(), 1);
        QCOMPARE(holder.Write("ok"), 2);
        QCOMPARE(pty.receive(2), QByteArray("ok"));
    }
}

void TestComPort::refusedSettingClosesDeviceAgain_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<QString>("message");
    // Under the component's text, the step named on the port ("%1": its path).
    const QString state = QString::fromUtf8("SetCommState function failed (win error code: 22)\n A porta %1 recusou a "
                                            "configuração da linha: argumento inválido. ");
    QTest::newRow("unsupported speed") << int(Speed) << state;
    QTest::newRow("nine data bits") << int(DataBits) << state;
    QTest::newRow("DSR output flow") << int(DsrFlow) << state;
    QTest::newRow("empty input buffer")
        << int(InputBuffer)
        << QString::fromUtf8("SetupComm function failed (win error code: 22)\n A porta %1 recusou o tamanho dos buffers: "
                             "argumento inválido. ");
    QTest::newRow("time-out below -1")
        << int(Timeout)
        << QString::fromUtf8("SetCommTimeouts failed (win error code: 22)\n A porta %1 recusou os tempos de espera: "
                             "argumento inválido. ");
}

void TestComPort::refusedSettingClosesDeviceAgain()
{
    QFETCH(int, setting);
    QFETCH(QString, message);
    PtyPair pty;
    QVERIFY(pty.isValid());
    const termios before = pty.settings();
    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(pty.slaveName());
    switch (RefusedSetting(setting)) {
    case Speed: port.setBaudRate(12345); break;
    case DataBits: port.setDataBits(9); break;
    case DsrFlow: {
        TComFlowControl flow;
        flow.outDsrFlow = true;
        port.setFlowControl(flow);
        break;
    }
    case InputBuffer: port.setBuffer({0, 1024}); break;
    case Timeout: port.setTimeouts({-2, 0, 0, 0, 0}); break;
    }
    QCOMPARE(ecomPortOf([&] { port.Open(); }), message.arg(pty.slaveName()));
    QVERIFY(!port.Connected());
    QCOMPARE(log.events, QStringList());
    QCOMPARE(pty.exclusive(), 0);
    QCOMPARE(pty.settings().c_lflag, before.c_lflag);

    TComPort other;
    other.setPort(pty.slaveName());
    other.Open();
    QVERIFY(other.Connected());
}

void TestComPort::openAndCloseTwiceRaiseOneEventEach()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    bool connectedInAfterOpen = false;
    port.OnAfterOpen = [&] {
        connectedInAfterOpen = port.Connected();
        log.events << QStringLiteral("open");
    };
    port.setPort(pty.slaveName());
    port.Open();
    port.Open();
    QCOMPARE(log.events, QStringList({"open"}));
    QVERIFY(connectedInAfterOpen);
    QVERIFY(port.Connected());
    QVERIFY(port.comThread() != nullptr);
    port.Close();
    port.Close();
    QCOMPARE(log.events, QStringList({"open", "close"}));
    QVERIFY(!port.Connected());
    QVERIFY(port.comThread() == nullptr);
}

void TestComPort::destroyingOpenPortReleasesDeviceSilently()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    QStringList events;
    {
        TComPort port;
        port.OnAfterClose = [&events] { events << QStringLiteral("close"); };
        port.setPort(pty.slaveName());
        port.Open();
        QCOMPARE(pty.exclusive(), 1);
    }
    QCOMPARE(events, QStringList());
    QCOMPARE(pty.exclusive(), 0);
    QVERIFY(pty.settings().c_lflag & ICANON);
}

void TestComPort::settingSamePortDoesNotReopen()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(pty.slaveName());
    port.Open();
    const TComThread *thread = port.comThread();
    port.setPort(pty.slaveName());
    QCOMPARE(log.events, QStringList({"open"}));
    QCOMPARE(port.comThread(), thread);
    QVERIFY(port.Connected());
}

void TestComPort::settingAnotherPortReopensOnIt()
{
    PtyPair first, second;
    QVERIFY(first.isValid() && second.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(first.slaveName());
    port.Open();
    port.setPort(second.slaveName());
    QCOMPARE(log.events, QStringList({"open", "close", "open"}));
    QCOMPARE(port.port(), second.slaveName());
    QCOMPARE(first.exclusive(), 0);
    QCOMPARE(second.exclusive(), 1);
    QCOMPARE(port.Write("x"), 1);
    QCOMPARE(second.receive(1), QByteArray("x"));
}

void TestComPort::emptyWriteReturnsZero()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    port.setPort(pty.slaveName());
    port.Open();
    QCOMPARE(port.Write(QByteArray()), 0);
    QCOMPARE(pty.receive(1, 50), QByteArray());
}

void TestComPort::operationsOnClosedPortFail_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("message");
    // The port that was never opened is named (the default, ttyS0).
    const QString closed = QString::fromUtf8("\n A porta /dev/ttyS0 não está aberta. ");
    QTest::newRow("write") << 0 << "WriteFile function failed (win error code: 9)" + closed;
    QTest::newRow("read") << 1 << "ReadFile function failed (win error code: 9)" + closed;
    QTest::newRow("pending count") << 2 << "ClearCommError function failed (win error code: 9)" + closed;
}

void TestComPort::operationsOnClosedPortFail()
{
    QFETCH(int, operation);
    QFETCH(QString, message);
    TComPort port;
    QByteArray s("old");
    const QString raised = ecomPortOf([&] {
        if (operation == 0)
            port.Write("x");
        else if (operation == 1)
            port.Read(s, 12);
        else
            port.InputCount();
    });
    QCOMPARE(raised, message);
    if (operation == 1)
        QCOMPARE(s, QByteArray());
}

void TestComPort::waitingBytesGiveOneRxCharOnGuiThread()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    QList<int> counts;
    QThread *handlerThread = nullptr;
    QByteArray got;
    int read = -1;
    port.OnRxChar = [&](int count) {
        counts << count;
        handlerThread = QThread::currentThread();
        read = port.Read(got, 3);
    };
    port.setPort(pty.slaveName());
    port.Open();
    QVERIFY(pty.send("\x48\x50\x1A"));
    QTRY_COMPARE(counts.size(), 1);
    QCOMPARE(counts.first(), 3);
    QCOMPARE(handlerThread, QThread::currentThread());
    QCOMPARE(read, 3);
    QCOMPARE(got, QByteArray("\x48\x50\x1A"));
    QTest::qWait(100);
    QCOMPARE(counts.size(), 1);
}

void TestComPort::bytesLeftAfterReadAreAnnouncedAgain()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    QList<QByteArray> frames;
    port.OnRxChar = [&](int) {
        QByteArray frame;
        port.Read(frame, 12);
        frames << frame;
    };
    port.setPort(pty.slaveName());
    port.Open();
    const QByteArray one("HP\x01" "abcdefghF", 12);
    const QByteArray two("HP\x02" "ijklmnopF", 12);
    QVERIFY(pty.send(one + two));
    QTRY_COMPARE(frames.size(), 2);
    QCOMPARE(frames, QList<QByteArray>({one, two}));
}

void TestComPort::unreadBytesAreAnnouncedOnlyWhenMoreArrive()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(pty.slaveName());
    port.Open();
    QVERIFY(pty.send("abc"));
    QTRY_COMPARE(log.events, QStringList({"open", "rx 3"}));
    QTest::qWait(150);
    QCOMPARE(log.events, QStringList({"open", "rx 3"}));
    QVERIFY(pty.send("de"));
    QTRY_COMPARE(log.events, QStringList({"open", "rx 3", "rx 5"}));
}

void TestComPort::shortReadReturnsWhatArrived_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("nothing arrives") << QByteArray();
    QTest::newRow("five of twelve") << QByteArray("HP\x1D\x01\x02");
    QTest::newRow("eleven of twelve") << QByteArray("HP\x1A" "12345678");
}

// With the program's time-outs a read ends ReadIdleLimitMs after the last byte (or
// the call), with what arrived.
void TestComPort::shortReadReturnsWhatArrived()
{
    QFETCH(QByteArray, sent);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    QList<ScriptedLine::Piece> script;
    if (!sent.isEmpty())
        script << ScriptedLine::Piece{0, sent};
    ScriptedLine line(pty, script);
    port.setReadClock(&line);
    port.setPort(pty.slaveName());
    port.Open();
    QByteArray got("stale");
    QCOMPARE(port.Read(got, 12), int(sent.size()));
    QCOMPARE(got, sent);
    QCOMPARE(line.elapsedMs(), TCustomComPort::ReadIdleLimitMs);
    QVERIFY(port.Connected());
}

void TestComPort::readGathersBytesArrivingInPieces_data()
{
    QTest::addColumn<TComTimeouts>("timeouts");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("endsAtMs"); // of the script's clock
    const QByteArray frame("HP\x1E" "abcdefghF");
    // Every gap below the limit: the whole frame, though it takes longer than the limit.
    QTest::newRow("program time-outs, 40 ms gaps") << TComTimeouts{0, 0, 0, 0, 0} << 40 << frame << 160;
    QTest::newRow("read interval 300 ms, 120 ms gaps") << TComTimeouts{300, 0, 0, 0, 0} << 120 << frame << 480;
    // A gap above the limit ends the read at the limit with what came before it.
    QTest::newRow("program time-outs, 120 ms gaps") << TComTimeouts{0, 0, 0, 0, 0} << 120 << QByteArray("HP") << 100;
    QTest::newRow("read interval 300 ms, 310 ms gaps") << TComTimeouts{300, 0, 0, 0, 0} << 310 << QByteArray("HP") << 300;
    // A total limit ends it in the middle, however short the gaps.
    QTest::newRow("total 150 ms, 40 ms gaps") << TComTimeouts{0, 0, 150, 0, 0} << 40 << QByteArray("HP\x1E" "abcdefg")
                                              << 150;
    QTest::newRow("total 20 ms a byte, 40 ms gaps") << TComTimeouts{0, 20, 0, 0, 0} << 40 << frame << 160;
}

void TestComPort::readGathersBytesArrivingInPieces()
{
    QFETCH(TComTimeouts, timeouts);
    QFETCH(int, gapMs);
    QFETCH(QByteArray, expected);
    QFETCH(int, endsAtMs);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    port.setTimeouts(timeouts);
    QList<ScriptedLine::Piece> script;
    for (const QByteArray &piece : QList<QByteArray>{"HP", "\x1E" "ab", "cde", "fg", "hF"})
        script << ScriptedLine::Piece{script.isEmpty() ? 0 : gapMs, piece};
    ScriptedLine line(pty, script);
    port.setReadClock(&line);
    port.setPort(pty.slaveName());
    port.Open();
    QByteArray got;
    const int n = port.Read(got, 12);
    QCOMPARE(n, int(expected.size()));
    QCOMPARE(got, expected);
    QCOMPARE(line.elapsedMs(), endsAtMs);
}

void TestComPort::exceptionInRxCharReachesOnError_data()
{
    QTest::addColumn<bool>("portError");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("conversion error of a handler")
        << false << 0 << "'1,,5' is not a valid floating point value";
    QTest::newRow("port error of a handler")
        << true << 3 << "ReadFile function failed (win error code: 5)";
}

void TestComPort::exceptionInRxCharReachesOnError()
{
    QFETCH(bool, portError);
    QFETCH(int, code);
    QFETCH(QString, message);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    QList<QByteArray> received;
    port.OnRxChar = [&](int count) {
        QByteArray s;
        port.Read(s, count);
        received << s;
        if (received.size() == 1) {
            if (portError)
                throw EComPort(3, 5);
            throw std::runtime_error("'1,,5' is not a valid floating point value");
        }
    };
    port.setPort(pty.slaveName());
    port.Open();
    QVERIFY(pty.send("abc"));
    QTRY_COMPARE(log.errorCodes.size(), 1);
    QCOMPARE(log.errorCodes.first(), code);
    QCOMPARE(log.events, QStringList({"open", "error " + message}));

    QVERIFY(pty.send("def"));
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received, QList<QByteArray>({"abc", "def"}));
    QCOMPARE(log.errorCodes.size(), 1);
}

void TestComPort::closeDuringHandOverDoesNotDeadlock_data()
{
    QTest::addColumn<int>("when");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("hand-over waiting for the window")
        << int(WhileWaiting) << QStringList({"open", "close"});
    QTest::newRow("hand-over running, handler closes")
        << int(FromHandler) << QStringList({"open", "rx 3", "close"});
    // The late hand-over of the first opening must not announce the bytes of
    // the second one as well.
    QTest::newRow("hand-over waiting, port opened again")
        << int(WhileWaitingThenReopen) << QStringList({"open", "close", "open", "rx 2"});
}

void TestComPort::closeDuringHandOverDoesNotDeadlock()
{
    QFETCH(int, when);
    QFETCH(QStringList, expected);
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    port.OnRxChar = [&](int count) { // reads nothing
        log.events << QStringLiteral("rx %1").arg(count);
        if (when == FromHandler)
            port.Close();
    };
    port.setPort(pty.slaveName());
    port.Open();
    QVERIFY(pty.send("abc"));
    if (when == FromHandler) {
        QTRY_VERIFY(!port.Connected());
    } else {
        // The thread has posted its hand-over; the window is busy and has not run it.
        QVERIFY(waitWithoutEvents([&] { return port.comThread()->handOverCount() >= 1; }));
        port.Close();
        if (when == WhileWaitingThenReopen) {
            port.Open();
            QVERIFY(pty.send("xy"));
            QVERIFY(waitWithoutEvents([&] { return port.comThread()->handOverCount() >= 1; }));
        }
    }
    QTRY_COMPARE(log.events, expected);
    if (!port.Connected())
        QVERIFY(pty.send("more"));
    QTest::qWait(100);
    QCOMPARE(log.events, expected);
}

void TestComPort::secondArrivalWaitsWhileRxCharRuns()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    int depth = 0, deepest = 0;
    QList<int> counts;
    int refusedWhileInside = 0;
    port.OnRxChar = [&](int count) {
        ++depth;
        deepest = std::max(deepest, depth);
        QByteArray s;
        port.Read(s, count);
        counts << count;
        if (counts.size() == 1) {
            // A new event thread announces bytes while this handler still runs
            // an event loop of its own, as a modal message box would.
            port.Close();
            port.Open();
            pty.send("wxyz");
            QElapsedTimer timer;
            timer.start();
            while (port.comThread()->handOverCount() < 3 && timer.elapsed() < 5000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                QThread::msleep(1);
            }
            refusedWhileInside = port.comThread()->handOverCount() - 1;
        }
        --depth;
    };
    port.setPort(pty.slaveName());
    port.Open();
    QVERIFY(pty.send("abc"));
    QTRY_COMPARE(counts.size(), 2);
    QCOMPARE(deepest, 1);
    QVERIFY(refusedWhileInside >= 2);
    QCOMPARE(counts, QList<int>({3, 4}));
}

void TestComPort::deviceGoneIsReportedOnceWithoutSpinning()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    EventLog log;
    log.attach(port);
    port.setPort(pty.slaveName());
    port.Open();
    pty.closeMaster();
    QTRY_COMPARE(log.errorCodes.size(), 1);
    QCOMPARE(log.events,
             QStringList({"open", "error ReadFile function failed (win error code: 5)\n O cabo ou o adaptador da porta " + pty.slaveName() + " foi desconectado. "}));

    // The thread has stopped watching the device: no more hand-overs, no CPU.
    const int handOvers = port.comThread()->handOverCount();
    const qint64 cpuBefore = cpuMicroseconds();
    QTest::qWait(1000);
    const qint64 cpuUsed = cpuMicroseconds() - cpuBefore;
    QVERIFY2(cpuUsed < 300000, qPrintable(QStringLiteral("%1 us of CPU").arg(cpuUsed)));
    QCOMPARE(port.comThread()->handOverCount(), handOvers);
    QCOMPARE(log.errorCodes.size(), 1);
    QVERIFY(port.Connected());

    QCOMPARE(ecomPortOf([&] { port.Write("x"); }),
             "WriteFile function failed (win error code: 5)\n O cabo ou o adaptador da porta " + pty.slaveName() + " foi desconectado. ");
    QByteArray s;
    QCOMPARE(ecomPortOf([&] { port.Read(s, 12); }),
             "ReadFile function failed (win error code: 5)\n O cabo ou o adaptador da porta " + pty.slaveName() + " foi desconectado. ");

    port.Close();
    QVERIFY(!port.Connected());
    QCOMPARE(log.events.last(), QStringLiteral("close"));
    QCOMPARE(log.errorCodes.size(), 1);
}

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_comport.moc"
