#include "cli/headless.h"

#include "cli/commands.h"

#include "core/controller.h"
#include "core/qttimer.h"
#include "datalog/datalog.h"
#include "link/frames.h"
#include "link/receiver.h"
#include "link/transmitter.h"
#include "serial/comport.h"
#include "session/comportlink.h"
#include "session/signalwatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cerrno>
#include <csignal>

namespace cli {

namespace {

QString signalName(int number)
{
    switch (number) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("sinal %1").arg(number);
    }
}

// The window's message lines begin and end with a blank; a terminal shows them trimmed.
QString trimmedLines(const QString &text)
{
    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = line.trimmed();
    return lines.join(u'\n');
}

// The end of a log whose port did not come back: within waitSeconds (-1: before the
// run's own end), with rows recorded or none.
QString notBackMessage(const QString &port, int waitSeconds, bool recorded)
{
    const QString head =
        waitSeconds >= 0 ? QStringLiteral("Conexão perdida: a porta %1 não voltou em %2 s.").arg(port).arg(waitSeconds)
                         : QStringLiteral("Conexão perdida: a porta %1 não voltou antes do fim da gravação.").arg(port);
    return head + (recorded ? QStringLiteral(" O registro foi fechado inteiro, com as leituras até a perda.")
                            : QStringLiteral(" Nada foi gravado."));
}

} // namespace

QString portMessage(const EComPort &e, const QString &port)
{
    QString text = trimmedLines(QString::fromUtf8(e.what()));
    const QString hint = QStringLiteral("Veja as portas com: velto-cli ports");
    // The second line says that the port does not exist, or is none.
    if (e.code() == EComPort::OpenFailed && (e.osError() == ENOENT || e.osError() == ENOTTY))
        return text + QLatin1Char(' ') + hint;
    if (!text.contains(port))
        text += QStringLiteral("\nPorta: %1").arg(port);
    return text;
}

QString keptSetSentence()
{
    return QStringLiteral("O comando de fim não foi enviado: o módulo mantém o conjunto que tinha.");
}

QString withSentence(const QString &message, const QString &sentence)
{
    const QString text = message.trimmed();
    return text + (text.endsWith(u'.') ? QStringLiteral(" ") : QStringLiteral(". ")) + sentence;
}

Headless::Headless(const QString &port) : port_(TCustomComPort::devicePath(port))
{
    // The watchdog's "Módulo não responde" gets the port and the fix beside it.
    prompt_.shown = [this](const QString &text) {
        fail(PortOrModule, text.trimmed() == QStringLiteral("Módulo não responde") ? silentMessage() : text);
    };
    // The module found different after a return: the log goes on, nothing is sent.
    prompt_.asked = [](const QString &text) {
        err(QStringLiteral("velto-cli: ") + trimmedLines(text.trimmed()) +
            QStringLiteral("\nNada foi enviado: o módulo fica como está.\n"));
    };
    auto guard = [this](const QtTimer *, const std::function<void()> &handler) {
        try {
            handler();
        } catch (const EComPort &e) {
            fail(PortOrModule, portMessage(e, port_));
        } catch (const std::exception &e) {
            // An upload that met the lost device says so in its own message.
            fail(session_ && session_->linkLost() ? PortOrModule : FileOrConversion, QString::fromUtf8(e.what()));
        }
    };
    session_ = std::make_unique<PortSession>(&context_, screen_, prompt_, guard, [this](const EComPort &e) {
        // A device that came back but refuses to open is told once; the watch goes on.
        if (session_->linkState() == LinkState::Lost)
            err(QStringLiteral("velto-cli: ") + portMessage(e, port_) + u'\n');
        else
            fail(PortOrModule, portMessage(e, port_));
    });
    session_->link().written = [this](const QByteArray &bytes) { written_.append(bytes); };
    session_->link().received = [this](const QByteArray &bytes) {
        const frames::Frame f = frames::recognise(bytes);
        if (f.hasPayload && f.kind >= 1 && f.kind <= 26)
            kindsRead_.set(std::size_t(f.kind));
    };
    session_->controller().FormCreate({port});
}

Headless::~Headless() = default;

