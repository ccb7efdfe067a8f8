#include "tuning/correctionsession.h"

#include "common/names.h"
#include "common/numtext.h"
#include "core/controller.h"
#include "core/undo.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"

#include <QFileInfo>
#include <cmath>

using namespace correction;

CorrectionSession::CorrectionSession(Controller &controller) : controller_(controller) {}

QString CorrectionSession::liveWithoutTuneMessage()
{
    return QString::fromUtf8("Não se sabe que mapa o módulo tem: desative o Scanner, envie os dados ou leia-os do "
                             "módulo e ative o Scanner de novo.");
}

QString CorrectionSession::scannerMessage()
{
    return QString::fromUtf8("Desative o Scanner para aplicar: o mapa não pode ser alterado com o Scanner ativo. Nada "
                             "foi aplicado.");
}

QString CorrectionSession::busyMessage()
{
    return QString::fromUtf8("Aguarde o fim do envio, da leitura ou da calibração do TPS. Nada foi aplicado.");
}

int CorrectionSession::lambdaTemperature() const { return tune_ ? correction::lambdaTemperature(*tune_) : 0; }

void CorrectionSession::setSettings(const Settings &settings)
{
    if (!logs_.empty()) {
        RecordedLogs check;
        check.paths = logNames_;
        for (const logformat::Log &log : logs_) {
            logformat::Log shape;
            shape.absent = log.absent;
            check.logs.push_back(shape);
        }
        requireRuleChannels(check, settings);
    }
    settings_ = settings;
    if (live_) {
        liveAccumulator_ = std::make_unique<Accumulator>(settings_, tuneFacts(*tune_));
        for (const logformat::Row &r : liveRows_)
            liveAccumulator_->add(r);
    }
    recompute();
}

void CorrectionSession::openLogs(const QStringList &paths)
{
    RecordedLogs logs = readLogs(paths);
    requireRuleChannels(logs, settings_);
    try {
        tuneFacts(logs.tune);
    } catch (const std::exception &e) {
        throw Refused(QString::fromUtf8("O mapa %1 não serve para a correção: %2").arg(logs.tunePath, asSentence(e)));
    }
    stopLive();
    tune_ = logs.tune;
    tuneName_ = logs.tunePath;
    logNames_ = logs.paths;
    logs_ = std::move(logs.logs);
    liveRows_.clear();
    recompute();
}

void CorrectionSession::startLive()
{
    const std::optional<Tune> &sent = controller_.history().moduleSet();
    if (!sent)
        throw Refused(liveWithoutTuneMessage());
    try {
        tuneFacts(*sent);
        suggest(Analysis{}, *sent, settings_);
    } catch (const std::exception &e) {
        throw Refused(QString::fromUtf8("O mapa do módulo não serve para a correção: %1").arg(asSentence(e)));
    }
    tune_ = *sent;
    tuneName_.clear();
    logNames_.clear();
    logs_.clear();
    liveRows_.clear();
    live_ = true;
    liveAccumulator_ = std::make_unique<Accumulator>(settings_, tuneFacts(*tune_));
    recompute();
}

void CorrectionSession::stopLive()
{
    if (!live_)
        return;
    live_ = false;
    recompute();
}

void CorrectionSession::liveRow(const logformat::Row &row)
{
    if (!live_)
        return;
    liveRows_.push_back(row);
    liveAccumulator_->add(row);
    dirty_ = true;
}

bool CorrectionSession::refreshTick()
{
    if (!dirty_)
        return false;
    recompute();
    return true;
}

void CorrectionSession::recompute()
{
    dirty_ = false;
    if (!tune_) {
        analysis_ = Analysis{};
        suggestion_ = Suggestion{};
        warmUp_ = WarmUpSuggestion{};
        return;
    }
    WarmUpAccumulator warm(settings_, tuneFacts(*tune_));
    if (logNames_.isEmpty()) {
        for (const logformat::Row &r : liveRows_)
            warm.add(r);
    } else {
        for (const logformat::Log &log : logs_) {
            warm.beginRun();
            for (const logformat::Row &r : log.rows)
                warm.add(r);
        }
    }
    warmUp_ = suggestWarmUp(warm, *tune_, settings_);
    if (liveAccumulator_ && logNames_.isEmpty()) {
        analysis_ = liveAccumulator_->analysis();
    } else {
        Accumulator a(settings_, tuneFacts(*tune_));
        for (const logformat::Log &log : logs_) {
            a.beginRun();
            for (const logformat::Row &r : log.rows)
                a.add(r);
            a.addUnreadable(log.badLines);
        }
        analysis_ = a.analysis();
    }
    suggestion_ = suggest(analysis_, *tune_, settings_);
}

