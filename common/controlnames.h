#pragma once
// The named controls of the main window, each once. Code names a control through
// these constants, so that a misspelt name does not build; the start-up table
// (common/controls.h) gives each its kind and first state. The map cells are named by
// number (names::ignitionCell, names::injectionCell).
#include <QString>
#include <QStringList>

// X(name) for every named control, in the start-up table's order.
// clang-format off
#define VELTO_CONTROL_NAMES(X) \
    X(TabSheet1) X(pnColunaOkIgn) X(pnColunaOkInj) X(Label46) X(StaticText1) X(StaticText11) X(StaticText2) \
    X(StaticText12) X(StaticText3) X(StaticText13) X(StaticText4) X(StaticText14) X(StaticText5) X(StaticText15) \
    X(StaticText6) X(StaticText16) X(StaticText7) X(StaticText17) X(StaticText8) X(StaticText18) X(StaticText9) \
    X(StaticText19) X(StaticText10) X(Label72) X(Label57) X(Label73) X(Label63) X(Label74) X(Label64) X(Label75) \
    X(Label65) X(Label76) X(Label66) X(Label77) X(Label69) X(Label78) X(Label70) X(Label79) X(Label71) X(Gauge1) \
    X(Gauge2) X(Gauge6) X(Gauge8) X(Gauge3) X(Gauge4) X(Gauge5) X(Gauge7) X(eC0ig) X(eC1ig) X(eC2ig) X(eC3ig) \
    X(eC4ig) X(eC5ig) X(eC6ig) X(eC7ig) X(eC0inj) X(eC1inj) X(eC2inj) X(eC3inj) X(eC4inj) X(eC5inj) X(eC6inj) \
    X(eC7inj) X(eL0ig) X(eL1ig) X(eL2ig) X(eL3ig) X(eL4ig) X(eL5ig) X(eL6ig) X(eL7ig) X(eL8ig) X(eL0inj) \
    X(eL1inj) X(eL2inj) X(eL3inj) X(eL4inj) X(eL5inj) X(eL6inj) X(eL7inj) X(eL8inj) X(GroupBox10) X(eAltera) \
    X(eAlterar) X(btnAlterar) X(btnPercentual) X(btnmS) X(btnVoltarTelaPrincipal) X(eRpm) X(eAvanco) X(eTi) \
    X(eValorTps) X(ePresAtm) X(eCorPresAtm) X(eAtuadorML) X(eTemperatura) X(eCorTemperatura) X(eCorAvanco) \
    X(eValorSonda) X(eCorSondaCurto) X(eCorSondaLongo) X(eColunaTps) X(eValorMap) X(eLinhaMapa) X(GroupBox5) \
    X(eScannerBomba) X(eScannerEletro) X(eScannerAr) X(BarraTps) X(GroupBox3) X(cbRapidaTpsxMap) X(eBasico) \
    X(eGanho) X(eDecremento) X(pnAguarde) X(pbCarregando1) X(btnCarregar) X(btnSalvar) X(btnAlterarMapas) \
    X(Button6) X(Button8) X(Button3) X(cbCoresPorValor) X(btnVista3D) X(GroupBoxRegistro) X(btnGravar) \
    X(btnParar) X(btnMarcar) X(btnAbrirRegistro) X(btnReproduzir) X(tbPosicao) X(cbVelocidade) \
    X(ePosicaoRegistro) X(lbMarcas) X(btnFecharRegistro) X(lbEstadoRegistro) X(lbUltimaMarca) X(btnCorrecao) \
    X(TabSheet2) X(btnAtivar) X(btnDesativar) X(cbPorta) X(cbCombinacaoMapa) X(cbTipoRodaFonica) X(cbDentesPms) \
    X(cbEscalaRpm) X(eLimiteRpm) X(eTempoCarga) X(cbPontoZero) X(eAvancoPartida) X(btnConfigurarTps) \
    X(cbSondaTipo) X(cbSondaCorrecao) X(eSondaTemp) X(cbSondaAtiva) X(eSondaLenta) X(eSondaParcial) \
    X(eSondaPlena) X(eCorrecaoTi0) X(eCorrecaoTi15) X(eCorrecaoTi30) X(eCorrecaoTi45) X(eCorrecaoTi60) \
    X(eCorrecaoTi75) X(eCorrecaoTi90) X(eCorrecaoTi105) X(eCorrecaoIg0) X(eCorrecaoIg15) X(eCorrecaoIg30) \
    X(eCorrecaoIg45) X(eCorrecaoIg60) X(eCorrecaoIg75) X(eCorrecaoIg90) X(eCorrecaoIg105) X(eCorrecaoMl0) \
    X(eCorrecaoMl15) X(eCorrecaoMl30) X(eCorrecaoMl45) X(eCorrecaoMl60) X(eCorrecaoMl75) X(eCorrecaoMl90) \
    X(eCorrecaoMl105) X(eAtm820) X(eAtm880) X(eAtm940) X(eAtm1000) X(eLigaEletro) X(eDesligaEletro) \
    X(emSCorrecaoEletro) X(ePercEletro) X(eDeslCutOff) X(eLigaCutOff) X(emSAr) X(ePercentualAr) X(Button2) \
    X(Button1) X(btnLerDados) X(btnEnvia) X(Panel1) X(pbCarregando) X(eRepousoTps) X(eLeitura) X(ListBox1) \
    X(Label1) X(Label3) X(Label48) X(Label51) X(Label52) X(Label91) X(Label92) X(Label89) X(Label90) X(Label54)
// clang-format on

namespace ctl {
#define VELTO_CONTROL_CONSTANT(name) inline const QString name = QStringLiteral(#name);
VELTO_CONTROL_NAMES(VELTO_CONTROL_CONSTANT)
#undef VELTO_CONTROL_CONSTANT

// Every name above, in that order.
const QStringList &all();
} // namespace ctl