void Headless::fail(int code, const QString &message)
{
    // A lost upload reaches here twice: the port's error, then the upload's own line
    // under it; both are shown, as the window shows them.
    const QString interrupted = Transmitter::interruptedMessage().trimmed();
    const bool uploadLost = message.trimmed().endsWith(interrupted);
    if (!failure_ && uploadLost) {
        QString cause = trimmedLines(message).chopped(interrupted.size()).trimmed();
        if (!cause.contains(port_))
            cause += QStringLiteral("\nPorta: %1").arg(port_);
        failure_ = Failure{PortOrModule, cause + u'\n' + interrupted};
    } else if (!failure_)
        failure_ = Failure{code, trimmedLines(message)};
    else if (uploadLost && !failure_->message.endsWith(interrupted))
        failure_->message += u'\n' + interrupted;
    // An upload that cannot go on whole must not end with the command that makes the
    // module take it over.
    session_->timer2().setEnabled(false);
}

void Headless::throwIfSignalled(const QString &what)
{
    const int number = SignalWatch::received();
    if (number != 0)
        throw Failure{128 + number, QStringLiteral("interrompido por %1: %2").arg(signalName(number), what)};
}

void Headless::runUntil(const std::function<bool()> &done, int limitMs, bool signalEnds)
{
    bool late = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &context_, [&late] { late = true; });
    if (limitMs > 0)
        limit.start(limitMs);
    // Wakes the loop now and then, so that done() sees a flag set by a signal.
    QTimer wake;
    QObject::connect(&wake, &QTimer::timeout, &context_, [] {});
    wake.start(100);
    const auto signalled = [signalEnds] { return signalEnds && SignalWatch::received() != 0; };
    while (!done() && !failure_ && !late && !signalled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (failure_)
        throw *failure_;
    if (late)
        throw Failure{PortOrModule, silentMessage()};
}

QString Headless::silentMessage() const
{
    return QStringLiteral("Módulo não responde\nNenhuma resposta pela porta %1: confira o cabo e se o módulo está "
                          "ligado.")
        .arg(port_);
}

void Headless::open()
{
    throwIfSignalled(QStringLiteral("a porta não foi aberta."));
    try {
        session_->activate();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, portMessage(e, port_)};
    }
}

QByteArray Headless::upload()
{
    written_.clear();
    throwIfSignalled(QStringLiteral("nada foi enviado."));
    try {
        session_->controller().btnEnviaClick();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, portMessage(e, port_)};
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
    try {
        runUntil([this] { return !session_->timer2().isEnabled(); });
    } catch (Failure &f) {
        session_->timer2().setEnabled(false);
        // A port lost between two frames ends the upload as a frame that cannot be
        // written does: the window's line under the port's error.
        const QString interrupted = Transmitter::interruptedMessage().trimmed();
        if (written_.value(written_.size() - 1) != frames::command(frames::EndOfUpload)) {
            if (!f.message.endsWith(interrupted))
                f.message += u'\n' + interrupted;
            // The module takes a set over only on the end command: it holds no mix.
            f.message += u'\n' + keptSetSentence();
        }
        throw;
    }
    if (session_->timer2().isEnabled()) {
        // A signal: the port's writer stops here, and what it wrote meanwhile is in written_.
        session_->timer2().setEnabled(false);
        if (written_.value(written_.size() - 1) == frames::command(frames::EndOfUpload))
            throwIfSignalled(QStringLiteral("o comando de fim já tinha saído: o módulo tomou o conjunto enviado."));
        throwIfSignalled(QStringLiteral("o envio parou antes do comando de fim; o módulo mantém o conjunto que "
                                        "tinha.\n") +
                         Transmitter::interruptedMessage().trimmed());
    }
    QByteArray image;
    for (const QByteArray &w : written_)
        if (w.size() == 9)
            image += w.mid(1);
    if (image.size() != 256 || written_.value(written_.size() - 1) != frames::command(frames::EndOfUpload))
        throw Failure{PortOrModule, QStringLiteral("WriteFile function failed\nPorta: %1\n%2\n%3")
                                        .arg(port_, Transmitter::interruptedMessage().trimmed(), keptSetSentence())};
    return image;
}

