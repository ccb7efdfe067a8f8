// The paced writer with a clock of the test's own (time passes only when the writer
// waits for a deadline, or when a slow hand-over is played), and the port component's
// paced writing over a pseudo-terminal pair.
#include "serial/comport.h"
#include "serial/pacedwriter.h"
#include "ptypair.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <stdexcept>

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

namespace {

// A clock whose time jumps to each deadline the writer waits for (auto), or stands
// still until the writer is woken (manual).
class TestClock : public PaceClock {
public:
    explicit TestClock(bool autoAdvance) : auto_(autoAdvance) {}
    Time now() override { return Time(std::chrono::nanoseconds(ns_.load())); }
    void waitUntil(std::unique_lock<std::mutex> &lock, std::condition_variable &wake, Time deadline) override
    {
        if (!auto_) {
            wake.wait(lock);
            return;
        }
        ns_.store(std::max(ns_.load(), std::chrono::nanoseconds(deadline.time_since_epoch()).count()));
    }
    void advance(Ms by) { ns_.fetch_add(std::chrono::nanoseconds(by).count()); }
    Ms at() const { return std::chrono::duration_cast<Ms>(std::chrono::nanoseconds(ns_.load() - startNs)); }

    static constexpr std::int64_t startNs = 1'000'000'000;

private:
    bool auto_;
    std::atomic<std::int64_t> ns_{startNs};
};

// One slot as the writer reported it, with the clock's time of its write.
struct Seen {
    int slot;
    QByteArray bytes;
    int writeAtMs;
    int lateMs;
    bool failed;
};

// The process's threads and the nice value of each (field 19 of its stat line).
QList<int> threadNiceValues()
{
    QList<int> nice;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // a thread that ended meanwhile
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        nice << fields.value(16).toInt(); // field 19, counted from the state (field 3)
    }
    std::sort(nice.begin(), nice.end());
    return nice;
}

QByteArray slotBytes(int slot, int last)
{
    if (slot >= last - 2 && slot < last)
        return {}; // two empty slots before the last, as the upload's ticks 33 and 34
    return QByteArray(1, char(slot)) + QByteArray(8, char(0x11 * (slot % 15)));
}

} // namespace

class TstPacedWriter : public QObject {
    Q_OBJECT
private slots:
    void deadlinesStayAbsolute_data();
    void deadlinesStayAbsolute();
    void failedWriteEndsTheWriting();
    void nothingIsWrittenAfterStop();
    void portWritesSlotsAndStopsOnClose();
    void portStartOnClosedPortFails();
};

void TstPacedWriter::deadlinesStayAbsolute_data()
{
    QTest::addColumn<QList<int>>("slowSlots"); // handed over 70 ms after the slot before passed
    QTest::addColumn<QList<int>>("writeAt");   // ms from the start at which each written slot went
    QTest::addColumn<int>("startAt");          // ms after the writer was made that slot 1 is handed over
    QList<int> onTime;
    for (int n = 1; n <= 35; ++n)
        if (n <= 32 || n == 35)
            onTime << 50 * (n - 1);
    QTest::newRow("every hand-over in time") << QList<int>{} << onTime << 0;
    // Slot 5 is late by 20 ms (hand-over at 150 + 70); slot 6 keeps its own 250 ms.
    QList<int> oneLate = onTime;
    oneLate[4] = 220;
    QTest::newRow("one late hand-over") << QList<int>{5} << oneLate << 0;
    // Two late in a row: each goes at once when handed, the next one on its deadline.
    QList<int> twoLate = onTime;
    twoLate[9] = 470;  // slot 10: slot 9 passed at 400, +70 ms, deadline 450
    twoLate[10] = 540; // slot 11: slot 10 passed at 470, +70 ms, deadline 500
    QTest::newRow("two late hand-overs in a row") << QList<int>{10, 11} << twoLate << 0;
    // Slot 1 handed 70 ms after the writer was made: the schedule starts with it.
    QList<int> laterStart;
    for (int at : onTime)
        laterStart << 70 + at;
    QTest::newRow("slot 1 handed over late") << QList<int>{} << laterStart << 70;
}

void TstPacedWriter::deadlinesStayAbsolute()
{
    QFETCH(QList<int>, slowSlots);
    QFETCH(QList<int>, writeAt);
    QFETCH(int, startAt);
    constexpr int last = 35;
    TestClock clock(true);
    QList<QByteArray> written;
    QList<Seen> seen;
    std::promise<void> ended;
    std::unique_ptr<PacedWriter> writer;
    std::atomic<PacedWriter *> handTo{nullptr};
    auto write = [&](const QByteArray &bytes) {
        written << bytes;
        return int(bytes.size());
    };
    auto passed = [&](const PacedSlot &s) {
        seen << Seen{s.slot, s.bytes, int(clock.at().count()), int(std::chrono::duration_cast<Ms>(s.late).count()),
                     bool(s.error)};
        if (s.slot == last) {
            ended.set_value();
            return;
        }
        // The GUI thread builds the next slot now; a slow one is 70 ms late with it.
        if (slowSlots.contains(s.slot + 1))
            clock.advance(Ms(70));
        while (!handTo.load())
            std::this_thread::yield();
        handTo.load()->hand(s.slot + 1, slotBytes(s.slot + 1, last));
    };
    writer = std::make_unique<PacedWriter>(write, passed, Ms(50), clock);
    handTo.store(writer.get());
    clock.advance(Ms(startAt));
    writer->hand(1, slotBytes(1, last));
    QVERIFY(ended.get_future().wait_for(10s) == std::future_status::ready);
    writer->stop();

    QCOMPARE(seen.size(), last);
    QList<int> at;
    QByteArray expected, sent;
    for (const Seen &s : seen) {
        QVERIFY(!s.failed);
        QCOMPARE(s.bytes, slotBytes(s.slot, last));
        if (!s.bytes.isEmpty()) {
            at << s.writeAtMs;
            expected += s.bytes;
        }
        QCOMPARE(s.lateMs, std::max(0, s.writeAtMs - startAt - 50 * (s.slot - 1)));
    }
    for (const QByteArray &w : written)
        sent += w;
    QCOMPARE(at, writeAt);
    QCOMPARE(sent.toHex(' '), expected.toHex(' '));
}

