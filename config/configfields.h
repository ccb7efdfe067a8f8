#pragma once
// Checks of the configuration fields when the user leaves them, the key-press guard of
// the fixed combo boxes, and the TDC tooth list that follows the wheel type.
#include "common/context.h"

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
    void upperLimit(const QString &field, long double limit, const QString &message, const QString &limitText);

    Context &ctx_;
};
