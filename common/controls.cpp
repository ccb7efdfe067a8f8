#include "common/controls.h"

#include "common/controlnames.h"
#include "common/names.h"
#include "common/tunefields.h"

#include <QHash>

namespace {

// The choices of a field of the parameter set.
QStringList choices(const char *field)
{
    return tunefields::choiceTexts(*tunefields::find(QString::fromLatin1(field)));
}

ControlSpec edit(const QString &name, const QString &text, int maxLength = 0, const QString &hint = {})
{
    ControlSpec c;
    c.name = name;
    c.kind = ControlKind::Edit;
    c.text = text;
    c.maxLength = maxLength;
    c.hint = hint;
    return c;
}

ControlSpec combo(const QString &name, ControlKind kind, const QStringList &items, int index, const QString &text = {})
{
    ControlSpec c;
    c.name = name;
    c.kind = kind;
    c.items = items;
    c.itemIndex = index;
    c.text = index >= 0 ? items.at(index) : text;
    return c;
}

ControlSpec button(const QString &name, const QString &caption, const QString &hint = {}, bool enabled = true)
{
    ControlSpec c;
    c.name = name;
    c.kind = ControlKind::Button;
    c.text = caption;
    c.hint = hint;
    c.enabled = enabled;
    return c;
}

ControlSpec label(const QString &name, const QString &caption, bool visible = true)
{
    ControlSpec c;
    c.name = name;
    c.kind = ControlKind::Label;
    c.text = caption;
    c.visible = visible;
    return c;
}

ControlSpec panel(const QString &name, const QString &caption, bool visible = true)
{
    ControlSpec c;
    c.name = name;
    c.kind = ControlKind::Panel;
    c.text = caption;
    c.visible = visible;
    return c;
}

ControlSpec bar(const QString &name, int min, int max, bool visible = true)
{
    ControlSpec c;
    c.name = name;
    c.kind = ControlKind::Progress;
    c.barMin = min;
    c.barMax = max;
    c.barPosition = min;
    c.visible = visible;
    return c;
}

ControlSpec readout(const QString &name, Rgb font = colors::lime, const QString &text = {})
{
    ControlSpec c = edit(name, text);
    c.color = colors::black;
    c.fontColor = font;
    return c;
}

const QString readBackHint = "Le todos os Dados do Módulo e mostra na Tela.";
const QString uploadHint = "Envia todos os Dados da Tela para o Módulo.";
const QString saveHint = "Salva no Computador Todos os Dados da Tela.";
const QString loadHint = "Carrega na Tela um Arquivo do Computador.";
const QString correctionHint = "  Ajuda ? ?  Dois  clicks  no  Título  em  Bordô. !  ";

void addConfigurationPage(std::vector<ControlSpec> &t)
{
    t.push_back(panel("TabSheet2", "Configurações e Correções"));
    t.back().kind = ControlKind::Page;
    t.push_back(button("btnAtivar", "&Ativar", "Ativa a porta que foi Selecionada."));
    t.push_back(button("btnDesativar", "&Desativar", "Desativa a porta de comunicação.", false));
    t.push_back(combo("cbPorta", ControlKind::ComboFree, {}, -1, "!!"));

    t.push_back(combo("cbCombinacaoMapa", ControlKind::ComboFixed, choices("cbCombinacaoMapa"), 0));
    t.push_back(combo("cbTipoRodaFonica", ControlKind::ComboFixed, choices("cbTipoRodaFonica"), 0));
    t.push_back(combo("cbDentesPms", ControlKind::ComboFixed, tunefields::toothList(0), 8));
    t.push_back(combo("cbEscalaRpm", ControlKind::ComboFixed, choices("cbEscalaRpm"), 0));
    t.push_back(edit("eLimiteRpm", "6000", 5, "Valores multiplos de 100"));
    t.push_back(edit("eTempoCarga", "3,6", 3));
    t.push_back(combo("cbPontoZero", ControlKind::ComboFixed, choices("cbPontoZero"), 3));
    t.push_back(edit("eAvancoPartida", "6", 3));
    t.push_back(
        button("btnConfigurarTps", "Configurar &TPS", "Configura o TPS. Sensor de Posição Da Borboleta.", false));

    t.push_back(combo("cbSondaTipo", ControlKind::ComboFree, choices("cbSondaTipo"), 0));
    t.push_back(combo("cbSondaCorrecao", ControlKind::ComboFree, choices("cbSondaCorrecao"), 0));
    t.push_back(edit("eSondaTemp", "30"));
    t.push_back(combo("cbSondaAtiva", ControlKind::ComboFree, choices("cbSondaAtiva"), 0));
    t.push_back(edit("eSondaLenta", "550", 3));
    t.push_back(edit("eSondaParcial", "700", 3));
    t.push_back(edit("eSondaPlena", "820", 3));

    const QStringList temps = {"0", "15", "30", "45", "60", "75", "90", "105"};
    const QStringList ti = {"55", "40", "30", "20", "12", "5", "0", "0"};
    const QStringList ig = {"5", "4", "3", "2", "1", "0", "0", "-2"};
    const QStringList ml = {"70", "50", "40", "30", "20", "15", "0", "0"};
    for (int i = 0; i < 8; ++i)
        t.push_back(edit("eCorrecaoTi" + temps[i], ti[i], i == 7 ? 3 : 2, correctionHint));
    for (int i = 0; i < 8; ++i)
        t.push_back(edit("eCorrecaoIg" + temps[i], ig[i], i == 7 ? 3 : 2, correctionHint));
    for (int i = 0; i < 8; ++i)
        t.push_back(edit("eCorrecaoMl" + temps[i], ml[i], i == 0 ? 3 : 2, correctionHint));

    for (const char *p : {"eAtm820", "eAtm880", "eAtm940", "eAtm1000"})
        t.push_back(edit(p, "0", 3));

    t.push_back(edit("eLigaEletro", "87", 3));
    t.push_back(edit("eDesligaEletro", "80", 3));
    t.push_back(edit("emSCorrecaoEletro", "0,7", 3));
    t.push_back(edit("ePercEletro", "20", 3));
    t.push_back(edit("eDeslCutOff", "2200", 4));
    t.push_back(edit("eLigaCutOff", "1500", 4));
    t.push_back(edit("emSAr", "1", 3));
    t.push_back(edit("ePercentualAr", "70", 2));

    t.push_back(button("Button2", "&Carregar", loadHint));
    t.push_back(button("Button1", "&Salvar", saveHint));
    t.push_back(button("btnLerDados", "&Lêr  Dados", readBackHint, false));
    t.push_back(button("btnEnvia", "&Enviar  Dados", uploadHint, false));
    t.push_back(panel("Panel1", "", false));
    t.push_back(bar("pbCarregando", 0, 100));

    // Behind the page control, never visible.
    ControlSpec rest = edit("eRepousoTps", "128", 3);
    rest.visible = false;
    t.push_back(rest);
    ControlSpec reading = edit("eLeitura", "1");
    reading.visible = false;
    t.push_back(reading);
    ControlSpec list;
    list.name = "ListBox1";
    list.kind = ControlKind::List;
    list.visible = false;
    t.push_back(list);
    for (const char *l :
         {"Label1", "Label3", "Label48", "Label51", "Label52", "Label91", "Label92", "Label89", "Label90", "Label54"})
        t.push_back(label(l, "", false));
}

void addMaps(std::vector<ControlSpec> &t)
{
    for (int k = 0; k < 72; ++k) {
        ControlSpec c = edit(names::ignitionCell(k), defaultIgnitionMap()[k], 2, "Mapa de Ignição, Valores em Graus");
        c.color = colors::black;
        c.fontColor = colors::yellow;
        t.push_back(c);
    }
    for (int k = 0; k < 72; ++k) {
        ControlSpec c = edit(names::injectionCell(k), defaultInjectionMap()[k], 4, "Mapa de Injeção");
        c.color = colors::black;
        c.fontColor = colors::yellow;
        t.push_back(c);
    }
    t.push_back(panel("pnColunaOkIgn", " Mapa de ignição                Valores em  Graus  "));
    t.push_back(panel("pnColunaOkInj", "  Mapa de injeção"));
    t.push_back(label("Label46", "Valores em Ti   \" mS \""));

    const QStringList rows = {"500", "900", "1800", "2600", "3400", "4200", "5000", "5800", "6600"};
    for (int r = 0; r < 9; ++r) {
        t.push_back(label(names::ignitionRowCaptions()[r], rows[r]));
        t.back().hint = "Posição de Rotação no Mapa.";
        t.push_back(label(names::injectionRowCaptions()[r], rows[r]));
    }
    t.push_back(label("StaticText10", "RPM"));
    for (int c = 0; c < 8; ++c) {
        t.push_back(label(names::ignitionColumnCaptions()[c], QString::number(c + 1)));
        t.push_back(label(names::injectionColumnCaptions()[c], QString::number(c + 1)));
    }
    for (const QString &g : names::loadBars())
        t.push_back(bar(g, 0, 42, false));
    for (const QString &g : names::speedBars())
        t.push_back(bar(g, 0, 48, false));

    auto changeField = [&](const QString &name, Rgb background, const QString &hint) {
        ControlSpec c = edit(name, "0", 3, hint);
        c.visible = false;
        c.color = background;
        c.fontColor = colors::black;
        t.push_back(c);
    };
    for (int c = 0; c < 8; ++c)
        changeField(names::ignitionColumnField(c), colors::silver, "Altera Individual cada Coluna do Mapa.");
    for (int c = 0; c < 8; ++c)
        changeField(names::injectionColumnField(c), colors::white, "Altera Individual cada Coluna do Mapa.");
    for (int r = 0; r < 9; ++r)
        changeField(names::ignitionRowField(r), colors::silver, "Altera Individual cada Linha do Mapa.");
    for (int r = 0; r < 9; ++r)
        changeField(names::injectionRowField(r), colors::white, "Altera Individual cada Linha do Mapa.");

    t.push_back(panel("GroupBox10", " Alteração dos Mapas ", false));
    ControlSpec altera = edit("eAltera", "0", 3);
    altera.color = colors::silver;
    altera.fontColor = colors::black;
    t.push_back(altera);
    ControlSpec alterar = edit("eAlterar", "0", 3);
    alterar.color = colors::white;
    alterar.fontColor = colors::black;
    t.push_back(alterar);
    t.push_back(button("btnAlterar", "&Alterar "));
    t.push_back(button("btnPercentual", "Converter Mapa de Inj.  para  \" % \" de abertura",
                       "Mostra o % de abertura dos Injetores em cada posição do Mapa."));
    t.push_back(button("btnmS", "Converter Mapa de Inj. para Ti   \" mS \"",
                       "Mostra os Valores do Mapa em Tempo de Injeção mS.", false));
    ControlSpec back = button("btnVoltarTelaPrincipal", "&Voltar  Tela Principal ");
    back.visible = false;
    t.push_back(back);
}

void addMapPage(std::vector<ControlSpec> &t)
{
    t.push_back(panel("TabSheet1", "Mapas e Scanner"));
    t.back().kind = ControlKind::Page;
    addMaps(t);

    for (const char *r : {"eRpm", "eAvanco", "eTi", "eValorTps", "ePresAtm", "eCorPresAtm", "eAtuadorML",
                          "eTemperatura", "eCorTemperatura", "eCorAvanco", "eValorSonda", "eCorSondaCurto",
                          "eCorSondaLongo", "eColunaTps", "eValorMap", "eLinhaMapa"})
        t.push_back(readout(r));
    t.push_back(panel("GroupBox5", " Informações "));
    t.push_back(readout("eScannerBomba", colors::silver, "BOMBA Ligada"));
    t.push_back(readout("eScannerEletro", colors::silver, "ELETRO Ligado"));
    t.push_back(readout("eScannerAr", colors::silver, " AR / C   Ligado"));
    t.push_back(bar("BarraTps", 0, 255));

    t.push_back(panel("GroupBox3", " Aceler. Rápida "));
    t.push_back(combo("cbRapidaTpsxMap", ControlKind::ComboFree, choices("cbRapidaTpsxMap"), 0));
    auto quick = [&](const QString &name, const QString &text, const QString &hint) {
        ControlSpec c = edit(name, text, 3, hint);
        c.color = colors::black;
        c.fontColor = colors::yellow;
        t.push_back(c);
    };
    quick("eBasico", "3", "Picando o acelerador para Manobrar.");
    quick("eGanho", "5", "Acelera de vez até o fundo.");
    quick("eDecremento", "3", "Desativa a Injeção Rápida de combustível.");

    t.push_back(panel("pnAguarde", "", false));
    t.push_back(bar("pbCarregando1", 0, 100));
    t.push_back(button("btnCarregar", "&Carregar", loadHint));
    t.push_back(button("btnSalvar", "&Salvar", saveHint));
    t.push_back(button("btnAlterarMapas", "Alterar &Mapas", "Abre Novas Ferramentas para Alteração dos Mapas."));
    t.push_back(button("Button6", "&Lêr  Dados", readBackHint, false));
    t.push_back(button("Button8", "&Enviar  Dados", uploadHint, false));
    t.push_back(button("Button3", "Ativar &Scanner", {}, false));
}

// What the group " Registro " is doing: recording (for how long, into which file, the
// last marker) or playing a log; empty while it does neither.
void addDatalogStatus(std::vector<ControlSpec> &t)
{
    t.push_back(label("lbEstadoRegistro", {}));
    t.push_back(label("lbUltimaMarca", {}));
}

// The group " Registro ": record the live run, play a log back.
void addDatalogGroup(std::vector<ControlSpec> &t)
{
    t.push_back(panel("GroupBoxRegistro", " Registro "));
    t.push_back(button("btnGravar", "&Gravar", "Grava o que o Scanner mostra num registro (.msl).", false));
    t.push_back(button("btnParar", "&Parar", "Termina a gravação do registro.", false));
    t.push_back(button("btnMarcar", "Marca&r", "Marca este momento no registro.", false));
    t.push_back(button("btnAbrirRegistro", "A&brir registro", "Abre um registro para reproduzir nos mapas."));
    t.push_back(button("btnReproduzir", "Repr&oduzir", {}, false));
    ControlSpec position = bar("tbPosicao", 0, 0);
    position.enabled = false;
    t.push_back(position);
    ControlSpec speed = combo("cbVelocidade", ControlKind::ComboFixed, {"1x", "2x", "4x", "8x"}, 0);
    speed.enabled = false;
    t.push_back(speed);
    t.push_back(readout("ePosicaoRegistro", colors::lime, "00:00,0 / 00:00,0"));
    ControlSpec markers;
    markers.name = "lbMarcas";
    markers.kind = ControlKind::List;
    markers.enabled = false;
    t.push_back(markers);
    t.push_back(button("btnFecharRegistro", "&Fechar registro", {}, false));
    addDatalogStatus(t);
}

// "Correção": the assisted correction of the injection map from the lambda corrections.
void addCorrectionButton(std::vector<ControlSpec> &t)
{
    t.push_back(button("btnCorrecao", "Corre&ção",
                       "Sugere correções do mapa de injeção pelas correções da sonda nos registros ou ao vivo."));
}

// Colours by value and the 3D view, in the maps' title bars.
void addMapViews(std::vector<ControlSpec> &t)
{
    ControlSpec colours;
    colours.name = "cbCoresPorValor";
    colours.kind = ControlKind::CheckBox;
    colours.text = "Cores por valor";
    colours.hint = "Pinta cada célula dos mapas pela cor do seu valor: azul o menor, verde, amarelo, vermelho o maior.";
    t.push_back(colours);
    t.push_back(
        button("btnVista3D", " Vista 3D ", "Mostra um dos mapas como uma superfície em 3D; gire-a com o mouse."));
}

std::vector<ControlSpec> buildTable()
{
    std::vector<ControlSpec> t;
    addMapPage(t);
    addMapViews(t);
    addDatalogGroup(t);
    addCorrectionButton(t);
    addConfigurationPage(t);
    return t;
}

} // namespace

