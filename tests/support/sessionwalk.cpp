#include "sessionwalk.h"

#include "common/controls.h"
#include "common/names.h"
#include "common/enabledset.h"
#include "core/linkstatus.h"
#include "core/tunediff.h"
#include "datalog/datalog.h"
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "ecu.h"
#include "fakecore.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"
#include "maps/cells.h"
#include "maps/maptools.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <memory>
#include <random>

namespace sessionwalk {

namespace {

const char *const opNames[] = {"ativar",  "desativar", "ler",      "enviar",   "scanner", "digitar",
                               "alterar mapas", "alterar", "percentual", "ms", "voltar", "colar",
                               "ferramenta", "desfazer", "refazer", "salvar", "carregar", "tps",
                               "tps tick", "quadros", "cabo solto", "voltou", "voltou outro", "tempo",
                               "registro"};
static_assert(std::size(opNames) == std::size_t(Op::Count));

// Texts a tuner types, right and wrong.
const QStringList typed = {"0",  "5",   "12",   "3,5", "25,5", "30",  "abc", "",   "-1",
                           "8,0", "1000", "6050", "0,1", "2",   "7,7", "50",  "4,0", "99999"};
const QStringList pasted = {"8",      "8,0",     "3,5\t4\n5\t6", "1 2 3", "x1", "",   "9,9;1,1",
                            "25,5",   "0,6\t2,0", "12\n13\n14",  "30",   "\u00a0", "4,0\t"};
const QStringList toolAnswers = {"5", "-2", "110", "0,5", "abc", "", "200", "1,5"};
const QStringList configExits = {"eDeslCutOff", "eLigaCutOff", "eTempoCarga", "eLimiteRpm", "eAvancoPartida"};

// The module: the simulator's parameter memory behind the simulator's input parser.
struct Module {
    ecusim::ParameterMemory memory;
    ecusim::InputParser parser;
    double clock = 0;
    int readBackNext = 0; // the next read-back kind it sends, 0: none asked
    bool streaming = false;
    std::vector<ecusim::Image> commits;

    void feed(const QByteArray &bytes)
    {
        std::vector<ecusim::InputParser::Unit> units;
        clock += 0.05;
        parser.expire(clock, units);
        parser.feed(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()), clock,
                    units);
        for (const auto &u : units) {
            if (u.type == ecusim::InputParser::Unit::UploadFrame) {
                memory.storeBlock(u.bytes[0], u.bytes.data() + 1);
            } else if (u.type == ecusim::InputParser::Unit::Command) {
                switch (u.bytes[1]) {
                case ecusim::kCmdEndOfUpload:
                    if (memory.commit())
                        commits.push_back(memory.image());
                    break;
                case ecusim::kCmdReadRequest: readBackNext = ecusim::kFirstReadBackKind; break;
                case ecusim::kCmdPoll: streaming = true; break;
                case ecusim::kCmdStop: streaming = false; break;
                default: break;
                }
            }
        }
    }
    // The module is powered again or replaced: whatever was half received is gone.
    void restart()
    {
        parser = ecusim::InputParser();
        readBackNext = 0;
        streaming = false;
    }
};

QByteArray frame(int kind, const ecusim::Payload &payload)
{
    const ecusim::Bytes b = ecusim::makeFrame(std::uint8_t(kind), payload);
    return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size()));
}

QByteArray bytesOf(const ecusim::Image &image) { return QByteArray(reinterpret_cast<const char *>(image.data()), 256); }

