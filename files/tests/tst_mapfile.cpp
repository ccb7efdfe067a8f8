// Saving the screen to a map file and loading it back, with the file system's failures.
#include "fakes.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/parameterimage.h"
#include "link/transmitter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<cannot read " + path.toUtf8() + ">";
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The 202 fields of a fresh screen, taken from the start-up texts of the controls.
QStringList freshFields()
{
    Rig rig;
    QStringList fields;
    for (const QString &c : mapfile::fieldControls())
        fields << rig.screen.text(c);
    fields << "130" << "230";
    return fields;
}

QByteArray lineOf(const QStringList &fields) { return fields.join(';').toLatin1() + "\r\n"; }

// Everything a load may touch, to show that a refused load changed nothing.
struct Snapshot {
    QStringList texts;
    int wheelIndex = 0, scaleIndex = 0;
    bool toothEnabled = false, zeroEnabled = false;
    int tpsMin = 0, tpsMax = 0;
    static Snapshot of(const Rig &rig)
    {
        Snapshot s;
        for (const QString &c : mapfile::fieldControls())
            s.texts << rig.screen.text(c);
        s.wheelIndex = rig.screen.itemIndex("cbTipoRodaFonica");
        s.scaleIndex = rig.screen.itemIndex("cbEscalaRpm");
        s.toothEnabled = rig.screen.isEnabled("cbDentesPms");
        s.zeroEnabled = rig.screen.isEnabled("cbPontoZero");
        s.tpsMin = rig.state.wv.tpsMin;
        s.tpsMax = rig.state.wv.tpsMax;
        return s;
    }
    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};

// A screen that differs from the start-up one in every field the file holds.
void changeEverything(Rig &rig)
{
    const QStringList &controls = mapfile::fieldControls();
    for (int i = 0; i < controls.size(); ++i)
        rig.screen.setText(controls[i], QString::fromUtf8("x%1ç").arg(i + 1));
    rig.screen.setItemIndex("cbTipoRodaFonica", 2);
    rig.screen.setItemIndex("cbEscalaRpm", 1);
    rig.screen.setEnabled("cbDentesPms", false);
    rig.state.wv.tpsMin = 11;
    rig.state.wv.tpsMax = 22;
}

struct Loaded {
    int speedScaleCalls = 0;
    QList<int> scaleIndexAtCall;
};

void watchSpeedScale(Rig &rig, Loaded &loaded)
{
    rig.ctx.hooks.speedScaleChange = [&rig, &loaded] {
        ++loaded.speedScaleCalls;
        loaded.scaleIndexAtCall << rig.screen.itemIndex("cbEscalaRpm");
    };
}

// Lowers a resource limit for the length of one check and puts it back afterwards.
class LimitScope {
public:
    LimitScope(int resource, rlim_t soft) : resource_(resource)
    {
        ok_ = ::getrlimit(resource_, &old_) == 0;
        if (ok_) {
            rlimit lowered = old_;
            lowered.rlim_cur = soft;
            ok_ = ::setrlimit(resource_, &lowered) == 0;
        }
    }
    ~LimitScope()
    {
        if (ok_)
            ::setrlimit(resource_, &old_);
    }
    bool ok() const { return ok_; }

private:
    int resource_;
    rlimit old_{};
    bool ok_ = false;
};

// Sets the immutable attribute of a file or folder (even root cannot then change it)
// and clears it again at the end of the scope.
class ImmutableScope {
public:
    explicit ImmutableScope(const QString &path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags_) < 0)
            return;
        int set = flags_ | FS_IMMUTABLE_FL;
        ok_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &set) == 0;
    }
    ~ImmutableScope()
    {
        if (ok_)
            ::ioctl(fd_, FS_IOC_SETFLAGS, &flags_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    int flags_ = 0;
    bool ok_ = false;
};

const char *const freshBegin =
    "TPS X RPM;20;6000;128;1;70;1500;2200;10;10;6;6;6;6;6;6;10;10;12;12;12;12;13;14;";
const char *const freshEnd =
    "Normal;550;700;820;TPS;30;Ativada;0;0;0;0;TPS;3;5;3;55;40;30;20;12;5;0;0;5;4;3;2;1;0;0;-2;70;50;40;30;20;"
    "15;0;0;87;80;60-2;6600;3,6;0;6;0,7;20;130;230";

} // namespace

