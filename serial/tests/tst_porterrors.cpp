// The second line of the port errors (no permission, held by another program,
// device gone) and the UUCP lock file the component keeps while it holds a device.
#include "deadpid.h"
#include "serial/comport.h"
#include "serial/porterror.h"
#include "ptypair.h"

#include <QtTest>
#include <cerrno>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString openError(const QString &path)
{
    TComPort port;
    port.setPort(path);
    try {
        port.Open();
    } catch (const EComPort &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("aberta");
}

// The helper opening path as another user; args run it (runuser or setpriv).
QString openErrorAs(const QStringList &runAs, const QString &path)
{
    QProcess p;
    p.start(runAs.first(), runAs.mid(1) + QStringList{VELTO_PORTTRY, QStringLiteral("open"), path});
    if (!p.waitForFinished(20000))
        return QStringLiteral("(helper did not end)");
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

QByteArray lockText(qint64 pid) { return QByteArray::number(pid).rightJustified(10, ' ') + '\n'; }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// The pseudo-terminal's slave bound onto a file outside /dev/pts, so that the
// component treats it as a real serial device (which gets a lock file).
class SerialNode {
public:
    SerialNode(const PtyPair &pty, const QString &folder) : path_(folder + QStringLiteral("/ttyVT0"))
    {
        QFile(path_).open(QIODevice::WriteOnly);
        mounted_ = QProcess::execute(QStringLiteral("mount"), {"--bind", pty.slaveName(), path_}) == 0;
    }
    ~SerialNode()
    {
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), {path_});
    }
    SerialNode(const SerialNode &) = delete;
    SerialNode &operator=(const SerialNode &) = delete;
    // Empty when the bind mount failed.
    QString path() const { return mounted_ ? path_ : QString(); }

private:
    QString path_;
    bool mounted_ = false;
};

} // namespace

class TestPortErrors : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("VELTO_LOCK_DIR"); }
    void deviceGone();
    void everyErrorNamesThePort_data();
    void everyErrorNamesThePort();
    void openingNoSuchPort();
    void heldByAnotherProgram();
    void heldByALockFile();
    void exclusiveOpenRefusedToAnotherUser();
    void noPermission_data();
    void noPermission();
    void lockFileWhileOpen_data();
    void lockFileWhileOpen();
};

// Under the component's fixed text, the window's language says what failed on which
// port and why (the system's error in Portuguese).
void TestPortErrors::everyErrorNamesThePort_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("osError");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("line");
    QTest::newRow("no such port") << int(EComPort::OpenFailed) << ENOENT << "/dev/ttyUSB9"
                                  << QString::fromUtf8(" A porta /dev/ttyUSB9 não existe. ");
    QTest::newRow("no port found") << int(EComPort::OpenFailed) << ENOENT << "/dev/!!"
                                   << QString::fromUtf8(" Nenhuma porta serial foi encontrada: conecte o cabo do módulo "
                                                        "e escolha a porta. ");
    QTest::newRow("not a serial port") << int(EComPort::OpenFailed) << ENOTTY << "/home/ana/mapa.txt"
                                       << QString::fromUtf8(" /home/ana/mapa.txt não é uma porta serial. ");
    QTest::newRow("open, other cause") << int(EComPort::OpenFailed) << ELOOP << "/dev/ttyUSB0"
                                       << QString::fromUtf8(" Não foi possível abrir a porta /dev/ttyUSB0: links "
                                                            "simbólicos demais no caminho. ");
    QTest::newRow("line settings") << int(EComPort::SetStateFailed) << EINVAL << "/dev/ttyUSB0"
                                   << QString::fromUtf8(" A porta /dev/ttyUSB0 recusou a configuração da linha: "
                                                        "argumento inválido. ");
    QTest::newRow("read") << int(EComPort::ReadFailed) << EAGAIN << "/dev/ttyACM0"
                          << QString::fromUtf8(" A leitura da porta /dev/ttyACM0 falhou: recurso temporariamente "
                                               "indisponível. ");
    QTest::newRow("write, no permission") << int(EComPort::WriteFailed) << EACCES << "/dev/ttyACM0"
                                          << QString::fromUtf8(" A escrita na porta /dev/ttyACM0 falhou: permissão "
                                                               "negada. ");
    QTest::newRow("unknown number") << int(EComPort::ModemStatusFailed) << 9999 << "/dev/ttyS0"
                                    << QString::fromUtf8(" As linhas de controle da porta /dev/ttyS0 não puderam ser "
                                                         "lidas: erro do sistema número 9999. ");
    QTest::newRow("port not open") << int(EComPort::WriteFailed) << EBADF << "/dev/ttyS0"
                                   << QString::fromUtf8(" A porta /dev/ttyS0 não está aberta. ");
    QTest::newRow("no device") << int(EComPort::ReadFailed) << EAGAIN << "" << "";
}