// What an upload of a parameter set sends; nothing when it cannot be sent.
std::optional<QByteArray> encode(const Tune &tune)
{
    try {
        return imageBytes(tuneImage(tune));
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// The parameter set a read-back of the image puts on a screen.
Tune decodeImage(const ecusim::Image &image)
{
    CoreRig rig;
    rig.c().ComPort1AfterOpen();
    rig.c().portActivated();
    rig.c().btnLerDadosClick();
    for (int kind = ecusim::kFirstReadBackKind; kind <= ecusim::kLastReadBackKind; ++kind) {
        rig.port.incoming.push_back(frame(kind, ecusim::readBackPayload(image, kind)));
        rig.guarded([&] { rig.c().ComPort1RxChar(); });
    }
    return rig.c().mapFile().screenTune();
}

class Walk {
public:
    Walk()
        : files_(std::make_unique<QTemporaryDir>()),
          datalog_(rig_.c().context(), rig_.c().scanner(), rig_.c().mapFile(), timerRegistro_,
                   [this] { return nowNs_; })
    {
        rig_.prompt.onMessage = nullptr;
        // As the window wires the group: the set the core believes the module holds, and
        // a read-back of the module (the scanner paused for it) when that is unknown.
        datalog_.moduleTune = [this] { return c().history().moduleSet(); };
        datalog_.readModuleTune = [this](std::function<void(const std::optional<Tune> &)> done) {
            readForRecording(std::move(done));
        };
        start_ = rig_.c().mapFile().screenTune();
        const Tune other = [&] {
            Tune t = start_;
            t.texts[mapfile::fieldControls().indexOf(QStringLiteral("e0i"))] = QStringLiteral("7,7");
            t.texts[mapfile::fieldControls().indexOf(QStringLiteral("e5"))] = QStringLiteral("13");
            t.tpsMin = 120;
            return t;
        }();
        const QByteArray otherBytes = *encode(other);
        std::copy(otherBytes.begin(), otherBytes.end(), otherImage_.begin());
    }

    std::optional<Failure> run(const Steps &steps)
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            index_ = int(i);
            perform(steps[i]);
            if (failure_)
                return failure_;
        }
        index_ = int(steps.size());
        undoEverything();
        return failure_;
    }

private:
    Controller &c() { return rig_.c(); }
    bool enabled(const char *name) { return rig_.screen.isEnabled(QString::fromLatin1(name)); }
    bool open() const { return link_ == LinkState::Open || link_ == LinkState::Reopened; }
    bool calibrating() { return c().programState().calibrating; }
    bool uploading() { return rig_.timer2.isEnabled(); }
    void fail(const QString &invariant, const QString &detail = {})
    {
        if (!failure_)
            failure_ = Failure{index_, invariant, detail};
    }
    template <typename F> void guarded(F &&f) { rig_.guarded(std::forward<F>(f)); }
    void answer(int choice)
    {
        rig_.prompt.questionAnswers.clear();
        rig_.prompt.questionAnswers.push_back(choice);
    }

    void perform(const Step &s)
    {
        const qsizetype messagesBefore = rig_.prompt.messages.size();
        const qsizetype writesBefore = rig_.port.writes.size();
        const bool uploadBefore = uploading();
        const bool calibratingBefore = calibrating();
        answer(s.c % 4 == 3 ? -1 : s.c % 4);
        rig_.prompt.textAnswers.clear();
        sendAsked_ = false;

        act(s);

        rig_.prompt.questionAnswers.clear();
        // Every byte written reaches the module while the cable holds, and none may be
        // written while it does not.
        for (qsizetype i = writesBefore; i < rig_.port.writes.size(); ++i) {
            if (!open() && !wasOpen_)
                fail(QStringLiteral("escrita com a porta fechada"), QString::fromLatin1(rig_.port.writes[i].toHex(' ')));
            module_.feed(rig_.port.writes[i]);
        }
        wasOpen_ = open();
        // An upload begins: what it will commit is the screen as it stands, which must be
        // in milliseconds and not a calibration's half-way values.
        if (uploading() && !uploadBefore) {
            if (!sendAsked_ && !calibratingBefore)
                fail(QStringLiteral("envio sem pedido"));
            if (c().state().percentView)
                fail(QStringLiteral("envio com o mapa de injeção em percentual"));
            if (calibrating() && s.op != Op::TpsTick)
                fail(QStringLiteral("envio durante a calibração do TPS"));
            expected_ = encode(c().mapFile().screenTune());
        }
        if (qEnvironmentVariableIsSet("VELTO_WALK_TRACE"))
            qDebug() << s.text() << "msgs" << rig_.prompt.messages.mid(messagesBefore) << "q" << rig_.prompt.questions
                     << "upl" << uploading() << "pct" << c().state().percentView << "edit" << c().state().editMode
                     << "writes" << rig_.port.writes.size() << "commits" << module_.commits.size()
                     << linkstatus::text(c().moduleStatus());
        checkCommits();
        checkStatus();
        checkEnabled();
        checkRecording();
        const bool calibrationStep = s.op == Op::TpsStart || s.op == Op::TpsTick || s.op == Op::Frames ||
                                     calibratingBefore || calibrating();
        if (rig_.prompt.messages.size() - messagesBefore > 1 && !calibrationStep)
            fail(QStringLiteral("mais de uma mensagem para um passo"),
                 rig_.prompt.messages.mid(messagesBefore).join(QStringLiteral(" | ")));
        if (s.op == Op::Lost && calibrating())
            fail(QStringLiteral("a calibração do TPS sobreviveu à perda da porta"));
        // The program's state says an upload runs exactly while its pacing timer ticks.
        if (c().state().uploading != uploading())
            fail(QStringLiteral("estado do envio diferente do envio"),
                 uploading() ? QStringLiteral("o envio corre") : QStringLiteral("o envio parou"));
    }

    void act(const Step &s)
    {
        switch (s.op) {
        case Op::Activate:
            if (enabled("btnAtivar") && link_ == LinkState::Closed) {
                guarded([&] { c().ComPort1AfterOpen(); });
                guarded([&] { c().portActivated(); });
                link_ = LinkState::Open;
                module_.restart();
            }
            break;
        case Op::Deactivate:
            if (enabled("btnDesativar") && link_ != LinkState::Closed) {
                const bool given = link_ == LinkState::Lost;
                guarded([&] { c().ComPort1AfterClose(); });
                guarded([&] { c().portDeactivated(); });
                link_ = LinkState::Closed;
                if (given)
                    datalog_.linkGivenUp();
            }
            break;
        case Op::ReadBack:
            if (enabled("btnLerDados"))
                guarded([&] { c().btnLerDadosClick(); });
            break;
        case Op::Send:
            if (enabled("btnEnvia")) {
                sendAsked_ = true;
                guarded([&] { c().btnEnviaClick(); });
            }
            break;
        case Op::Scanner:
            if (enabled("Button3"))
                guarded([&] { c().Button3Click(); });
            break;
        case Op::Type: typeInto(s); break;
        case Op::EditMode:
            if (enabled("btnAlterarMapas"))
                guarded([&] { c().btnAlterarMapasClick(); });
            break;
        case Op::Bulk:
            if (c().state().editMode && enabled("btnAlterar")) {
                rig_.screen.setText(QStringLiteral("eAlterar"), typed[s.a % typed.size()]);
                const int row = s.b % 9, column = s.b / 9 % 8;
                rig_.screen.setText(names::injectionRowField(row), s.b & 1 ? QStringLiteral("1") : QString());
                rig_.screen.setText(names::injectionColumnField(column), s.b & 2 ? QStringLiteral("1") : QString());
                guarded([&] { c().btnAlterarClick(); });
            }
            break;
        case Op::Percent:
            if (c().state().editMode && enabled("btnPercentual"))
                guarded([&] { c().btnPercentualClick(); });
            break;
        case Op::Ms:
            if (c().state().editMode && enabled("btnmS"))
                guarded([&] { c().btnmSClick(); });
            break;
        case Op::BackToMain:
            if (c().state().editMode)
                guarded([&] { c().btnVoltarTelaPrincipalClick(); });
            break;
        case Op::Paste: {
            const MapId map = s.a & 1 ? MapId::Injection : MapId::Ignition;
            const CellRect rect = selection(s.b);
            QString text = pasted[s.a / 2 % pasted.size()];
            if (s.a / 2 % 3 == 0)
                text = c().mapCopy(map, selection(s.c)); // a copied block pasted back
            guarded([&] { c().mapPaste(map, rect, text); });
            break;
        }
        case Op::Tool: {
            const MapId map = s.a & 1 ? MapId::Injection : MapId::Ignition;
            const MapTool tool = MapTool(s.a / 2 % 5);
            rig_.prompt.textAnswers.clear();
            if (s.c % 5 != 4)
                rig_.prompt.textAnswers.push_back(toolAnswers[s.c % toolAnswers.size()]);
            guarded([&] { c().mapTool(tool, map, selection(s.b)); });
            break;
        }
        case Op::Undo: guarded([&] { c().undo(); }); break;
        case Op::Redo: guarded([&] { c().redo(); }); break;
        case Op::Save:
            if (enabled("btnSalvar")) {
                rig_.prompt.fileAnswers.clear();
                rig_.prompt.fileAnswers.push_back(filePath(s.a));
                guarded([&] { c().btnSalvarClick(); });
            }
            break;
        case Op::Load:
            if (enabled("btnCarregar")) {
                rig_.prompt.fileAnswers.clear();
                rig_.prompt.fileAnswers.push_back(filePath(s.a));
                guarded([&] { c().btnCarregarClick(); });
            }
            break;
        case Op::TpsStart:
            if (enabled("btnConfigurarTps"))
                guarded([&] { c().btnConfigurarTpsClick(); });
            break;
        case Op::TpsTick:
            if (rig_.timerTps.isEnabled())
                guarded([&] { c().TimerTPSTimer(); });
            break;
        case Op::Frames: frames(s); break;
        case Op::Lost: lose(); break;
        case Op::Returned:
        case Op::ReturnedOther:
            if (link_ == LinkState::Lost) {
                if (s.op == Op::ReturnedOther) {
                    module_.memory = ecusim::ParameterMemory();
                    for (int block = 1; block <= ecusim::kBlockCount; ++block)
                        module_.memory.storeBlock(block, otherImage_.data() + 8 * (block - 1));
                    module_.memory.commit();
                }
                module_.restart();
                comeBack();
            }
            break;
        case Op::Ticks: ticks(s); break;
        case Op::Record: record(s); break;
        case Op::Count: break;
        }
    }

    static CellRect selection(std::uint8_t b)
    {
        if (b == 255)
            return CellRect::whole();
        const int top = b % 9, left = b / 9 % 8;
        const int rows = 1 + b / 72 % 3, columns = 1 + (b >> 5) % 3;
        return CellRect::spanning(top, left, std::min(8, top + rows - 1), std::min(7, left + columns - 1));
    }

    QString filePath(std::uint8_t a) const
    {
        return QDir(files_->path()).filePath(a & 1 ? QStringLiteral("b.txt") : QStringLiteral("a.txt"));
    }

    void typeInto(const Step &s)
    {
        const QStringList &fields = mapfile::fieldControls();
        const QString name = fields[(s.a + 256 * (s.b & 1)) % fields.size()];
        // The texts at the moment each block is sent are the upload's, by design; while a
        // read-back receives, the busy panel covers the page.
        if (!rig_.screen.isEnabled(name) || uploading() || c().state().readBack == ReadBackPhase::Receiving)
            return;
        if (!rig_.screen.items(name).isEmpty()) {
            const int n = int(rig_.screen.items(name).size());
            rig_.screen.setItemIndex(name, s.c % n);
        } else {
            rig_.screen.setText(name, typed[s.c % typed.size()]);
        }
        if (configExits.contains(name)) {
            guarded([&] {
                if (name == QLatin1String("eDeslCutOff"))
                    c().eDeslCutOffExit();
                else if (name == QLatin1String("eLigaCutOff"))
                    c().eLigaCutOffExit();
                else if (name == QLatin1String("eTempoCarga"))
                    c().eTempoCargaExit();
                else if (name == QLatin1String("eLimiteRpm"))
                    c().eLimiteRpmExit();
                else
                    c().eAvancoPartidaExit();
            });
        }
        guarded([&] { c().fieldLeft(); });
    }

    void frames(const Step &s)
    {
        if (!open())
            return;
        if (module_.readBackNext) {
            for (int n = 0; n <= s.a % 26 && module_.readBackNext; ++n) {
                const int kind = module_.readBackNext;
                module_.readBackNext = kind < ecusim::kLastReadBackKind ? kind + 1 : 0;
                rig_.port.incoming.push_back(frame(kind, ecusim::readBackPayload(module_.memory.image(), kind)));
                guarded([&] { c().ComPort1RxChar(); });
            }
        } else if (module_.streaming) {
            const int tps = s.b * 4;
            ecusim::Payload p29{0x03, 0x84, 0, 0, std::uint8_t(tps & 0xFF), std::uint8_t(tps >> 8), 0, 0};
            for (const auto &[kind, payload] : {std::pair{29, p29}, std::pair{30, ecusim::Payload{}},
                                                std::pair{31, ecusim::Payload{}}}) {
                rig_.port.incoming.push_back(frame(kind, payload));
                guarded([&] { c().ComPort1RxChar(); });
            }
        }
    }

    // As the port session does when the device goes away.
    void lose()
    {
        if (!open())
            return;
        scannerAtLoss_ = c().state().scannerActive;
        std::optional<QString> message;
        guarded([&] { message = c().portLost(QStringLiteral("ReadFile function failed (win error code: 5)"), false); });
        guarded([&] { c().ComPort1AfterClose(); });
        guarded([&] { c().portWaiting(); });
        link_ = LinkState::Lost;
        datalog_.linkLost();
        if (message)
            rig_.prompt.message(*message);
    }

    // As the port session does when the device came back: opened again, the module read
    // into a set of its own and compared (the question answered by the step).
    void comeBack()
    {
        guarded([&] { c().ComPort1AfterOpen(); });
        guarded([&] { c().portActivated(); });
        link_ = LinkState::Reopened;
        wasOpen_ = true;
        datalog_.linkRestored();
        c().state().moduleCheck = true;
        c().applyEnabled();
        const Tune module = decodeImage(module_.memory.image());
        c().state().moduleCheck = false;
        c().applyEnabled();
        sendAsked_ = true; // "Enviar a tela ao módulo" is a send the user asks for
        guarded([&] { c().moduleRead(module); });
        if (scannerAtLoss_ && !c().state().scannerActive && !uploading())
            guarded([&] { c().Button3Click(); });
    }

    void record(const Step &s)
    {
        nowNs_ += 100'000'000;
        switch (s.a % 4) {
        case 0:
            if (enabled("btnGravar")) {
                const QString path =
                    QDir(files_->path()).filePath(s.b & 1 ? QStringLiteral("b.msl") : QStringLiteral("a.msl"));
                rig_.prompt.fileAnswers.clear();
                rig_.prompt.fileAnswers.push_back(path);
                logPath_ = path;
                guarded([&] { datalog_.btnGravarClick(); });
                recordingChecked_ = false;
            }
            break;
        case 1:
            if (enabled("btnParar"))
                guarded([&] { datalog_.btnPararClick(); });
            break;
        case 2:
            if (enabled("btnMarcar"))
                guarded([&] { datalog_.btnMarcarClick(); });
            break;
        default:
            if (timerRegistro_.isEnabled())
                guarded([&] { datalog_.TimerRegistroTimer(); });
            break;
        }
    }

    // As the port session reads the module for a recording: nothing while the link is
    // not open or another transfer runs; else the scanner paused, the module's set read
    // back, the scanner on again.
    void readForRecording(std::function<void(const std::optional<Tune> &)> done)
    {
        if (!open() || uploading() || c().state().readBack != ReadBackPhase::Idle) {
            done(std::nullopt);
            return;
        }
        const bool scanning = c().state().scannerActive;
        if (scanning) {
            guarded([&] { c().Button3Click(); });
            if (rig_.timer1.isEnabled())
                guarded([&] { c().Timer1Timer(); });
        }
        const Tune module = decodeImage(module_.memory.image());
        if (scanning)
            guarded([&] { c().Button3Click(); });
        done(module);
    }

    void ticks(const Step &s)
    {
        switch (s.a % 4) {
        case 0:
            for (int n = 0; n <= s.b % 40 && uploading(); ++n)
                guarded([&] { c().Timer2Timer(); });
            break;
        case 1:
            if (rig_.timer1.isEnabled())
                guarded([&] { c().Timer1Timer(); });
            break;
        case 2:
            if (rig_.timerReadBack.isEnabled())
                guarded([&] { c().TimerReadBackTimer(); });
            break;
        default:
            if (rig_.timerTps.isEnabled())
                guarded([&] { c().TimerTPSTimer(); });
            break;
        }
    }

    void checkCommits()
    {
        for (std::size_t i = seenCommits_; i < module_.commits.size(); ++i) {
            const QByteArray got = bytesOf(module_.commits[i]);
            if (!expected_)
                fail(QStringLiteral("o módulo gravou um conjunto que não se pode enviar da tela"),
                     QString::fromLatin1(got.toHex(' ')));
            else if (got != *expected_)
                fail(QStringLiteral("o módulo gravou outro conjunto que o da tela ao pedir o envio"),
                     firstDifference(*expected_, got));
        }
        seenCommits_ = module_.commits.size();
    }

    static QString firstDifference(const QByteArray &want, const QByteArray &got)
    {
        for (qsizetype i = 0; i < want.size(); ++i)
            if (want[i] != got[i])
                return QStringLiteral("byte %1: esperado %2, gravado %3")
                    .arg(i)
                    .arg(quint8(want[i]))
                    .arg(quint8(got[i]));
        return {};
    }

    void checkStatus()
    {
        const linkstatus::ModuleStatus status = c().moduleStatus();
        if (!status.known)
            return;
        if (!open() || c().state().moduleCheck) {
            fail(QStringLiteral("estado do módulo conhecido sem porta aberta"), linkstatus::text(status));
            return;
        }
        if (c().state().percentView)
            return; // the view's cells are percent: the comparison is the module's business
        const std::optional<QByteArray> screen = encode(c().mapFile().screenTune());
        const QByteArray module = bytesOf(module_.memory.image());
        const bool same = screen && *screen == module;
        if (status.differences == 0 && !same)
            fail(QStringLiteral("\"Tela igual ao módulo\" com conjuntos diferentes"),
                 screen ? firstDifference(*screen, module) : QStringLiteral("a tela não se pode enviar"));
        if (status.differences != 0 && same)
            fail(QStringLiteral("\"Tela diferente do módulo\" com conjuntos iguais"), linkstatus::text(status));
        if (status.differences != 0 && screen)
            checkCount(status.differences, *screen, module);
    }

    // "(N campos)" counts exactly the fields that differ: the module's values of the N
    // fields put on the screen's set make it the module's bytes (none missing), and each
    // of them is needed for that (none counted whose bytes agree). One field of the N is
    // tried a step, in turn.
    void checkCount(int shown, const QByteArray &screen, const QByteArray &module)
    {
        if (moduleImage_ != module) {
            moduleImage_ = module;
            moduleTune_ = decodeImage(module_.memory.image());
        }
        const Tune screenTune = c().mapFile().screenTune();
        const QList<tunediff::Difference> listed = tunediff::compareWithModule(screenTune, moduleTune_);
        Tune all = screenTune;
        for (const tunediff::Difference &d : listed)
            all = tunediff::withField(all, d.field, moduleTune_);
        const std::optional<QByteArray> allBytes = encode(all);
        if (!allBytes || *allBytes != module) {
            fail(QStringLiteral("\"(N campos)\" não conta todos os campos diferentes"),
                 allBytes ? firstDifference(module, *allBytes) : QStringLiteral("o conjunto não se pode enviar"));
            return;
        }
        if (int(listed.size()) != shown) {
            fail(QStringLiteral("\"(N campos)\" não é o número de campos diferentes"),
                 QStringLiteral("%1 mostrados, %2 diferentes").arg(shown).arg(listed.size()));
            return;
        }
        const tunediff::Difference &tried = listed[index_ % listed.size()];
        Tune without = screenTune;
        for (const tunediff::Difference &d : listed)
            if (d.field != tried.field)
                without = tunediff::withField(without, d.field, moduleTune_);
        if (encode(without) == module && screen != module)
            fail(QStringLiteral("\"(N campos)\" conta um campo igual ao do módulo"),
                 QStringLiteral("%1: \"%2\" e \"%3\"").arg(tried.label, tried.a, tried.b));
    }

    // A recording that begins writes beside the log the set the module holds, or none
    // (the log's header saying the set is unknown); never another set.
    void checkRecording()
    {
        if (!datalog_.isRecording() || recordingChecked_)
            return;
        recordingChecked_ = true;
        QFile log(logPath_);
        if (!log.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("o registro não existe"), logPath_);
            return;
        }
        if (log.read(4096).contains(logformat::moduleSetUnknownLine()))
            return;
        Tune beside;
        try {
            beside = MapFile::readTune(Recorder::tunePath(logPath_));
        } catch (const std::exception &e) {
            fail(QStringLiteral("o mapa ao lado do registro não se lê"), QString::fromUtf8(e.what()));
            return;
        }
        const std::optional<QByteArray> bytes = encode(beside);
        const QByteArray module = bytesOf(module_.memory.image());
        if (!bytes || *bytes != module)
            fail(QStringLiteral("o mapa ao lado do registro não é o do módulo"),
                 bytes ? firstDifference(module, *bytes) : QStringLiteral("o mapa não se pode enviar"));
    }

    void checkEnabled()
    {
        for (const enabledset::Entry &e : enabledset::enabledSet(c().programState())) {
            if (rig_.screen.isEnabled(e.name) != e.enabled) {
                fail(QStringLiteral("controle fora da regra"),
                     QStringLiteral("%1 %2").arg(e.name, e.enabled ? QStringLiteral("desabilitado")
                                                                  : QStringLiteral("habilitado")));
                return;
            }
        }
    }

    // Every step undone returns the screen to where it began. A step back into the
    // percent view is refused while the scanner runs (the view opens the map edit mode):
    // the scanner is switched off first, as the message asks.
    void undoEverything()
    {
        if (c().state().scannerActive && enabled("Button3"))
            guarded([&] { c().Button3Click(); });
        if (c().historyBusy())
            return;
        for (int n = 0; n < 100000 && c().canUndo(); ++n) {
            const qsizetype messages = rig_.prompt.messages.size();
            guarded([&] { c().undo(); });
            if (rig_.prompt.messages.size() != messages) {
                fail(QStringLiteral("desfazer recusado"), rig_.prompt.messages.constLast());
                return;
            }
        }
        const Tune now = c().mapFile().screenTune();
        if (now != start_) {
            QString detail;
            for (qsizetype i = 0; i < now.texts.size(); ++i)
                if (now.texts[i] != start_.texts[i]) {
                    detail = QStringLiteral("%1: \"%2\" em vez de \"%3\"")
                                 .arg(mapfile::fieldControls()[i], now.texts[i], start_.texts[i]);
                    break;
                }
            fail(QStringLiteral("desfazer tudo não volta à tela do início"), detail);
        }
    }

    CoreRig rig_;
    Module module_;
    std::unique_ptr<QTemporaryDir> files_;
    FakeTimer timerRegistro_;
    std::int64_t nowNs_ = 1'000'000'000;
    Datalog datalog_;
    QString logPath_;
    bool recordingChecked_ = true;
    QByteArray moduleImage_;
    Tune moduleTune_;
    Tune start_;
    ecusim::Image otherImage_{};
    LinkState link_ = LinkState::Closed;
    bool wasOpen_ = false;
    bool scannerAtLoss_ = false;
    bool sendAsked_ = false;
    std::optional<QByteArray> expected_;
    std::size_t seenCommits_ = 0;
    int index_ = 0;
    std::optional<Failure> failure_;
};

} // namespace

