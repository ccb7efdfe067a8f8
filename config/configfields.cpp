#include "config/configfields.h"

#include "common/numtext.h"

#include <QStringList>

namespace {

const QString cutOffOffMessage =
    QStringLiteral(" Atenção ! !  Esse valor deve ser maior que o valor para ligar os injetores .   ");
const QString cutOffOnMessage =
    QStringLiteral(" Atenção ! !  Esse valor deve ser menor que o valor para Desligar os injetores .   ");
const QString chooseMessage = QStringLiteral(" Atenção ! !  Selecione um dos Valores.  ");

const QStringList &fixedCombos()
{
    static const QStringList list{"cbCombinacaoMapa", "cbTipoRodaFonica", "cbDentesPms", "cbEscalaRpm",
                                  "cbPontoZero"};
    return list;
}

} // namespace

ConfigFields::ConfigFields(Context &ctx) : ctx_(ctx) {}

void ConfigFields::upperLimit(const QString &field, long double limit, const QString &message,
                              const QString &limitText)
{
    Screen &s = ctx_.screen;
    const long double value = numtext::parseFloat(s.text(field));
    if (value > limit) {
        ctx_.prompt.message(message);
        s.setText(field, QString());
        s.setFocus(field);
        s.setText(field, limitText);
    }
}

void ConfigFields::eTempoCargaExit()
{
    upperLimit("eTempoCarga", 4, QStringLiteral(" Atenção ! !  Valor máximo 4 mS   "), "4");
}

void ConfigFields::eLimiteRpmExit()
{
    upperLimit("eLimiteRpm", 12000, QStringLiteral(" Atenção ! !  Valor máximo 12.000 PRM   "), "12000");
}

void ConfigFields::eAvancoPartidaExit()
{
    upperLimit("eAvancoPartida", 15, QStringLiteral(" Atenção ! !  Valor máximo 15 graus   "), "15");
}

void ConfigFields::eDeslCutOffExit()
{
    Screen &s = ctx_.screen;
    const long double off = numtext::parseFloat(s.text("eDeslCutOff"));
    const long double on = numtext::parseFloat(s.text("eLigaCutOff"));
    if (off < on) {
        ctx_.prompt.message(cutOffOffMessage);
        s.setText("eDeslCutOff", QString());
        s.setFocus("eDeslCutOff");
    }
}

void ConfigFields::eLigaCutOffExit()
{
    Screen &s = ctx_.screen;
    const long double on = numtext::parseFloat(s.text("eLigaCutOff"));
    const long double off = numtext::parseFloat(s.text("eDeslCutOff"));
    if (on > off) {
        ctx_.prompt.message(cutOffOnMessage);
        s.setText("eLigaCutOff", QString());
        s.setFocus("eLigaCutOff");
    }
}

void ConfigFields::fixedComboKeyPress(const QString &comboName)
{
    // Only the five combo boxes with fixed choices are guarded.
    if (!fixedCombos().contains(comboName))
        return;
    ctx_.prompt.message(chooseMessage);
    ctx_.screen.setFocus(comboName);
}

void ConfigFields::cbTipoRodaFonicaChange()
{
    Screen &s = ctx_.screen;
    int first = 0, count = 1;
    switch (s.itemIndex("cbTipoRodaFonica")) {
    case 0: // "60-2"
        first = 12;
        count = 16;
        s.setEnabled("cbDentesPms", true);
        s.setEnabled("cbPontoZero", true);
        break;
    case 1: // "36-1"
        first = 8;
        count = 9;
        s.setEnabled("cbDentesPms", true);
        s.setEnabled("cbPontoZero", true);
        break;
    case 2: // "2+2"
        s.setEnabled("cbDentesPms", false);
        s.setEnabled("cbPontoZero", false);
        break;
    default: // nothing selected: the list "0", enabling as it was
        break;
    }
    QStringList teeth;
    for (int i = 0; i < count; ++i)
        teeth << numtext::formatInt(first + i);
    s.setItems("cbDentesPms", teeth);
    // The entry at the tooth offset; none when the list is shorter, and then an empty
    // box rather than a tooth of the previous list.
    const int offset = ctx_.state.wv.toothOffset;
    if (offset < count)
        s.setItemIndex("cbDentesPms", offset);
    else
        s.setText("cbDentesPms", QString());
}