class TestMapFile : public QObject {
    Q_OBJECT
private slots:
    void dialogSpec_data();
    void dialogSpec();
    void cancelledDialogsDoNothing();
    void saveFreshScreen();
    void saveWritesAccentsAsLatin1();
    void saveThenLoadRestoresEverything();
    void saveReplacesOldFileKeepingItsPermissions();
    void saveThroughLinkReplacesTheFileItPointsTo();
    void loadWheelType_data();
    void loadWheelType();
    void loadSpeedScale_data();
    void loadSpeedScale();
    void loadedZeroPointIsSent_data();
    void loadedZeroPointIsSent();
    void loadReadsFirstLineOnly();
    void loadRefusesIncompleteFiles_data();
    void loadRefusesIncompleteFiles();
    void saveRefusesTextsThatCannotComeBack_data();
    void saveRefusesTextsThatCannotComeBack();
    void failedWriteKeepsOldFile();
    void unwritableFolderOrFileKeepsOldFile_data();
    void unwritableFolderOrFileKeepsOldFile();
    void ioErrors_data();
    void ioErrors();
    void tooManyOpenFiles();
    void permissionDenied();
};

void TestMapFile::dialogSpec_data()
{
    QTest::addColumn<bool>("withFolder");
    QTest::newRow("program folder exists") << true;
    QTest::newRow("no program folder: home") << false;
}

void TestMapFile::dialogSpec()
{
    QFETCH(bool, withFolder);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString folder = home.path() + QString::fromUtf8("/InjeçãoSorvaniVelto");
    if (withFolder)
        QVERIFY(QDir().mkdir(folder));
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));

    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {std::nullopt, std::nullopt};
    file.btnSalvarClick();
    file.btnCarregarClick();
    qputenv("HOME", oldHome);

    QCOMPARE(rig.prompt.dialogs.size(), 2);
    for (const FileDialogSpec &setup : rig.prompt.dialogs) {
        QCOMPARE(setup.filter, QString::fromUtf8("Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*"));
        QCOMPARE(setup.defaultSuffix, QString("txt"));
        QCOMPARE(setup.initialDir, withFolder ? folder : home.path());
    }
    // The dialogs never create the folder.
    QCOMPARE(QFileInfo(folder).isDir(), withFolder);
}

void TestMapFile::cancelledDialogsDoNothing()
{
    QTemporaryDir dir;
    Rig rig;
    changeEverything(rig);
    const Snapshot before = Snapshot::of(rig);
    Loaded loaded;
    watchSpeedScale(rig, loaded);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {std::nullopt, std::nullopt};
    rig.guarded([&] { file.btnSalvarClick(); });
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QVERIFY(Snapshot::of(rig) == before);
    QCOMPARE(loaded.speedScaleCalls, 0);
    QCOMPARE(entries(dir.path()), QStringList());
}

void TestMapFile::saveFreshScreen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mapa.txt");
    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnSalvarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());

    const QByteArray bytes = readBytes(path);
    QVERIFY2(bytes.endsWith("\r\n"), bytes.right(10).constData());
    const QByteArray line = bytes.chopped(2);
    QCOMPARE(line.size(), 675);
    QVERIFY(!line.contains('\r') && !line.contains('\n'));
    QVERIFY2(line.startsWith(freshBegin), line.left(90).constData());
    QVERIFY2(line.endsWith(freshEnd), line.right(160).constData());
    QCOMPARE(line.count(';'), 201);
    // Only the map file is left in the folder.
    QCOMPARE(entries(dir.path()), QStringList{"mapa.txt"});
}

void TestMapFile::saveWritesAccentsAsLatin1()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("acentos.txt");
    Rig rig;
    rig.screen.setText("cbSondaTipo", QString::fromUtf8("Banda Larga ção"));
    rig.screen.setText("cbSondaAtiva", QString::fromUtf8("Desligada às 5°"));
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnSalvarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());

    const QList<QByteArray> fields = readBytes(path).chopped(2).split(';');
    QCOMPARE(fields.size(), 202);
    QCOMPARE(fields[152], QByteArray("Banda Larga \xe7\xe3o"));
    QCOMPARE(fields[158], QByteArray("Desligada \xe0s 5\xb0"));
}