const std::vector<ControlSpec> &controlTable()
{
    static const std::vector<ControlSpec> table = buildTable();
    return table;
}

const ControlSpec *findControl(const QString &name)
{
    static const QHash<QString, const ControlSpec *> index = [] {
        QHash<QString, const ControlSpec *> h;
        for (const ControlSpec &c : controlTable())
            h.insert(c.name, &c);
        return h;
    }();
    return index.value(name, nullptr);
}

const QStringList &defaultIgnitionMap()
{
    static const QStringList map = QString("10 10 6 6 6 6 6 6 "
                                           "10 10 12 12 12 12 13 14 "
                                           "11 15 18 21 24 28 26 25 "
                                           "32 32 32 32 30 28 27 25 "
                                           "33 33 32 32 30 29 28 26 "
                                           "33 33 32 32 30 29 28 26 "
                                           "34 34 33 33 31 30 29 27 "
                                           "34 34 33 33 31 30 29 27 "
                                           "34 34 33 33 31 30 29 27")
                                       .split(' ');
    return map;
}

const QStringList &defaultInjectionMap()
{
    static const QStringList map = QString("3,5 5,2 5,8 6,4 7,4 7,8 8 8,1 "
                                           "3,1 4,3 5,3 6,2 7,3 7,6 7,8 8,1 "
                                           "2,8 4 5 6,2 7,2 7,4 7,8 8,1 "
                                           "2,5 3,8 4,4 6,2 7,2 7,4 8 8,2 "
                                           "2,4 3,3 4,2 6,6 7,4 8,2 8,2 8,3 "
                                           "2,4 3,1 4,2 6,8 7,6 8,7 8,6 8,6 "
                                           "2,3 2,9 4 6,7 7,7 8,2 8,3 8,5 "
                                           "2,3 2,8 3,9 6,6 7,8 7,8 8,3 8,3 "
                                           "2,2 2,8 3,8 6,5 7,8 7,8 8,1 8,1")
                                       .split(' ');
    return map;
}

const QStringList &ctl::all()
{
#define VELTO_CONTROL_ENTRY(name) ctl::name,
    static const QStringList names{VELTO_CONTROL_NAMES(VELTO_CONTROL_ENTRY)};
#undef VELTO_CONTROL_ENTRY
    return names;
}
