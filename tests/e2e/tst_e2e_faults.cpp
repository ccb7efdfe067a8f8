// Faults end to end: the real window against the ECU simulator over a pseudo-terminal
// when the device vanishes, the port cannot be opened, the line carries rubbish or a
// map file cannot be written or read. Each case checks the exact messages, the state
// left behind and that the window still works afterwards.
#include "e2ewindow.h"

#include "common/names.h"
#include "files/mapfilecodec.h"
#include "serial/comport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// The line under the port's error names the port.
QString vanished(const QString &port)
{
    return QStringLiteral("\n O cabo ou o adaptador da porta %1 foi desconectado. ").arg(port);
}
QString deviceGone(const QString &port) { return QStringLiteral("ReadFile function failed (win error code: 5)") + vanished(port); }
QString writeGone(const QString &port) { return QStringLiteral("WriteFile function failed (win error code: 5)") + vanished(port); }
const QString interruptedLine =
    QStringLiteral(" O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente. ");
const QString attention = QStringLiteral(" Atenção ! !  ");
// Buttons of a transfer that need the port, and those that do not.
const QStringList portButtons = {"btnLerDados", "Button6", "btnEnvia", "Button8", "Button3"};
const QStringList portFreeButtons = {"btnDesativar", "btnAlterarMapas", "btnCarregar", "Button2", "btnSalvar", "Button1"};

QString linkStatus(E2E &e) { return e.screen().get<QLabel>(QStringLiteral("lbConexao"))->text(); }
QString lostStatus(const QString &port) { return QStringLiteral("Conexão perdida — aguardando %1 voltar…").arg(port); }

// CPU time of this process (all its threads), in milliseconds.
qint64 processCpuMs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (qint64(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000 +
           (qint64(ru.ru_utime.tv_usec) + ru.ru_stime.tv_usec) / 1000;
}

QString refusedLoad(const QString &detail)
{
    return attention + QStringLiteral("Arquivo de mapa inválido: ") + detail + QStringLiteral(". Nada foi carregado.  ");
}

// Types a port name into cbPorta as the user does.
void typePort(E2E &e, const QString &path)
{
    auto *combo = e.screen().get<QComboBox>(QStringLiteral("cbPorta"));
    QVERIFY(combo && combo->lineEdit());
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), path);
    QCOMPARE(e.text("cbPorta"), path);
}

bool allEnabled(E2E &e, const QStringList &buttons)
{
    for (const QString &b : buttons)
        if (!e.enabled(b))
            return false;
    return true;
}

// Uploads the screen with ignition cell 5 set to value and checks that the image of
// sim takes it. Empty on success, else what went wrong.
QString uploadLands(E2E &e, SimProcess &sim, int value)
{
    const int before = sim.countEvents(QStringLiteral("command 48"));
    e.screen().setText(QStringLiteral("e5"), QString::number(value));
    auto *b = e.screen().get<QAbstractButton>(QStringLiteral("btnEnvia"));
    if (!b->isEnabled())
        return QStringLiteral("btnEnvia is disabled");
    QTest::mouseClick(b, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while ((e.form->timer2().isEnabled() || !e.enabled(QStringLiteral("btnEnvia"))) && clock.elapsed() < 8000)
        QTest::qWait(20);
    if (e.form->timer2().isEnabled())
        return QStringLiteral("the upload did not end");
    if (!sim.waitForEvents(QStringLiteral("command 48"), before + 1, 3000))
        return QStringLiteral("the simulator got no end-of-upload command");
    const QByteArray image = sim.dumpImage();
    if (image.size() != 256)
        return QStringLiteral("no image from the simulator");
    if (quint8(image.at(5)) != value)
        return QStringLiteral("image byte 5 is %1, not %2").arg(quint8(image.at(5))).arg(value);
    return {};
}

// After a vanished device: "&Desativar", a new simulator typed into cbPorta,
// "&Ativar", and an upload that lands in the new simulator.
void reconnectAndUpload(E2E &e)
{
    const QStringList messages = e.prompt.messages;
    QVERIFY(e.enabled("btnDesativar"));
    e.click("btnDesativar");
    QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnAtivar"), 3000);
    QVERIFY(!e.form->ComPort1().Connected());
    QVERIFY(!e.enabled("btnEnvia"));

    SimProcess next;
    QVERIFY2(next.start(), qPrintable(next.errorString()));
    typePort(e, next.devicePath());
    e.click("btnAtivar");
    QTRY_VERIFY_WITH_TIMEOUT(!e.enabled("btnAtivar") && e.enabled("btnEnvia"), 3000);
    QVERIFY(e.form->ComPort1().Connected());
    const QString failure = uploadLands(e, next, 23);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(e.prompt.messages, messages);
}

// Activates the simulator's port and runs a read-back: ignition cell 0, spoilt
// before, shows the simulator's value 10 again.
void activateAndReadBack(E2E &e, const QStringList &messagesBefore)
{
    typePort(e, e.sim.devicePath());
    e.click("btnAtivar");
    QTRY_VERIFY_WITH_TIMEOUT(!e.enabled("btnAtivar") && e.enabled("btnEnvia"), 3000);
    e.screen().setText("e0", "77");
    const int requests = e.sim.commands().count(0x33);
    e.click("btnLerDados");
    QVERIFY(e.sim.waitForEvents("command 33", requests + 1, 3000));
    QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("Panel1") && e.enabled("btnEnvia"), 6000);
    QCOMPARE(e.text("e0"), QString("10"));
    QCOMPARE(e.prompt.messages, messagesBefore);
}