void TestMapFile::saveThenLoadRestoresEverything()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ida e volta.txt");
    Rig saved;
    changeEverything(saved);
    saved.screen.setText("eLimiteRpm", "");          // empty texts survive too
    saved.screen.setText("e5i", QString::fromUtf8("  3,5 ")); // blanks are kept
    saved.screen.setText("cbTipoRodaFonica", "36-1");
    saved.screen.setText("cbEscalaRpm", "9400");
    saved.state.wv.tpsMin = -7;
    saved.state.wv.tpsMax = 1023;
    MapFile saver(saved.ctx);
    saved.prompt.fileAnswers = {path};
    saved.guarded([&] { saver.btnSalvarClick(); });
    QCOMPARE(saved.prompt.messages, QStringList());

    Rig loaded;
    Loaded calls;
    watchSpeedScale(loaded, calls);
    MapFile loader(loaded.ctx);
    loaded.prompt.fileAnswers = {path};
    loaded.guarded([&] { loader.btnCarregarClick(); });
    QCOMPARE(loaded.prompt.messages, QStringList());

    for (const QString &c : mapfile::fieldControls())
        QCOMPARE(loaded.screen.text(c), saved.screen.text(c));
    QCOMPARE(loaded.state.wv.tpsMin, -7);
    QCOMPARE(loaded.state.wv.tpsMax, 1023);
    QCOMPARE(loaded.screen.itemIndex("cbTipoRodaFonica"), 1);
    QCOMPARE(loaded.screen.itemIndex("cbEscalaRpm"), 2);
    QCOMPARE(calls.scaleIndexAtCall, QList<int>{2});
}

void TestMapFile::saveReplacesOldFileKeepingItsPermissions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("velho.txt");
    QVERIFY(writeBytes(path, QByteArray(5000, 'z')));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnSalvarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(readBytes(path), lineOf(freshFields()));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 07777), 0640);
    QCOMPARE(entries(dir.path()), QStringList{"velho.txt"});
}

void TestMapFile::saveThroughLinkReplacesTheFileItPointsTo()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("mapas"));
    const QString target = dir.filePath("mapas/alvo.txt");
    const QString link = dir.filePath("atalho.txt");
    QVERIFY(writeBytes(target, "old"));
    QVERIFY(QFile::link(target, link));
    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {link};
    rig.guarded([&] { file.btnSalvarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readBytes(target), lineOf(freshFields()));
}

void TestMapFile::loadWheelType_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("toothEnabled");
    QTest::addColumn<bool>("zeroEnabled");
    // Before each load: entry 2 selected, cbDentesPms disabled, cbPontoZero enabled.
    QTest::newRow("36-1") << "36-1" << 1 << true << true;
    QTest::newRow("60-2") << "60-2" << 0 << true << true;
    QTest::newRow("2+2") << "2+2" << 2 << false << false;
    // A text that is no entry leaves no entry selected (the box shows it, the upload
    // refuses it) rather than the entry from before.
    QTest::newRow("trailing blank matches nothing") << "60-2 " << -1 << false << true;
    QTest::newRow("leading blank matches nothing") << " 36-1" << -1 << false << true;
    QTest::newRow("empty") << "" << -1 << false << true;
}

void TestMapFile::loadWheelType()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    QFETCH(bool, toothEnabled);
    QFETCH(bool, zeroEnabled);
    QTemporaryDir dir;
    const QString path = dir.filePath("roda.txt");
    QStringList fields = freshFields();
    fields[193] = field;
    QVERIFY(writeBytes(path, lineOf(fields)));

    Rig rig;
    rig.screen.setItemIndex("cbTipoRodaFonica", 2);
    rig.screen.setEnabled("cbDentesPms", false);
    rig.screen.setEnabled("cbPontoZero", true);
    Loaded calls;
    watchSpeedScale(rig, calls);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(rig.screen.text("cbTipoRodaFonica"), field);
    QCOMPARE(rig.screen.itemIndex("cbTipoRodaFonica"), index);
    QCOMPARE(rig.screen.isEnabled("cbDentesPms"), toothEnabled);
    QCOMPARE(rig.screen.isEnabled("cbPontoZero"), zeroEnabled);
    // The TDC tooth list is not rebuilt; the tooth text is the file's.
    QCOMPARE(rig.screen.items("cbDentesPms").size(), 16);
    QCOMPARE(rig.screen.text("cbDentesPms"), QString("20"));
}