void TstPacedWriter::failedWriteEndsTheWriting()
{
    TestClock clock(true);
    QList<int> writes;
    QList<int> passedSlots;
    std::promise<void> failed;
    auto write = [&](const QByteArray &bytes) -> int {
        writes << int(bytes.at(0));
        if (bytes.at(0) == 3)
            throw std::runtime_error("WriteFile function failed (win error code: 5)");
        return int(bytes.size());
    };
    QString error;
    auto passed = [&](const PacedSlot &s) {
        passedSlots << s.slot;
        if (!s.error)
            return;
        try {
            std::rethrow_exception(s.error);
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
        failed.set_value();
    };
    PacedWriter writer(write, passed, Ms(50), clock);
    for (int slot = 1; slot <= 6; ++slot) // handed early: the writer still waits for each deadline
        writer.hand(slot, QByteArray(9, char(slot)));
    QVERIFY(failed.get_future().wait_for(10s) == std::future_status::ready);
    writer.stop();
    QCOMPARE(writes, (QList<int>{1, 2, 3}));
    QCOMPARE(passedSlots, (QList<int>{1, 2, 3}));
    QCOMPARE(error, QStringLiteral("WriteFile function failed (win error code: 5)"));
    QCOMPARE(clock.at().count(), 100); // slot 3's deadline, not beyond
}

void TstPacedWriter::nothingIsWrittenAfterStop()
{
    TestClock clock(false); // slot 2's deadline never comes by itself
    std::atomic<int> writes{0};
    std::promise<void> first;
    auto write = [&](const QByteArray &bytes) {
        ++writes;
        return int(bytes.size());
    };
    auto passed = [&](const PacedSlot &s) {
        if (s.slot == 1)
            first.set_value();
    };
    auto writer = std::make_unique<PacedWriter>(write, passed, Ms(50), clock);
    writer->hand(1, "a");
    writer->hand(2, "b"); // waits for 50 ms that never pass
    QVERIFY(first.get_future().wait_for(10s) == std::future_status::ready);
    writer->stop(); // wakes the wait and joins
    clock.advance(Ms(500));
    writer->hand(3, "c");
    writer.reset();
    QCOMPARE(writes.load(), 1);
}

void TstPacedWriter::portWritesSlotsAndStopsOnClose()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    TComPort port;
    port.setPort(pty.slaveName());
    port.Open();
    QList<int> passedSlots;
    QList<bool> onGuiThread;
    QList<qint64> lateNs;
    port.OnSlotPassed = [&](const PacedSlot &s) {
        passedSlots << s.slot;
        onGuiThread << (QThread::currentThread() == qApp->thread());
        lateNs << qint64(s.late.count());
        if (s.slot < 3)
            port.PaceSlot(s.slot + 1, s.slot + 1 == 3 ? QByteArray() : QByteArray::fromHex("02000d11137f0300ff"));
    };
    const QList<int> before = threadNiceValues();
    port.StartPacing(20);
    QVERIFY(port.Pacing());
    // The writer is the only thread the writing adds: nothing spins beside it to keep
    // the cores awake (it would take a core from other programs for the whole upload).
    QList<int> during = threadNiceValues();
    QCOMPARE(during.size(), before.size() + 1);
    QCOMPARE(during.count(19), before.count(19));
    port.PaceSlot(1, QByteArray::fromHex("0103110d137f000aff"));
    QTRY_COMPARE_WITH_TIMEOUT(passedSlots, (QList<int>{1, 2, 3}), 5000);
    QCOMPARE(onGuiThread, (QList<bool>{true, true, true}));
    // On the real clock no slot leaves before its deadline, however the machine is loaded.
    for (qint64 ns : lateNs)
        QVERIFY2(ns >= 0, qPrintable(QStringLiteral("%1 ns early").arg(-ns)));
    // Raw bytes as handed, the empty slot writing nothing.
    QCOMPARE(pty.receive(18, 2000).toHex(' '), QByteArray::fromHex("0103110d137f000aff02000d11137f0300ff").toHex(' '));
    // The writer waits for slot 4; Close stops and joins it, and nothing more goes out.
    port.Close();
    QVERIFY(!port.Pacing());
    // Both end with the writing (and the port's reader thread with the port).
    const QList<int> after = threadNiceValues();
    QCOMPARE(after.count(19), before.count(19));
    QVERIFY(after.size() <= before.size());
    int code = 0;
    try {
        port.PaceSlot(4, "late");
    } catch (const EComPort &e) {
        code = e.code();
    }
    QCOMPARE(code, int(EComPort::WriteFailed));
    QCOMPARE(pty.receive(4, 200), QByteArray());
}

void TstPacedWriter::portStartOnClosedPortFails()
{
    TComPort port;
    port.setPort(QStringLiteral("/dev/null-none"));
    int code = 0;
    int osError = 0;
    try {
        port.StartPacing(50);
    } catch (const EComPort &e) {
        code = e.code();
        osError = e.osError();
    }
    QCOMPARE(code, int(EComPort::WriteFailed));
    QCOMPARE(osError, EBADF);
    QVERIFY(!port.Pacing());
}

QTEST_GUILESS_MAIN(TstPacedWriter)
#include "tst_pacedwriter.moc"