QString Step::text() const
{
    return QStringLiteral("%1(%2,%3,%4)").arg(QString::fromUtf8(opNames[int(op)])).arg(a).arg(b).arg(c);
}

Steps decode(const std::uint8_t *data, std::size_t size)
{
    Steps steps;
    for (std::size_t i = 0; i + 4 <= size; i += 4)
        steps.push_back({Op(data[i] % std::uint8_t(Op::Count)), data[i + 1], data[i + 2], data[i + 3]});
    return steps;
}

Steps randomWalk(std::uint64_t seed, int n)
{
    std::mt19937_64 random(seed);
    std::vector<std::uint8_t> bytes(std::size_t(n) * 4);
    for (auto &b : bytes)
        b = std::uint8_t(random());
    return decode(bytes.data(), bytes.size());
}

std::optional<Failure> run(const Steps &steps)
{
    Walk walk;
    return walk.run(steps);
}

Steps shrink(Steps steps)
{
    const std::optional<Failure> first = run(steps);
    if (!first)
        return steps;
    steps.resize(std::size_t(first->step) + 1 <= steps.size() ? std::size_t(first->step) + 1 : steps.size());
    auto stillFails = [&](const Steps &candidate) {
        const std::optional<Failure> f = run(candidate);
        return f && f->invariant == first->invariant;
    };
    bool removed = true;
    while (removed) {
        removed = false;
        for (std::size_t chunk = std::max<std::size_t>(1, steps.size() / 2); chunk >= 1; chunk /= 2) {
            for (std::size_t at = 0; at + chunk <= steps.size();) {
                Steps candidate = steps;
                candidate.erase(candidate.begin() + qsizetype(at), candidate.begin() + qsizetype(at + chunk));
                if (stillFails(candidate)) {
                    steps = std::move(candidate);
                    removed = true;
                } else {
                    at += chunk;
                }
            }
            if (chunk == 1)
                break;
        }
    }
    return steps;
}

QString describe(const Steps &steps)
{
    QStringList parts;
    for (const Step &s : steps)
        parts << s.text();
    return parts.join(QStringLiteral(" → "));
}

} // namespace sessionwalk
