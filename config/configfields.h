#pragma once
// Checks of the configuration fields when the user leaves them, the key-press guard of
// the fixed combo boxes, and the TDC tooth list that follows the wheel type.
#include "common/context.h"

#include <QString>
#include <functional>
#include <optional>

// The rules of the fields the page checks when the user leaves them, on texts given by
// control name: one set of rules for the page and for a whole set checked before an
// upload from a file.
namespace configcheck {
using TextOf = std::function<QString(const QString &control)>;
// The page's message when field's text breaks its rule, empty when it passes. Throws
// the conversion error of a text that is not a number, as leaving the field does.
QString refusal(const QString &field, const TextOf &textOf);
struct Refusal {
    QString control;
    QString message;
};
// The first field of the page, in page order, whose text breaks its rule; then the
// TPS limits (tpsMin and tpsMax), which no field shows: the minimum outside the
// converter's scale (0 to 1023), the maximum outside what the read-back takes back
// (tpslimits). Throws as refusal() does, control named in the text.
std::optional<Refusal> firstRefusal(const TextOf &textOf);
} // namespace configcheck

class ConfigFields {
public:
    explicit ConfigFields(Context &ctx);
    void eDeslCutOffExit();
    void eLigaCutOffExit();
    void eTempoCargaExit();
    void eLimiteRpmExit();
    void eAvancoPartidaExit();
    // cbCombinacaoMapaKeyPress, cbTipoRodaFonicaKeyPress, cbDentesPmsKeyPress,
    // cbEscalaRpmKeyPress, cbPontoZeroKeyPress: a character key typed into that box.
    void fixedComboKeyPress(const QString &comboName);
    void cbTipoRodaFonicaChange();

private:
    // Leaving a box with an upper limit: above it, message, then the limit text.
    void upperLimit(const QString &field);
    // Leaving one of the cut-off pair: refused, message, and the box is left empty.
    void cutOff(const QString &field);

    Context &ctx_;
};