void TestPortErrors::everyErrorNamesThePort()
{
    QFETCH(int, code);
    QFETCH(int, osError);
    QFETCH(QString, path);
    QFETCH(QString, line);
    QCOMPARE(explainPortError(code, osError, path), line);
    const EComPort e(code, osError, path);
    QCOMPARE(QString::fromUtf8(e.what()),
             EComPort::codeText(code) + QStringLiteral(" (win error code: %1)").arg(osError) +
                 (line.isEmpty() ? QString() : "\n" + line));
}

// The port component itself on a name that is no device: its fixed text, then the port.
void TestPortErrors::openingNoSuchPort()
{
    TComPort port;
    port.setPort(QStringLiteral("/dev/velto-no-such-port"));
    try {
        port.Open();
        QFAIL("a port that does not exist opened");
    } catch (const EComPort &e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QString::fromUtf8("Unable to open com port (win error code: 2)\n A porta /dev/velto-no-such-port não "
                                   "existe. "));
    }
}

// The cable pulled: the master of the pseudo-terminal closed under an open port.
void TestPortErrors::deviceGone()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    // The line names the port, as the user chose it.
    const QString gone = QStringLiteral(" O cabo ou o adaptador da porta %1 foi desconectado. ").arg(pty.slaveName());
    TComPort port;
    port.setPort(pty.slaveName());
    port.Open();
    QStringList errors;
    port.OnError = [&](const EComPort &e) { errors << QString::fromUtf8(e.what()); };
    pty.closeMaster();
    QByteArray got;
    try {
        port.Read(got, 12);
        QFAIL("read from a vanished device succeeded");
    } catch (const EComPort &e) {
        QCOMPARE(QString::fromUtf8(e.what()), "ReadFile function failed (win error code: 5)\n" + gone);
        QCOMPARE(e.explanation(), gone);
        QCOMPARE(e.devicePath(), pty.slaveName());
    }
    try {
        port.Write("\x01");
        QFAIL("write to a vanished device succeeded");
    } catch (const EComPort &e) {
        QCOMPARE(QString::fromUtf8(e.what()), "WriteFile function failed (win error code: 5)\n" + gone);
    }
    // The event thread's report of the hang-up carries the same line.
    QTRY_COMPARE(errors, QStringList{"ReadFile function failed (win error code: 5)\n" + gone});
}

// flock(1) holds the device while cat waits for its input: the line names it
// and its pid from /proc/locks.
void TestPortErrors::heldByAnotherProgram()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    QProcess flock;
    flock.start(QStringLiteral("flock"), {"-x", "-o", pty.slaveName(), "cat"});
    QVERIFY(flock.waitForStarted());
    QTRY_COMPARE(findPortHolder(pty.slaveName()).pid, flock.processId());
    QCOMPARE(openError(pty.slaveName()),
             QStringLiteral("Unable to open com port (win error code: 11)\n"
                            " A porta %1 está em uso por outro programa: flock (processo %2). ")
                 .arg(pty.slaveName())
                 .arg(flock.processId()));
    flock.closeWriteChannel();
    QVERIFY(flock.waitForFinished());
    QCOMPARE(openError(pty.slaveName()), QStringLiteral("aberta"));
}

// A running program's UUCP lock file: the device is not even opened.
void TestPortErrors::heldByALockFile()
{
    QTemporaryDir dir;
    PtyPair pty;
    QVERIFY(pty.isValid());
    const SerialNode serial(pty, dir.path());
    const QString node = serial.path();
    if (node.isEmpty())
        QSKIP("needs root to bind the pseudo-terminal onto a serial device name");
    qputenv("VELTO_LOCK_DIR", QFile::encodeName(dir.path()));
    QProcess sleeper;
    sleeper.start(QStringLiteral("sleep"), {"60"});
    QVERIFY(sleeper.waitForStarted());
    const QString lock = dir.path() + QStringLiteral("/LCK..ttyVT0");
    writeFile(lock, lockText(sleeper.processId()));

    QCOMPARE(openError(node), QStringLiteral("Unable to open com port (win error code: 16)\n"
                                             " A porta %1 está em uso por outro programa: sleep (processo %2). ")
                                  .arg(node)
                                  .arg(sleeper.processId()));
    QCOMPARE(pty.exclusive(), 0); // never opened: not marked exclusive
    QCOMPARE(readFile(lock), lockText(sleeper.processId()));
    sleeper.kill();
    sleeper.waitForFinished();
}