void TestMapFile::loadSpeedScale_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("index"); // entry selected when the relabelling runs
    // Before each load entry 1 ("8000") is selected.
    QTest::newRow("6600") << "6600" << 0;
    QTest::newRow("8000") << "8000" << 1;
    QTest::newRow("9400") << "9400" << 2;
    QTest::newRow("other text selects nothing") << "7000" << -1;
    QTest::newRow("blank counts") << "9400 " << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestMapFile::loadSpeedScale()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    QTemporaryDir dir;
    const QString path = dir.filePath("escala.txt");
    QStringList fields = freshFields();
    fields[194] = field;
    QVERIFY(writeBytes(path, lineOf(fields)));

    Rig rig;
    rig.screen.setItemIndex("cbEscalaRpm", 1);
    Loaded calls;
    watchSpeedScale(rig, calls);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(rig.screen.text("cbEscalaRpm"), field);
    QCOMPARE(calls.scaleIndexAtCall, QList<int>{index});
}

void TestMapFile::loadedZeroPointIsSent_data()
{
    QTest::addColumn<QString>("field"); // field 197, cbPontoZero
    QTest::addColumn<int>("index");     // entry selected after the load
    QTest::addColumn<int>("byte");      // block 31 byte 4; -1: the upload is refused
    QTest::newRow("2") << "2" << 5 << 0x02;
    QTest::newRow("-3") << "-3" << 0 << 0xFD;
    QTest::newRow("0") << "0" << 3 << 0x00;
    QTest::newRow("5: no such entry") << "5" << -1 << -1;
    QTest::newRow("+2: no such entry") << "+2" << -1 << -1;
}

void TestMapFile::loadedZeroPointIsSent()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    QFETCH(int, byte);
    QTemporaryDir dir;
    const QString path = dir.filePath("ponto.txt");
    QStringList fields = freshFields();
    fields[196] = field;
    QVERIFY(writeBytes(path, lineOf(fields)));

    Rig rig;
    MapFile file(rig.ctx);
    ParameterImage image(rig.ctx);
    Transmitter tx(rig.ctx, image);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.screen.text("cbPontoZero"), field);
    QCOMPARE(rig.screen.itemIndex("cbPontoZero"), index);

    rig.guarded([&] { tx.btnEnviaClick(); });
    while (rig.timer2.isEnabled())
        rig.guarded([&] { tx.Timer2Timer(); });
    if (byte < 0) {
        QCOMPARE(rig.prompt.messages,
                 QStringList{QString::fromUtf8(" Atenção ! !  O valor \"%1\" do campo Ponto  Zero não é um dos "
                                               "valores da lista. Selecione um dos Valores. Nada foi enviado.  ")
                                 .arg(field)});
        QVERIFY(rig.port.writes.isEmpty());
        return;
    }
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(rig.port.writes.size(), 33);
    const QByteArray frame31 = rig.port.writes.at(30);
    QCOMPARE(int(quint8(frame31.at(0))), 31);
    QCOMPARE(int(quint8(frame31.at(1 + 4))), byte);
}

void TestMapFile::loadReadsFirstLineOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("duas linhas.txt");
    QStringList first = freshFields();
    first[2] = "7100";
    first[200] = "140";
    QStringList second = freshFields();
    second[2] = "5000";
    second[200] = "150";
    QVERIFY(writeBytes(path, lineOf(first) + lineOf(second)));

    Rig rig;
    Loaded calls;
    watchSpeedScale(rig, calls);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList());
    QCOMPARE(rig.screen.text("eLimiteRpm"), QString("7100"));
    QCOMPARE(rig.state.wv.tpsMin, 140);
    QCOMPARE(rig.state.wv.tpsMax, 230);
}

