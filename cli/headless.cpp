#include "cli/headless.h"

#include "core/controller.h"
#include "core/qttimer.h"
#include "datalog/datalog.h"
#include "link/frames.h"
#include "link/receiver.h"
#include "serial/comport.h"
#include "session/comportlink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace cli {

Headless::Headless(const QString &port)
{
    prompt_.shown = [this](const QString &text) { fail(PortOrModule, text); };
    auto guard = [this](const QtTimer *, const std::function<void()> &handler) {
        try {
            handler();
        } catch (const EComPort &e) {
            fail(PortOrModule, QString::fromUtf8(e.what()));
        } catch (const std::exception &e) {
            // An upload that met the lost device says so in its own message.
            fail(session_ && session_->linkLost() ? PortOrModule : FileOrConversion, QString::fromUtf8(e.what()));
        }
    };
    session_ = std::make_unique<PortSession>(&context_, screen_, prompt_, guard, [this](const EComPort &e) {
        fail(PortOrModule, QString::fromUtf8(e.what()));
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
    if (!failure_)
        failure_ = Failure{code, message};
    // An upload that cannot go on whole must not end with the command that makes the
    // module take it over.
    session_->timer2().setEnabled(false);
}

void Headless::runUntil(const std::function<bool()> &done, int limitMs)
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
    while (!done() && !failure_ && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (failure_)
        throw *failure_;
    if (late)
        throw Failure{PortOrModule, QStringLiteral("Módulo não responde")};
}

void Headless::open()
{
    try {
        session_->activate();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, QString::fromUtf8(e.what())};
    }
}

QByteArray Headless::upload()
{
    written_.clear();
    try {
        session_->controller().btnEnviaClick();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, QString::fromUtf8(e.what())};
    } catch (const std::exception &e) {
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }
    runUntil([this] { return !session_->timer2().isEnabled(); });

    QByteArray image;
    for (const QByteArray &w : written_)
        if (w.size() == 9)
            image += w.mid(1);
    if (image.size() != 256 || written_.value(written_.size() - 1) != frames::command(frames::EndOfUpload))
        throw Failure{PortOrModule, QStringLiteral("WriteFile function failed")};
    return image;
}

void Headless::readBack()
{
    kindsRead_.reset();
    try {
        session_->controller().btnLerDadosClick();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, QString::fromUtf8(e.what())};
    }
    runUntil([this] { return session_->controller().receiver().readBack() == Receiver::ReadBack::Idle; });

    QStringList missing;
    for (int kind = 1; kind <= 26; ++kind)
        if (!kindsRead_.test(std::size_t(kind)))
            missing << QString::number(kind);
    if (!missing.isEmpty())
        throw Failure{PortOrModule, QStringLiteral("Leitura incompleta: o módulo não enviou os quadros %1.")
                                        .arg(missing.join(QStringLiteral(", ")))};
}

void Headless::record(const QString &path, int seconds, const std::function<bool()> &stop)
{
    Controller &c = session_->controller();
    std::unique_ptr<Datalog> datalog;
    QtTimer timerRegistro(&context_, [&] {
        try {
            datalog->TimerRegistroTimer();
        } catch (const std::exception &e) {
            fail(FileOrConversion, QString::fromUtf8(e.what()));
        }
    });
    datalog = std::make_unique<Datalog>(c.context(), c.scanner(), c.mapFile(), timerRegistro);

    try {
        c.Button3Click();
    } catch (const EComPort &e) {
        throw Failure{PortOrModule, QString::fromUtf8(e.what())};
    }
    try {
        datalog->recordTo(path);
    } catch (const std::exception &e) {
        c.Button3Click();
        throw Failure{FileOrConversion, QString::fromUtf8(e.what())};
    }

    QElapsedTimer clock;
    clock.start();
    try {
        runUntil(
            [&] {
                return stop() || !datalog->isRecording() || (seconds > 0 && clock.elapsed() >= qint64(seconds) * 1000);
            },
            0);
    } catch (const Failure &) {
        // The watchdog or a lost port: whatever was recorded is closed whole.
        if (datalog->isRecording())
            datalog->btnPararClick();
        throw;
    }
    if (c.state().scannerActive) {
        // Switching off ends the recording; the scanner's next tick sends the stop command.
        c.Button3Click();
        runUntil([this] { return !session_->timer1().isEnabled(); });
    }
    if (datalog->isRecording())
        datalog->btnPararClick();
    if (failure_)
        throw *failure_;
}

} // namespace cli
