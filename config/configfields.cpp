#include "config/configfields.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/numtext.h"
#include "common/tpslimits.h"
#include "common/tunefields.h"

#include <QStringList>
#include <type_traits>

namespace {

const QString cutOffOffMessage =
    QStringLiteral(" Atenção ! !  Esse valor deve ser maior que o valor para ligar os injetores .   ");
const QString cutOffOnMessage =
    QStringLiteral(" Atenção ! !  Esse valor deve ser menor que o valor para Desligar os injetores .   ");
const QString chooseMessage = QStringLiteral(" Atenção ! !  Selecione um dos Valores.  ");

// The field's upper limit, nullptr for a field without one.
const tunefields::UpperLimit *upperLimitOf(const QString &field)
{
    const tunefields::Field *f = tunefields::find(field);
    return f && f->upper ? &*f->upper : nullptr;
}

// A field's number; its conversion error names the field by its caption and shows
// what was written.
template <typename T, typename Parse> T numberOf(const QString &control, const QString &text, Parse &&parse)
{
    try {
        return parse(text);
    } catch (const numtext::ConvertError &e) {
        const tunefields::Field *f = tunefields::find(control);
        const QString label = f ? f->caption : QString();
        throw numtext::ConvertError::inField(e, control, label.isEmpty() ? control : label, text,
                                             std::is_integral_v<T> ? 0 : 15);
    }
}

long double floatOf(const QString &control, const configcheck::TextOf &textOf)
{
    return numberOf<long double>(control, textOf(control), [](const QString &t) { return numtext::parseFloat(t); });
}

long long intOf(const QString &control, const QString &text)
{
    return numberOf<long long>(control, text, [](const QString &t) { return numtext::parseInt(t); });
}

} // namespace

namespace configcheck {

QString refusal(const QString &field, const TextOf &textOf)
{
    if (const tunefields::UpperLimit *u = upperLimitOf(field))
        return floatOf(field, textOf) > u->limit ? u->message : QString();
    if (field == ctl::eDeslCutOff)
        return floatOf(field, textOf) < floatOf(ctl::eLigaCutOff, textOf) ? cutOffOffMessage : QString();
    if (field == ctl::eLigaCutOff)
        return floatOf(field, textOf) > floatOf(ctl::eDeslCutOff, textOf) ? cutOffOnMessage : QString();
    return {};
}

std::optional<Refusal> firstRefusal(const TextOf &textOf)
{
    // Page order: set-up first, then the cut-off pair.
    for (const QString &field :
         {ctl::eLimiteRpm, ctl::eTempoCarga, ctl::eAvancoPartida, ctl::eDeslCutOff, ctl::eLigaCutOff}) {
        const QString &control = field;
        const QString message = refusal(control, textOf);
        if (!message.isEmpty())
            return Refusal{control, message};
    }
    const QString minText = textOf(QStringLiteral("tpsMin"));
    const long long min = intOf(QStringLiteral("tpsMin"), minText);
    if (min < 0 || min > tpslimits::minTop)
        return Refusal{QStringLiteral("tpsMin"),
                       QStringLiteral("%1 fora da escala do sensor (0 a %2): o módulo guardaria outro valor.")
                           .arg(minText)
                           .arg(tpslimits::minTop)};
    const QString maxText = textOf(QStringLiteral("tpsMax"));
    const long long max = intOf(QStringLiteral("tpsMax"), maxText);
    if (!tpslimits::maxTaken(max, min))
        return Refusal{QStringLiteral("tpsMax"),
                       QStringLiteral("%1 fora da faixa do TPS máximo (%2 a %3): lido de volta, o módulo daria o "
                                      "TPS mínimo no lugar.")
                           .arg(maxText)
                           .arg(tpslimits::maxLow(min))
                           .arg(tpslimits::maxTop)};
    return std::nullopt;
}

} // namespace configcheck

ConfigFields::ConfigFields(Context &ctx) : ctx_(ctx) {}

void ConfigFields::upperLimit(const QString &field)
{
    Screen &s = ctx_.screen;
    const QString message = configcheck::refusal(field, [&s](const QString &c) { return s.text(c); });
    if (message.isEmpty())
        return;
    ctx_.prompt.message(message);
    s.setText(field, QString());
    s.setFocus(field);
    s.setText(field, upperLimitOf(field)->limitText);
}

void ConfigFields::eTempoCargaExit() { upperLimit(ctl::eTempoCarga); }

void ConfigFields::eLimiteRpmExit() { upperLimit(ctl::eLimiteRpm); }

void ConfigFields::eAvancoPartidaExit() { upperLimit(ctl::eAvancoPartida); }

void ConfigFields::cutOff(const QString &field)
{
    Screen &s = ctx_.screen;
    const QString message = configcheck::refusal(field, [&s](const QString &c) { return s.text(c); });
    if (message.isEmpty())
        return;
    ctx_.prompt.message(message);
    s.setText(field, QString());
    s.setFocus(field);
}

void ConfigFields::eDeslCutOffExit() { cutOff(ctl::eDeslCutOff); }

void ConfigFields::eLigaCutOffExit() { cutOff(ctl::eLigaCutOff); }

void ConfigFields::fixedComboKeyPress(const QString &comboName)
{
    // Only the five combo boxes with fixed choices are guarded.
    const tunefields::Field *f = tunefields::find(comboName);
    if (!f || !f->fixedChoices)
        return;
    ctx_.prompt.message(chooseMessage);
    ctx_.screen.setFocus(comboName);
}

void ConfigFields::cbTipoRodaFonicaChange()
{
    Screen &s = ctx_.screen;
    const int wheel = s.itemIndex(ctl::cbTipoRodaFonica);
    // 60-2 and 36-1 have a TDC tooth and a zero point; 2+2 has neither; with nothing
    // selected the enabling stays as it was.
    if (wheel >= 0 && wheel <= 2) {
        ctx_.state.toothFields = wheel != 2;
        enabledset::apply(ctx_);
    }
    const QStringList teeth = tunefields::toothList(wheel);
    const int count = int(teeth.size());
    s.setItems(ctl::cbDentesPms, teeth);
    // The entry at the tooth offset; none when the list is shorter, and then an empty
    // box rather than a tooth of the previous list.
    const int offset = ctx_.state.wv.toothOffset;
    if (offset < count)
        s.setItemIndex(ctl::cbDentesPms, offset);
    else
        s.setText(ctl::cbDentesPms, QString());
}