void TestMapFile::loadRefusesIncompleteFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QString head = " Atenção ! !  Arquivo de mapa inválido: ";
    const QString tail = ". Nada foi carregado.  ";
    const QStringList fresh = freshFields();

    QTest::newRow("empty file") << QByteArray() << head + "o arquivo está vazio" + tail;
    QTest::newRow("empty first line") << QByteArray("\r\n") + lineOf(fresh)
                                      << head + "1 campo em vez de 202" + tail;
    QTest::newRow("short line") << lineOf(fresh.mid(0, 150)) << head + "150 campos em vez de 202" + tail;
    QTest::newRow("one field missing") << lineOf(fresh.mid(0, 201)) << head + "201 campos em vez de 202" + tail;
    QStringList stray = fresh;
    stray[2] = "60;00";
    QTest::newRow("stray separator") << lineOf(stray) << head + "203 campos em vez de 202" + tail;
    QTest::newRow("separator at the end") << fresh.join(';').toLatin1() + ";\r\n"
                                          << head + "203 campos em vez de 202" + tail;
    QStringList many = fresh;
    while (many.size() < 300)
        many << "9";
    QTest::newRow("300 fields") << lineOf(many) << head + "300 campos em vez de 202" + tail;
    QByteArray binary;
    for (int i = 0; i < 4096; ++i) {
        const char c = char((i * 37 + 11) & 0xFF);
        if (c != '\r' && c != '\n')
            binary += c;
    }
    const qsizetype binaryFields = binary.count(';') + 1;
    QTest::newRow("binary file") << binary
                                 << head + QString::number(binaryFields) + " campos em vez de 202" + tail;

    auto withTps = [&](const QString &min, const QString &max) {
        QStringList f = fresh;
        f[200] = min;
        f[201] = max;
        return lineOf(f);
    };
    QTest::newRow("TPS minimum not a number")
        << withTps("abc", "230") << head + "o campo 201 (TPS mínimo) contém \"abc\", que não é um número inteiro" + tail;
    QTest::newRow("TPS minimum empty")
        << withTps("", "230") << head + "o campo 201 (TPS mínimo) contém \"\", que não é um número inteiro" + tail;
    QTest::newRow("TPS minimum with a blank")
        << withTps(" 130", "230") << head + "o campo 201 (TPS mínimo) contém \" 130\", que não é um número inteiro" + tail;
    QTest::newRow("TPS maximum with a comma")
        << withTps("130", "2,5") << head + "o campo 202 (TPS máximo) contém \"2,5\", que não é um número inteiro" + tail;
    QTest::newRow("TPS maximum empty")
        << withTps("130", "") << head + "o campo 202 (TPS máximo) contém \"\", que não é um número inteiro" + tail;
    QTest::newRow("TPS maximum beyond 32 bits")
        << withTps("130", "2147483648")
        << head + "o campo 202 (TPS máximo) contém \"2147483648\", que não é um número inteiro" + tail;
}

void TestMapFile::loadRefusesIncompleteFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("ruim.txt");
    QVERIFY(writeBytes(path, bytes));

    Rig rig;
    changeEverything(rig);
    const Snapshot before = Snapshot::of(rig);
    Loaded calls;
    watchSpeedScale(rig, calls);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { file.btnCarregarClick(); });
    QCOMPARE(rig.prompt.messages, QStringList{message});
    QVERIFY(Snapshot::of(rig) == before);
    QCOMPARE(calls.speedScaleCalls, 0);
}

void TestMapFile::saveRefusesTextsThatCannotComeBack_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString head = " Atenção ! !  O campo ";
    const QString tail = " e não pode ser salvo. Nada foi gravado.  ";
    QTest::newRow("separator in eLimiteRpm") << "eLimiteRpm" << "60;00" << head + "eLimiteRpm contém \";\"" + tail;
    QTest::newRow("separator in an injection cell") << "e5i" << ";" << head + "e5i contém \";\"" + tail;
    QTest::newRow("separator in the last field") << "ePercEletro" << "2;" << head + "ePercEletro contém \";\"" + tail;
    QTest::newRow("line feed") << "cbSondaTipo" << "Normal\nx" << head + "cbSondaTipo contém uma quebra de linha" + tail;
    QTest::newRow("carriage return") << "eSondaTemp" << "3\r0" << head + "eSondaTemp contém uma quebra de linha" + tail;
    QTest::newRow("character outside Latin-1")
        << "cbSondaAtiva" << QString::fromUtf8("Ativada €") << head + QString::fromUtf8("cbSondaAtiva contém \"€\"") + tail;
    QTest::newRow("character outside the basic plane")
        << "cbRapidaTpsxMap" << QString::fromUtf8("TPS 😀") << head + QString::fromUtf8("cbRapidaTpsxMap contém \"😀\"") + tail;
}