// Everything a map file holds and a load could touch: the 200 control texts, the
// speed-axis captions, the selections and enabling that the load sets.
QStringList screenSnapshot(E2E &e)
{
    QStringList out;
    for (const QString &c : mapfile::fieldControls())
        out << c + '=' + e.text(c);
    for (const QString &c : names::ignitionRowCaptions() + names::injectionRowCaptions())
        out << c + '=' + e.text(c);
    for (const char *c : {"cbTipoRodaFonica", "cbEscalaRpm", "cbDentesPms"})
        out << QString::fromLatin1(c) + '#' + QString::number(e.screen().itemIndex(c));
    for (const char *c : {"cbDentesPms", "cbPontoZero"})
        out << QString::fromLatin1(c) + (e.enabled(c) ? "+" : "-");
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Saves the screen through "&Salvar" to path; returns the file's bytes.
QByteArray saveTo(E2E &e, const QString &path)
{
    e.prompt.fileAnswers.push_back(path);
    e.click("Button1");
    return readAll(path);
}

// The calling thread without the capabilities that let root read any file, for the
// lifetime of the object (capabilities are per thread on Linux).
class NoReadOverride {
public:
    NoReadOverride()
    {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~NoReadOverride()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    bool active() const { return active_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// Opens a FIFO from the other side if the window still blocks on it after a while,
// so that a test of a blocking open ends instead of hanging.
class FifoRescuer {
public:
    FifoRescuer(const QString &path, int flags) : path_(QFile::encodeName(path)), flags_(flags)
    {
        thread_ = std::thread([this] {
            for (int i = 0; i < 300 && !done_.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done_.load())
                return;
            rescued_ = true;
            const int fd = ::open(path_.constData(), flags_ | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ::close(fd);
            }
        });
    }
    ~FifoRescuer() { finish(); }
    // Call once the blocking operation has returned; true if it had to be rescued.
    bool finish()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
        return rescued_.load();
    }

private:
    QByteArray path_;
    int flags_;
    std::atomic<bool> done_{false};
    std::atomic<bool> rescued_{false};
    std::thread thread_;
};

// A tiny tmpfs, unmounted when the object goes.
class TinyDisk {
public:
    explicit TinyDisk(const QString &dir) : dir_(QFile::encodeName(dir))
    {
        mounted_ = ::mount("tmpfs", dir_.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") == 0;
        error_ = errno;
    }
    ~TinyDisk()
    {
        if (mounted_)
            ::umount2(dir_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    int error() const { return error_; }

private:
    QByteArray dir_;
    bool mounted_ = false;
    int error_ = 0;
};

// Fills the filesystem of path with one file until it is full.
bool fillUp(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray block(512, 'x');
    bool full = false;
    for (int i = 0; i < 10000 && !full; ++i) {
        if (::write(fd, block.constData(), size_t(block.size())) < 0)
            full = errno == ENOSPC;
    }
    ::close(fd);
    return full;
}

} // namespace

class TestE2EFaults : public QObject {
    Q_OBJECT
private slots:
    // The simulator dies while the scanner streams: the port is closed at once, the
    // status line says the link is lost (no box: the scanner's loss is told there), the
    // scanner stops without a stop command, the program does not spin, and a new
    // simulator can be taken into use.
    void deviceVanishesWhileScanning()
    {
        E2E e({"--speed", "14", "--load", "3", "--rpm", "3000"});
        QVERIFY2(e.start(), qPrintable(e.sim.errorString()));
        e.activate();
        e.click("Button3");
        QCOMPARE(e.text("Button3"), QString("Desativar &Scanner"));
        QTRY_VERIFY_WITH_TIMEOUT(e.screen().color(names::ignitionCell(16)) == colors::red, 4000);
        QCOMPARE(e.text("eRpm"), QString("3000"));
        QCOMPARE(e.prompt.messages, QStringList());

        e.sim.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!e.form->ComPort1().Connected(), 1000);
        QCOMPARE(linkStatus(e), lostStatus(e.sim.devicePath()));

        // Two seconds of the event loop right after the loss: the program does not
        // busy-wait on the dead device.
        const qint64 cpuBefore = processCpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(2000);
        const qint64 cpuMs = processCpuMs() - cpuBefore;
        const qint64 wallMs = wall.elapsed();
        qInfo("CPU time after the device vanished: %lld ms in %lld ms", cpuMs, wallMs);
        QVERIFY2(cpuMs < 400, qPrintable(QString("%1 ms CPU in %2 ms").arg(cpuMs).arg(wallMs)));

        QCOMPARE(e.prompt.messages, QStringList());
        QVERIFY(!e.form->timer1().isEnabled());
        QCOMPARE(e.text("Button3"), QString("Ativar &Scanner"));
        QVERIFY(e.screen().isVisible("TabSheet2"));
        QVERIFY(!e.enabled("Button3"));
        QVERIFY(!e.enabled("btnEnvia"));
        QVERIFY(!e.enabled("btnAtivar"));

        reconnectAndUpload(e);
    }

    // The simulator dies after a few upload frames: the upload ends with one box whose
    // last line is the upload's and which carries the port's explanation above it; the
    // upload stops where the line failed and no end command goes out, so the ECU keeps
    // its previous complete set; the port is closed and the buttons that need no port
    // come back.
    void deviceVanishesDuringUpload()
    {
        E2E e;
        QVERIFY(e.start());
        e.activate();
        e.click("btnEnvia");
        QTRY_VERIFY_WITH_TIMEOUT(e.screen().barPosition("pbCarregando") >= 4, 3000);
        // The upload's slots pass on the port's own thread: frames go on out until the
        // killed simulator's side of the line is gone, which takes longer on a busy
        // machine. What must hold is that the upload stops there and never ends.
        const int writtenBefore = e.screen().barPosition("pbCarregando");
        QVERIFY(writtenBefore <= 31);
        e.sim.kill();

        QTRY_VERIFY_WITH_TIMEOUT(!e.form->timer2().isEnabled() && !e.prompt.messages.isEmpty(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(!e.form->ComPort1().Connected(), 1000);
        QTest::qWait(300); // nothing more comes
        const QStringList seen = e.prompt.messages;
        qInfo("killed after frame %d; messages: %s", writtenBefore, qPrintable(seen.join(" | ")));
        QCOMPARE(seen.size(), 1);
        QVERIFY2(seen.first() == writeGone(e.sim.devicePath()) + "\n" + interruptedLine ||
                     seen.first() == deviceGone(e.sim.devicePath()) + "\n" + interruptedLine,
                 qPrintable(seen.first()));
        const int bar = e.screen().barPosition("pbCarregando");
        QVERIFY2(bar >= writtenBefore && bar <= 31, qPrintable(QString::number(bar)));
        QVERIFY(!e.screen().isVisible("pnAguarde"));
        QVERIFY(!e.screen().isVisible("Panel1"));
        QVERIFY(allEnabled(e, portFreeButtons));
        for (const QString &b : portButtons)
            QVERIFY2(!e.enabled(b), qPrintable(b));
        QVERIFY(!e.enabled("btnConfigurarTps")); // only a completed upload unlocks it
        QCOMPARE(linkStatus(e), lostStatus(e.sim.devicePath()));

        // The simulator took at most the frames the upload handed to the line (the
        // writer's thread may write one more while the test reads the bar), in order,
        // and no end command: its image was never replaced.
        const QList<QByteArray> frames = e.sim.uploadFrames();
        QVERIFY2(frames.size() <= bar, qPrintable(QStringLiteral("%1 frames, bar %2").arg(frames.size()).arg(bar)));
        for (int i = 0; i < frames.size(); ++i)
            QCOMPARE(quint8(frames[i].at(0)), quint8(i + 1));
        QCOMPARE(e.sim.countEvents("command 48"), 0);

        reconnectAndUpload(e);
    }

    // The simulator dies in the middle of a read-back: one box for the loss, the
    // read-back is dropped at once, its panels go.
    void deviceVanishesDuringReadBack()
    {
        E2E e({"--pace", "150"});
        QVERIFY(e.start());
        e.activate();
        e.click("btnLerDados");
        QVERIFY(e.screen().isVisible("Panel1"));
        // Kind 1 has come: the read-back locked the buttons.
        QTRY_VERIFY_WITH_TIMEOUT(!e.enabled("btnEnvia"), 10000);
        e.sim.kill();

        QTRY_VERIFY_WITH_TIMEOUT(!e.prompt.messages.isEmpty(), 10000);
        QTest::qWait(3500); // longer than the read-back's watchdog
        // Whichever call of the receive event meets the vanished device first names
        // itself: the read, or the count of waiting bytes before it.
        const QString countGone =
            QStringLiteral("ClearCommError function failed (win error code: 5)") + vanished(e.sim.devicePath());
        QCOMPARE(e.prompt.messages.size(), 1);
        QVERIFY2(e.prompt.messages.first() == deviceGone(e.sim.devicePath()) || e.prompt.messages.first() == countGone,
                 qPrintable(e.prompt.messages.first()));
        QVERIFY(!e.screen().isVisible("Panel1"));
        QVERIFY(!e.screen().isVisible("pnAguarde"));
        QVERIFY(allEnabled(e, portFreeButtons));
        for (const QString &b : portButtons)
            QVERIFY2(!e.enabled(b), qPrintable(b));
        QVERIFY(!e.enabled("btnConfigurarTps")); // the loss is no real end
        QVERIFY(!e.form->timerReadBack().isEnabled());
        QVERIFY(!e.enabled("btnAtivar"));

        reconnectAndUpload(e);
    }

    // A port that another opener holds is refused; once it is free, it opens.
    void portHeldByAnotherOpener_data()
    {
        QTest::addColumn<bool>("otherProcess");
        QTest::newRow("TComPort of this process") << false;
        QTest::newRow("flock in another process") << true;
    }
    void portHeldByAnotherOpener()
    {
        QFETCH(bool, otherProcess);
        E2E e;
        QVERIFY(e.start());
        const QString path = e.sim.devicePath();

        PortHolder holder;
        QVERIFY(holder.hold(path, otherProcess));

        e.click("btnAtivar");
        // The second line names the holder: the shell that became sleep, or this test.
        QCOMPARE(e.prompt.messages,
                 QStringList{QStringLiteral("Unable to open com port (win error code: 11)\n"
                                            " A porta %1 está em uso por outro programa: %2 (processo %3). ")
                                 .arg(path, holder.name())
                                 .arg(holder.pid())});
        QVERIFY(e.enabled("btnAtivar"));
        QVERIFY(!e.enabled("btnDesativar"));
        QVERIFY(!e.enabled("btnEnvia"));
        QVERIFY(!e.form->ComPort1().Connected());

        holder.release();
        e.prompt.messages.clear();
        e.activate();
        const QString failure = uploadLands(e, e.sim, 31);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(e.prompt.messages, QStringList());
    }

    // Port names that do not open: the exact error, the port stays closed, and the
    // right name typed afterwards works.
    void portThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        // The component's text, then the port named and the cause in Portuguese ("%2":
        // the port's path).
        const QString prefix = "Unable to open com port (win error code: %1)\n";
        QTest::newRow("start-up text !!")
            << "!!"
            << prefix.arg(ENOENT) +
                   QString::fromUtf8(" Nenhuma porta serial foi encontrada: conecte o cabo do módulo e escolha a porta. ");
        QTest::newRow("missing device") << "/dev/ttyUSB97"
                                        << prefix.arg(ENOENT) + QString::fromUtf8(" A porta %2 não existe. ");
        QTest::newRow("path below a regular file")
            << "@file/ttyUSB0"
            << prefix.arg(ENOTDIR) +
                   QString::fromUtf8(" Não foi possível abrir a porta %2: uma parte do caminho não é uma pasta. ");
        QTest::newRow("directory") << "@dir"
                                   << prefix.arg(EISDIR) +
                                          QString::fromUtf8(" Não foi possível abrir a porta %2: é uma pasta. ");
        QTest::newRow("regular file") << "@file" << prefix.arg(ENOTTY) + QString::fromUtf8(" %2 não é uma porta serial. ");
    }
    void portThatCannotBeOpened()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath("file"), "not a terminal\n"));
        QVERIFY(QDir(dir.path()).mkdir("dir"));
        if (name.startsWith('@'))
            name = dir.filePath(name.mid(1));
        message.replace("%2", name);

        E2E e;
        QVERIFY(e.start());
        typePort(e, name);
        e.click("btnAtivar");
        QCOMPARE(e.prompt.messages, QStringList{message});
        QVERIFY(e.enabled("btnAtivar"));
        QVERIFY(!e.enabled("btnDesativar"));
        QVERIFY(!e.enabled("Button3"));
        QVERIFY(!e.form->ComPort1().Connected());

        activateAndReadBack(e, {message});
    }

    // Rubbish between good frames while the scanner runs: the good frames still move
    // the read-outs and the marked cells, nothing is shown, the scanner keeps running.
    void rubbishBetweenLiveFrames_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("garbage 1") << QStringList{"garbage 1"};
        QTest::newRow("garbage 50") << QStringList{"garbage 50"};
        QTest::newRow("garbage 500") << QStringList{"garbage 500"};
        QTest::newRow("short") << QStringList{"short"};
        QTest::newRow("short twice, garbage") << QStringList{"short", "garbage 7", "short"};
        // The frames that carry the new values arrive shifted.
        QTest::newRow("fault lose-h") << QStringList{"fault lose-h"};
        QTest::newRow("fault lose-hp") << QStringList{"fault lose-hp"};
        QTest::newRow("fault lose-h 2, then garbage") << QStringList{"fault lose-h 2", "garbage 13"};
    }
    void rubbishBetweenLiveFrames()
    {
        QFETCH(QStringList, lines);
        E2E e({"--speed", "14", "--load", "3", "--rpm", "3000", "--seed", "7"});
        QVERIFY(e.start());
        e.activate();
        e.click("Button3");
        const auto red = [&](int k) {
            return e.screen().color(names::ignitionCell(k)) == colors::red &&
                   e.screen().color(names::injectionCell(k)) == colors::red;
        };
        QTRY_VERIFY_WITH_TIMEOUT(red(16) && red(17) && red(24) && red(25), 4000);
        QCOMPARE(e.text("eRpm"), QString("3000"));

        for (const QString &line : lines)
            QVERIFY2(e.sim.command(line), qPrintable(line));
        // Speed 26: row 4 and the next; load 15: column 2 and the next.
        for (const char *line : {"rpm 4000", "speed 26", "load 15"})
            QVERIFY2(e.sim.command(line), line);
        QTRY_VERIFY_WITH_TIMEOUT(e.text("eRpm") == "4000" && e.text("eLinhaMapa") == "26" && red(34) &&
                                     red(35) && red(42) && red(43),
                                 5000);
        for (int k : {16, 17, 24, 25})
            QCOMPARE(e.screen().color(names::ignitionCell(k)), colors::black);
        QVERIFY(e.sim.command("fault none"));

        // The line is clean again: one more change comes through too.
        QVERIFY(e.sim.command("rpm 5000"));
        QTRY_COMPARE_WITH_TIMEOUT(e.text("eRpm"), QString("5000"), 4000);
        QCOMPARE(e.prompt.messages, QStringList());
        QCOMPARE(e.text("Button3"), QString("Desativar &Scanner"));
        QVERIFY(e.form->timer1().isEnabled());
        QVERIFY(!e.screen().isVisible("TabSheet2"));
    }

    // Saves that cannot complete: the old file stays as it was, the message is exact.
    void saveOntoAFullDisk()
    {
        E2E e;
        QVERIFY(e.start());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString mount = dir.filePath("tiny");
        QVERIFY(QDir(dir.path()).mkdir("tiny"));
        TinyDisk disk(mount);
        if (!disk.mounted())
            QSKIP(qPrintable(QString("no tmpfs can be mounted here (errno %1)").arg(disk.error())));

        const QString target = mount + "/mapa.txt";
        const QByteArray old = saveTo(e, target);
        QCOMPARE(old.size(), 677);
        QVERIFY(fillUp(mount + "/filler"));

        e.screen().setText("e0", "33");
        e.prompt.fileAnswers.push_back(target);
        e.click("Button1");
        QCOMPARE(e.prompt.messages,
                 QStringList{QString::fromUtf8("Disk full\nO arquivo %1 não pôde ser gravado: disco cheio.").arg(target)});
        QCOMPARE(readAll(target), old);
        QCOMPARE(QDir(mount).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 (QStringList{"filler", "mapa.txt"}));
        QCOMPARE(e.text("e0"), QString("33"));

        // With room again the same save goes through.
        QVERIFY(QFile::remove(mount + "/filler"));
        e.prompt.messages.clear();
        const QByteArray saved = saveTo(e, target);
        QCOMPARE(e.prompt.messages, QStringList());
        QCOMPARE(saved.split(';').value(8), QByteArray("33"));
    }

    void saveOntoADeviceOrPipe_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason"); // in Portuguese, after the file's name
        QTest::newRow("/dev/full") << "/dev/full" << "Disk full" << "disco cheio";
        QTest::newRow("directory") << "@dir" << "File access denied" << QString::fromUtf8("é uma pasta");
        QTest::newRow("below a regular file") << "@file/mapa.txt" << "File not found"
                                              << QString::fromUtf8("uma parte do caminho não é uma pasta");
        // Nobody reads the pipe: the save must not wait for a reader for ever.
        QTest::newRow("FIFO without reader") << "@fifo" << "I/O error 6" << QString::fromUtf8("dispositivo não encontrado");
    }
    void saveOntoADeviceOrPipe()
    {
        QFETCH(QString, target);
        QFETCH(QString, message);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("dir"));
        QVERIFY(writeFile(dir.filePath("file"), "x"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0644), 0);
        if (target.startsWith('@'))
            target = dir.filePath(target.mid(1));

        E2E e;
        QVERIFY(e.start());
        e.prompt.fileAnswers.push_back(target);
        FifoRescuer rescuer(target, O_RDONLY);
        e.click("Button1");
        QVERIFY2(!rescuer.finish(), "the save blocked the window until a reader came");
        QCOMPARE(e.prompt.messages,
                 QStringList{QString::fromUtf8("%1\nO arquivo %2 não pôde ser gravado: %3.").arg(message, target, reason)});
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st) == 0, !message.startsWith("File not"));
        if (target == "/dev/full")
            QVERIFY(S_ISCHR(st.st_mode)); // written to, never replaced
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 (QStringList{"dir", "fifo", "file"}));
        QCOMPARE(QDir(dir.filePath("dir")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());

        // The window still saves.
        e.prompt.messages.clear();
        QCOMPARE(saveTo(e, dir.filePath("good.txt")).size(), 677);
        QCOMPARE(e.prompt.messages, QStringList());
    }

    // Loads of files that are no map file: a clear message, nothing on the screen
    // changes, and a good file loads afterwards.
    void loadOfABadFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        // The map file's own text, then the file and the cause in Portuguese.
        const QString named = QString::fromUtf8("%1\nO arquivo %2 não pôde ser lido: %3.");
        QTest::newRow("no read permission")
            << "unreadable" << named.arg("File access denied", "%1", QString::fromUtf8("permissão negada"));
        QTest::newRow("below a regular file")
            << "belowfile" << named.arg("File not found", "%1", QString::fromUtf8("uma parte do caminho não é uma pasta"));
        QTest::newRow("missing") << "missing"
                                 << named.arg("File not found", "%1", QString::fromUtf8("arquivo ou pasta não encontrado"));
        QTest::newRow("directory") << "dir" << named.arg("File access denied", "%1", QString::fromUtf8("é uma pasta"));
        QTest::newRow("empty") << "empty" << refusedLoad("o arquivo está vazio");
        QTest::newRow("binary") << "binary" << QString(); // message computed from the bytes
        QTest::newRow("a million ;") << "semicolons" << refusedLoad("1000001 campos em vez de 202");
        QTest::newRow("/dev/zero") << "zero" << refusedLoad("a primeira linha é longa demais");
        // No writer: the load must not wait for one for ever.
        QTest::newRow("FIFO without writer") << "fifo" << refusedLoad("o arquivo está vazio");
    }
    void loadOfABadFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath("bad.txt");
        if (kind == "unreadable") {
            QVERIFY(writeFile(path, "x\r\n"));
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        } else if (kind == "belowfile") {
            QVERIFY(writeFile(dir.filePath("plain"), "x"));
            path = dir.filePath("plain/bad.txt");
        } else if (kind == "dir") {
            QVERIFY(QDir(dir.path()).mkdir("bad.txt"));
        } else if (kind == "empty") {
            QVERIFY(writeFile(path, ""));
        } else if (kind == "binary") {
            QRandomGenerator random(20240601);
            QByteArray bytes(64 * 1024, '\0');
            for (char &b : bytes)
                b = char(random.bounded(256));
            QVERIFY(writeFile(path, bytes));
            qsizetype end = 0;
            while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
                ++end;
            const qsizetype fields = bytes.left(end).count(';') + 1;
            QVERIFY(fields != 202);
            message = refusedLoad(QString("%1 %2 em vez de 202").arg(fields).arg(fields == 1 ? "campo" : "campos"));
        } else if (kind == "semicolons") {
            QVERIFY(writeFile(path, QByteArray(1000000, ';')));
        } else if (kind == "zero") {
            path = "/dev/zero";
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        }
        if (message.contains("%1"))
            message = message.arg(path);

        E2E e;
        QVERIFY(e.start());
        // A screen that differs from any file's: a load that took anything would show.
        e.screen().setText("e0", "21");
        e.screen().setText("e71i", "9,9");
        e.screen().setText("eLimiteRpm", "6500");
        e.screen().setItemIndex("cbEscalaRpm", 1);
        e.form->controller().cbEscalaRpmChange();
        const QByteArray fileBefore = saveTo(e, dir.filePath("before.txt"));
        QCOMPARE(fileBefore.size(), 677);
        const QStringList before = screenSnapshot(e);

        e.prompt.fileAnswers.push_back(path);
        {
            std::unique_ptr<NoReadOverride> noOverride;
            if (kind == "unreadable" && ::geteuid() == 0) {
                noOverride = std::make_unique<NoReadOverride>();
                QVERIFY2(noOverride->active(), "cannot drop the read override of root");
            }
            FifoRescuer rescuer(path, O_WRONLY);
            e.click("Button2");
            QVERIFY2(!rescuer.finish(), "the load blocked the window until a writer came");
        }
        QCOMPARE(e.prompt.messages, QStringList{message});
        QCOMPARE(screenSnapshot(e), before);
        // The TPS values too: the screen saves to the same bytes.
        QCOMPARE(saveTo(e, dir.filePath("after.txt")), fileBefore);

        // A good file still loads.
        QList<QByteArray> fields = fileBefore.split(';');
        fields[8] = "17";
        fields[201] = "240\r\n";
        QVERIFY(writeFile(dir.filePath("good.txt"), fields.join(';')));
        e.prompt.fileAnswers.push_back(dir.filePath("good.txt"));
        e.click("Button2");
        QCOMPARE(e.prompt.messages, QStringList{message});
        QCOMPARE(e.text("e0"), QString("17"));
        QCOMPARE(e.text("e71i"), QString("9,9"));
        QCOMPARE(saveTo(e, dir.filePath("again.txt")), fields.join(';'));
    }
};

QTEST_MAIN(TestE2EFaults)
#include "tst_e2e_faults.moc"