void Headless::readBack()
{
    kindsRead_.reset();
    throwIfSignalled(QStringLiteral("o módulo não foi lido."));
    try {
        session_->controller().btnLerDadosClick();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, portMessage(e, port_)};
    }
    try {
        runUntil([this] { return session_->controller().receiver().readBack() == Receiver::ReadBack::Idle; });
    } catch (Failure &f) {
        if (session_->linkLost()) {
            if (!f.message.contains(port_))
                f.message += QStringLiteral("\nPorta: %1").arg(port_);
            f.message += QStringLiteral("\nA leitura foi interrompida.");
        }
        throw;
    }
    throwIfSignalled(QStringLiteral("a leitura do módulo não terminou."));

    QStringList missing;
    for (int kind = 1; kind <= 26; ++kind)
        if (!kindsRead_.test(std::size_t(kind)))
            missing << QString::number(kind);
    if (missing.size() == 1)
        throw Failure{
            PortOrModule,
            QStringLiteral("Leitura incompleta: o módulo em %1 não enviou o quadro %2.").arg(port_, missing.first())};
    if (!missing.isEmpty())
        throw Failure{PortOrModule, QStringLiteral("Leitura incompleta: o módulo em %1 não enviou os quadros %2.")
                                        .arg(port_, missing.join(QStringLiteral(", ")))};
}

void Headless::record(const QString &path, int seconds, int waitSeconds, const std::function<void()> &firstRow,
                      const QString &historyEntry)
{
    Controller &c = session_->controller();
    std::unique_ptr<Datalog> datalog;
    QElapsedTimer lostFor;
    session_->setReconnect(true);
    session_->onLinkState = [&](LinkState state) {
        if (state == LinkState::Lost) {
            lostFor.start();
            datalog->linkLost();
        } else if (state == LinkState::Reopened) {
            datalog->linkRestored();
        } else if (state == LinkState::Closed) {
            datalog->linkGivenUp();
        }
        linkChanged(state);
    };
    struct Unhook {
        PortSession &session;
        ~Unhook() { session.onLinkState = nullptr; }
    } unhook{*session_};
    const auto waitedTooLong = [&] {
        return session_->linkState() == LinkState::Lost && lostFor.elapsed() >= qint64(waitSeconds) * 1000;
    };
    QtTimer timerRegistro(&context_, [&] {
        try {
            datalog->TimerRegistroTimer();
        } catch (const std::exception &e) {
            fail(FileOrConversion, QString::fromUtf8(e.what()));
        }
    });
    datalog = std::make_unique<Datalog>(c.context(), c.scanner(), c.mapFile(), timerRegistro);
    if (!historyEntry.isEmpty())
        datalog->historyEntry = [historyEntry] { return historyEntry; };
    startScanner();
    try {
        datalog->recordTo(path);
    } catch (const std::exception &e) {
        c.Button3Click();
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }

    QElapsedTimer clock;
    clock.start();
    bool placed = false;
    const auto ended = [&] {
        if (!placed && datalog->recorder().rows() > 0) {
            placed = true;
            firstRow();
        }
        // SIGINT, SIGTERM and SIGHUP (a dropped SSH link) end a recording as its clock does.
        return SignalWatch::received() != 0 || !datalog->isRecording() || waitedTooLong() ||
               (seconds > 0 && clock.elapsed() >= qint64(seconds) * 1000);
    };
    const auto closeLog = [&] {
        if (datalog->isRecording())
            datalog->btnPararClick();
    };
    try {
        runUntil(ended, 0, false);
        stopScanner();
    } catch (const Failure &) {
        // The watchdog or a lost port: whatever was recorded is closed whole.
        closeLog();
        throw;
    }
    const bool givenUp = waitedTooLong();
    const bool stillLost = session_->linkLost() && SignalWatch::received() == 0;
    closeLog();
    if (failure_)
        throw *failure_;
    // Lost before the first row: no log takes another's place.
    if (givenUp || stillLost)
        throw Failure{PortOrModule, notBackMessage(port_, givenUp ? waitSeconds : -1, placed)};
    if (!placed)
        firstRow();
}

void Headless::linkChanged(LinkState state)
{
    if (state == LinkState::Lost || state == LinkState::Reopened)
        err(QStringLiteral("velto-cli: ") + linkstatus::text(state, port_) + u'\n');
}

void Headless::startScanner()
{
    try {
        session_->controller().Button3Click();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, portMessage(e, port_)};
    }
}

void Headless::stopScanner()
{
    if (!session_->controller().state().scannerActive)
        return;
    // Switching off ends the recording; the scanner's next tick sends the stop command.
    session_->controller().Button3Click();
    runUntil([this] { return !session_->timer1().isEnabled(); }, 60000, false);
}

} // namespace cli