void TestMapFile::saveRefusesTextsThatCannotComeBack()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString oldPath = dir.filePath("antigo.txt");
    const QByteArray old = lineOf(freshFields());
    QVERIFY(writeBytes(oldPath, old));

    for (const QString &path : {oldPath, dir.filePath("novo.txt")}) {
        Rig rig;
        rig.screen.setText(control, text);
        MapFile file(rig.ctx);
        rig.prompt.fileAnswers = {path};
        rig.guarded([&] { file.btnSalvarClick(); });
        QCOMPARE(rig.prompt.messages, QStringList{message});
        QCOMPARE(readBytes(oldPath), old);
        QCOMPARE(entries(dir.path()), QStringList{"antigo.txt"});
    }
}

void TestMapFile::failedWriteKeepsOldFile()
{
    // A file size limit makes the write fail part-way (EFBIG, errno 27), as a full disk would.
    QTemporaryDir dir;
    const QString path = dir.filePath("mapa.txt");
    const QByteArray old = "OLD;CONTENTS\r\n";
    QVERIFY(writeBytes(path, old));
    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    {
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        LimitScope limit(RLIMIT_FSIZE, 100);
        QVERIFY(limit.ok());
        rig.guarded([&] { file.btnSalvarClick(); });
        std::signal(SIGXFSZ, previous);
    }
    QCOMPARE(rig.prompt.messages,
             QStringList{QString::fromUtf8("I/O error %1\nO arquivo %2 não pôde ser gravado: arquivo grande demais.")
                             .arg(EFBIG)
                             .arg(path)});
    QCOMPARE(readBytes(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"mapa.txt"});
}

void TestMapFile::unwritableFolderOrFileKeepsOldFile_data()
{
    QTest::addColumn<bool>("lockFolder"); // else the old file itself is locked
    QTest::newRow("folder that takes no new file") << true;
    QTest::newRow("old file that may not be replaced") << false;
}

void TestMapFile::unwritableFolderOrFileKeepsOldFile()
{
    QFETCH(bool, lockFolder);
    QTemporaryDir dir;
    const QString path = dir.filePath("mapa.txt");
    const QByteArray old = "OLD;CONTENTS\r\n";
    QVERIFY(writeBytes(path, old));
    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path};
    {
        ImmutableScope lock(lockFolder ? dir.path() : path);
        if (!lock.ok())
            QSKIP("this file system does not take the immutable attribute");
        rig.guarded([&] { file.btnSalvarClick(); });
    }
    QCOMPARE(rig.prompt.messages,
             QStringList{QString::fromUtf8("File access denied\nO arquivo %1 não pôde ser gravado: permissão negada.")
                             .arg(path)});
    QCOMPARE(readBytes(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"mapa.txt"});
}

void TestMapFile::ioErrors_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("relative"); // path inside the test folder; "/..." is absolute
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason"); // the system's error in Portuguese, after the file's name
    const QString longName = QString(300, u'a') + ".txt";
    const QString missing = QString::fromUtf8("arquivo ou pasta não encontrado");
    const QString notFolder = QString::fromUtf8("uma parte do caminho não é uma pasta");
    const QString folder = QString::fromUtf8("é uma pasta");
    QTest::newRow("load: missing file") << false << "nao existe.txt" << "File not found" << missing;
    QTest::newRow("load: folder missing") << false << "nada/mapa.txt" << "File not found" << missing;
    QTest::newRow("load: path under a file") << false << "arquivo.txt/mapa.txt" << "File not found" << notFolder;
    QTest::newRow("load: a folder") << false << "pasta" << "File access denied" << folder;
    QTest::newRow("load: name too long") << false << longName << "Invalid filename" << "nome de arquivo longo demais";
    QTest::newRow("save: folder missing") << true << "nada/mapa.txt" << "File not found" << missing;
    QTest::newRow("save: path under a file") << true << "arquivo.txt/mapa.txt" << "File not found" << notFolder;
    QTest::newRow("save: a folder") << true << "pasta" << "File access denied" << folder;
    QTest::newRow("save: name too long") << true << longName << "Invalid filename" << "nome de arquivo longo demais";
    QTest::newRow("save: full device") << true << "/dev/full" << "Disk full" << "disco cheio";
}