QString CorrectionSession::sourceText() const
{
    if (!tune_)
        return QString::fromUtf8("Nenhum registro aberto.");
    if (logNames_.isEmpty())
        return QString::fromUtf8("%1, relativo ao mapa enviado ao módulo ou lido dele.")
            .arg(live_ ? QString::fromUtf8("Ao vivo") : QString::fromUtf8("Rodada ao vivo (parada)"));
    QStringList names;
    for (const QString &p : logNames_)
        names << QFileInfo(p).fileName();
    return QString::fromUtf8("%1 %2 (%3), relativo ao mapa %4.")
        .arg(logNames_.size())
        .arg(logNames_.size() == 1 ? QStringLiteral("registro") : QStringLiteral("registros"))
        .arg(names.join(QStringLiteral(", ")), QFileInfo(tuneName_).fileName());
}

int CorrectionSession::apply(const QList<int> &cells)
{
    if (!tune_)
        return 0;
    if (controller_.historyBusy())
        throw Refused(busyMessage());
    Context &ctx = controller_.context();
    if (ctx.state.scannerActive)
        throw Refused(scannerMessage());
    QList<int> chosen;
    for (int k = 0; k < cellCount; ++k) {
        const CellSuggestion &c = suggestion_.cells[std::size_t(k)];
        if ((c.state == CellState::Added || c.state == CellState::Removed) && (cells.isEmpty() || cells.contains(k)))
            chosen << k;
    }
    if (chosen.isEmpty())
        return 0;
    UndoHistory &history = controller_.history();
    history.record(); // an edit still being typed is a step of its own
    // The return to ms and the suggested texts are one step: undone together, the map
    // comes back in percent as it was.
    const UndoHistory::Snapshot before = history.snapshot();
    const bool percent = ctx.state.percentView;
    if (percent) {
        // Every cell must convert, or the return to ms would stop half way.
        for (int k = 0; k < cellCount; ++k)
            try {
                numtext::parseFloat(ctx.screen.text(names::injectionCell(k)));
            } catch (const std::exception &e) {
                throw Refused(QString::fromUtf8("O mapa de injeção está em % e não pode voltar a mS: %1 Nada foi "
                                                "aplicado.")
                                  .arg(asSentence(e)));
            }
        controller_.btnmSClick();
    }
    int differing = 0;
    for (int k : chosen) {
        long double v = 0;
        if (!numtext::tryParseFloat(ctx.screen.text(names::injectionCell(k)), &v) ||
            std::lround(v * 10) != suggestion_.cells[std::size_t(k)].oldTenths)
            ++differing;
    }
    if (differing > 0) {
        const QString q = QString::fromUtf8("%1 das %2 células a aplicar mudaram na tela desde que o registro foi "
                                            "gravado; a sugestão substitui o que está nelas. Aplicar assim mesmo?")
                              .arg(differing)
                              .arg(chosen.size());
        if (ctx.prompt.question(q, {QStringLiteral("Aplicar"), QStringLiteral("Cancelar")}) != 0) {
            if (percent) { // declined: the map in percent again, and no step left behind
                controller_.undo();
                history.restore(before);
            }
            return 0;
        }
    }
    for (int k : chosen)
        ctx.screen.setText(names::injectionCell(k), suggestion_.cells[std::size_t(k)].newText);
    history.restore(before);
    history.record();
    controller_.correctionApplied();
    return int(chosen.size());
}

int CorrectionSession::applyWarmUp()
{
    if (!tune_)
        return 0;
    if (controller_.historyBusy())
        throw Refused(busyMessage());
    Context &ctx = controller_.context();
    if (ctx.state.scannerActive)
        throw Refused(scannerMessage());
    QList<int> chosen;
    for (int i = 0; i < warmUpPoints; ++i) {
        const PointState state = warmUp_.points[std::size_t(i)].state;
        if (state == PointState::Added || state == PointState::Removed)
            chosen << i;
    }
    if (chosen.isEmpty())
        return 0;
    const QStringList &controls = mapfile::fieldControls();
    UndoHistory &history = controller_.history();
    history.record();
    for (int i : chosen)
        ctx.screen.setText(controls.value(warmUpField(i)), warmUp_.points[std::size_t(i)].newText);
    history.record();
    controller_.correctionApplied();
    return int(chosen.size());
}