// Another user meets TIOCEXCL (root got past it in the tests above): the holder is
// found through the lock that /proc/locks shows.
void TestPortErrors::exclusiveOpenRefusedToAnotherUser()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run the helper as another user");
    PtyPair pty;
    QVERIFY(pty.isValid());
    QCOMPARE(::chmod(QFile::encodeName(pty.slaveName()).constData(), 0666), 0);
    TComPort holder;
    holder.setPort(pty.slaveName());
    holder.Open();
    QCOMPARE(openErrorAs({"runuser", "-u", "nobody", "--"}, pty.slaveName()),
             QStringLiteral("Unable to open com port (win error code: 16)\n"
                            " A porta %1 está em uso por outro programa: tst_porterrors (processo %2). ")
                 .arg(pty.slaveName())
                 .arg(QCoreApplication::applicationPid()));
}

void TestPortErrors::noPermission_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("runAs");
    QTest::addColumn<QString>("line"); // %1: the device
    QTest::newRow("not in the group")
        << "dialout" << 0660 << QStringList{"runuser", "-u", "nobody", "--"}
        << " Sem permissão para %1 (grupo dialout). Execute: sudo usermod -aG dialout nobody e entre de novo na "
           "sessão. ";
    // nobody's own group is nogroup; this session runs without it.
    QTest::newRow("in the group, not in this session")
        << "nogroup" << 0660
        << QStringList{"setpriv", "--reuid=nobody", "--regid=dialout", "--clear-groups"}
        << " Sem permissão para %1 (grupo nogroup). O usuário nobody já está no grupo nogroup, mas esta sessão "
           "começou antes: entre de novo na sessão. ";
    QTest::newRow("only the owner may open it")
        << "dialout" << 0600 << QStringList{"runuser", "-u", "nobody", "--"}
        << " Sem permissão para %1 (só o dono, root, pode abri-lo). ";
}

void TestPortErrors::noPermission()
{
    QFETCH(QString, group);
    QFETCH(int, mode);
    QFETCH(QStringList, runAs);
    QFETCH(QString, line);
    if (::geteuid() != 0)
        QSKIP("needs root to run the helper as another user");
    PtyPair pty;
    QVERIFY(pty.isValid());
    const QByteArray device = QFile::encodeName(pty.slaveName());
    const struct group *g = ::getgrnam(group.toLocal8Bit().constData());
    QVERIFY(g);
    QCOMPARE(::chown(device.constData(), 0, g->gr_gid), 0);
    QCOMPARE(::chmod(device.constData(), mode_t(mode)), 0);
    QCOMPARE(openErrorAs(runAs, pty.slaveName()),
             "Unable to open com port (win error code: 13)\n" + line.arg(pty.slaveName()));
}

void TestPortErrors::lockFileWhileOpen_data()
{
    QTest::addColumn<QString>("device"); // "serial": a node outside /dev/pts; "pty"
    QTest::addColumn<QString>("before"); // lock file content before the open
    QTest::addColumn<bool>("writable");  // the lock folder exists
    QTest::newRow("serial device") << "serial" << "" << true;
    QTest::newRow("stale lock of an ended program") << "serial" << "dead" << true;
    QTest::newRow("lock file without a pid") << "serial" << "garbage" << true;
    QTest::newRow("no lock folder: opens without one") << "serial" << "" << false;
    QTest::newRow("pseudo-terminal: no lock file") << "pty" << "" << true;
}

void TestPortErrors::lockFileWhileOpen()
{
    QFETCH(QString, device);
    QFETCH(QString, before);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    PtyPair pty;
    QVERIFY(pty.isValid());
    const SerialNode serial(pty, dir.path());
    const QString path = device == QLatin1String("pty") ? pty.slaveName() : serial.path();
    if (path.isEmpty())
        QSKIP("needs root to bind the pseudo-terminal onto a serial device name");
    const QString folder = dir.path() + QStringLiteral("/lock");
    if (writable)
        QVERIFY(QDir().mkpath(folder));
    qputenv("VELTO_LOCK_DIR", QFile::encodeName(folder));
    const QString lock = folder + QStringLiteral("/LCK..ttyVT0");
    if (before == QLatin1String("dead"))
        writeFile(lock, lockText(deadPid()));
    else if (before == QLatin1String("garbage"))
        writeFile(lock, "\n");

    TComPort port;
    port.setPort(path);
    port.Open();
    QVERIFY(port.Connected());
    const QStringList whileOpen = QDir(folder).entryList(QDir::Files);
    if (device == QLatin1String("serial") && writable) {
        QCOMPARE(whileOpen, QStringList{"LCK..ttyVT0"});
        QCOMPARE(readFile(lock), lockText(QCoreApplication::applicationPid()));
        // A second port of this program is kept out by the lock file.
        QCOMPARE(openError(path), QStringLiteral("Unable to open com port (win error code: 16)\n"
                                                 " A porta %1 está em uso por outro programa: tst_porterrors "
                                                 "(processo %2). ")
                                      .arg(path)
                                      .arg(QCoreApplication::applicationPid()));
    } else {
        QCOMPARE(whileOpen, QStringList{});
    }
    port.Close();
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{});
}

QTEST_GUILESS_MAIN(TestPortErrors)
#include "tst_porterrors.moc"