void TestMapFile::ioErrors()
{
    QFETCH(bool, save);
    QFETCH(QString, relative);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    if (relative.startsWith('/') && !QFileInfo::exists(relative))
        QSKIP("device not present");
    QTemporaryDir dir;
    const QByteArray file = "keep me\r\n";
    QVERIFY(writeBytes(dir.filePath("arquivo.txt"), file));
    QVERIFY(QDir(dir.path()).mkdir("pasta"));
    const QString path = relative.startsWith('/') ? relative : dir.filePath(relative);

    Rig rig;
    changeEverything(rig);
    const Snapshot before = Snapshot::of(rig);
    Loaded calls;
    watchSpeedScale(rig, calls);
    MapFile mapFile(rig.ctx);
    rig.prompt.fileAnswers = {path};
    rig.guarded([&] { save ? mapFile.btnSalvarClick() : mapFile.btnCarregarClick(); });
    // The map file's own text, then the file named and the cause in Portuguese.
    QCOMPARE(rig.prompt.messages, QStringList{QString::fromUtf8("%1\nO arquivo %2 não pôde ser %3: %4.")
                                                  .arg(message, path, save ? "gravado" : "lido", reason)});
    QVERIFY(Snapshot::of(rig) == before);
    QCOMPARE(calls.speedScaleCalls, 0);
    // Nothing left behind, nothing else touched.
    QStringList expected{"arquivo.txt", "pasta"};
    QCOMPARE(entries(dir.path()), expected);
    QCOMPARE(readBytes(dir.filePath("arquivo.txt")), file);
    QCOMPARE(entries(dir.filePath("pasta")), QStringList());
}

void TestMapFile::tooManyOpenFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mapa.txt");
    const QByteArray old = lineOf(freshFields());
    QVERIFY(writeBytes(path, old));
    Rig rig;
    changeEverything(rig);
    const Snapshot before = Snapshot::of(rig);
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {path, path};
    {
        LimitScope limit(RLIMIT_NOFILE, 64);
        QVERIFY(limit.ok());
        std::vector<int> held;
        const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (first >= 0)
            held.push_back(first);
        for (int fd; first >= 0 && (fd = ::dup(first)) >= 0;)
            held.push_back(fd);
        const int err = errno;
        rig.guarded([&] { file.btnSalvarClick(); });
        rig.guarded([&] { file.btnCarregarClick(); });
        for (int fd : held)
            ::close(fd);
        QCOMPARE(err, EMFILE);
    }
    QCOMPARE(rig.prompt.messages,
             (QStringList{QString::fromUtf8("Too many open files\nO arquivo %1 não pôde ser gravado: arquivos abertos "
                                            "demais.")
                              .arg(path),
                          QString::fromUtf8("Too many open files\nO arquivo %1 não pôde ser lido: arquivos abertos "
                                            "demais.")
                              .arg(path)}));
    QVERIFY(Snapshot::of(rig) == before);
    QCOMPARE(readBytes(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"mapa.txt"});
}

void TestMapFile::permissionDenied()
{
    if (::geteuid() == 0)
        QSKIP("running as root: file modes do not stop root (the immutable attribute is tested instead)");
    QTemporaryDir dir;
    const QString locked = dir.filePath("fechado.txt");
    QVERIFY(writeBytes(locked, "x"));
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0) == 0);
    QVERIFY(QDir(dir.path()).mkdir("somente leitura"));
    const QString folder = dir.filePath("somente leitura");
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);

    Rig rig;
    MapFile file(rig.ctx);
    rig.prompt.fileAnswers = {locked, folder + "/mapa.txt"};
    rig.guarded([&] { file.btnCarregarClick(); });
    rig.guarded([&] { file.btnSalvarClick(); });
    QCOMPARE(rig.prompt.messages,
             (QStringList{QString::fromUtf8("File access denied\nO arquivo %1 não pôde ser lido: permissão negada.")
                              .arg(locked),
                          QString::fromUtf8("File access denied\nO arquivo %1 não pôde ser gravado: permissão negada.")
                              .arg(folder + "/mapa.txt")}));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

QTEST_GUILESS_MAIN(TestMapFile)
#include "tst_mapfile.moc"
