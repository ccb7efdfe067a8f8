#pragma once
// Runs the ECU simulator (velto-ecu-sim, path from the environment variable
// VELTO_SIM) for a test or a benchmark: a temporary folder holds its control
// FIFO and its log; the simulator is stopped when the object goes.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>

class SimProcess {
public:
    // Extra simulator options, e.g. {"--rate", "max"} or {"--tps", "900"}.
    explicit SimProcess(const QStringList &arguments = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the simulator and waits for the device path it prints first.
    bool start(int timeoutMs = 10000);
    bool isRunning() const;
    QString errorString() const { return error_; }
    qint64 pid() const;

    QString devicePath() const { return device_; }
    QString folder() const { return dir_.path(); }
    QString logPath() const;
    QString controlPath() const;

    // Sends one control line ("tps 900") and waits until the simulator has
    // carried it out (it logs each line once done). False on time-out or when
    // the simulator is gone.
    bool command(const QString &line, int timeoutMs = 5000);

    // The simulator's 256-byte parameter image; empty on failure.
    QByteArray dumpImage(int timeoutMs = 5000);

    // Log lines as written, each "<seconds.micros> <event> ...".
    QStringList logLines();
    // Events without their timestamps ("frame 01 0A ...", "command 48").
    QStringList logEvents();
    // Upload frames received (9 bytes each), in order.
    QList<QByteArray> uploadFrames();
    // Command bytes received (0x33, 0x48, 0x7F, 0xD9...), in order.
    QList<quint8> commands();
    // Number of events that begin with prefix.
    int countEvents(const QString &prefix);
    // Waits until at least count events begin with prefix.
    bool waitForEvents(const QString &prefix, int count = 1, int timeoutMs = 5000);
    // The number of events that begin with prefix once no new one has come for
    // quietMs (bytes already on the line when a sender stopped are counted);
    // the caller's events are processed meanwhile.
    int settledCount(const QString &prefix, int quietMs = 400, int timeoutMs = 5000);

    // SIGKILL: the device vanishes at once (no clean-up by the simulator).
    void kill();
    // Sends the signal (SIGTERM or SIGINT) and waits; the simulator removes its
    // link and FIFO. True when it ended by itself with exit code 0; after the
    // time-out it is killed.
    bool stop(int timeoutMs = 5000, int signal = SIGTERM);
    // Waits for the simulator to end by itself (after "quit"); true on a clean exit.
    bool waitForExit(int timeoutMs = 5000);
    int exitCode() const;

private:
    void refreshLog();

    QStringList arguments_;
    QTemporaryDir dir_;
    QProcess process_;
    QString device_;
    QString error_;
    QStringList lines_;
    QByteArray tail_;
    qint64 logPos_ = 0;
    int commandsSent_ = 0;
    int dumps_ = 0;
};
