#include "app/layout.h"

#include "app/editablecombo.h"
#include "app/mappagetools.h"
#include "app/portcombo.h"
#include "app/tgauge.h"
#include "common/names.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>

namespace layout {

namespace {

constexpr int cellW = 40, cellH = 21, rows = 9, cols = 8;
constexpr int mapTitleY = 116, columnCaptionY = 140, topBarY = 156, gridY = 166;
constexpr int gridBottom = gridY + rows * cellH;
constexpr int bottomBarY = gridBottom + 2, columnFieldY = bottomBarY + 10;
constexpr int barThickness = 8;

QFont arial(int px, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    f.setBold(bold);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

void setTextColor(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    w->setPalette(p);
}

// Builds the widgets of one parent.
class Builder {
public:
    explicit Builder(QWidget *parent) : parent_(parent) {}

    QLabel *label(const QString &text, const QRect &r, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter,
                  const QString &name = {})
    {
        auto *l = new QLabel(text, parent_);
        l->setObjectName(name);
        l->setGeometry(r);
        l->setAlignment(align);
        return l;
    }
    QLabel *caption(const QString &text, const QRect &r, QWidget *buddy,
                    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
    {
        QLabel *l = label(text, r, align);
        l->setBuddy(buddy);
        return l;
    }
    QLineEdit *edit(const QString &name, const QRect &r)
    {
        auto *e = new QLineEdit(parent_);
        e->setObjectName(name);
        e->setGeometry(r);
        return e;
    }
    // c: a box of a special kind, already made inside the parent. fixedLater: the box
    // is made fixed again afterwards, and goes the toolkit's own way, so that its list
    // keeps what that way gives it.
    QComboBox *combo(const QString &name, const QRect &r, QComboBox *c = nullptr, bool fixedLater = false)
    {
        // Made inside its parent: a box made alone takes the application's font and
        // palette first and redoes its text and list when it moves into the window.
        if (!c)
            c = new QComboBox(parent_);
        c->setObjectName(name);
        // Placed first: a box without a size of its own computes one when it turns editable.
        c->setGeometry(r);
        if (fixedLater) {
            c->setEditable(true);
            c->setCompleter(nullptr);
        } else {
            makeEditable(c);
        }
        c->setInsertPolicy(QComboBox::NoInsert);
        return c;
    }
    QPushButton *button(const QString &name, const QRect &r)
    {
        auto *b = new QPushButton(parent_);
        b->setObjectName(name);
        b->setAutoDefault(false);
        b->setGeometry(r);
        return b;
    }
    QGroupBox *group(const QString &name, const QString &title, const QRect &r)
    {
        auto *g = new QGroupBox(title, parent_);
        g->setObjectName(name);
        g->setGeometry(r);
        return g;
    }
    QLabel *panel(const QString &name, const QRect &r)
    {
        auto *p = new QLabel(parent_);
        p->setObjectName(name);
        p->setGeometry(r);
        p->setFrameStyle(QFrame::Panel | QFrame::Raised);
        p->setLineWidth(1);
        return p;
    }
    TGauge *gauge(const QString &name, Qt::Orientation o, const QRect &r)
    {
        auto *g = new TGauge(o, parent_);
        g->setObjectName(name);
        g->setGeometry(r);
        return g;
    }
    QLabel *pictureBox(const QString &name, const QRect &r)
    {
        QLabel *l = label(QString(), r, Qt::AlignCenter, name);
        l->setAccessibleName(QStringLiteral("Velto"));
        return l;
    }

private:
    QWidget *parent_;
};

// Field with its label on the left (and an optional unit on the right).
template <typename Field> Field *labelled(Builder &b, Field *field, const QString &labelText, int labelX, int labelW,
                                          const QString &unit = {}, int unitW = 40)
{
    const QRect r = field->geometry();
    b.caption(labelText, QRect(labelX, r.y(), labelW, r.height()), field);
    if (!unit.isEmpty())
        b.caption(unit, QRect(r.right() + 6, r.y(), unitW, r.height()), field);
    return field;
}

// The centre of every word of text, in pixels from the left end of the text.
QList<int> wordCentres(const QFontMetrics &fm, const QString &text)
{
    QList<int> centres;
    for (qsizetype start = 0; start < text.size();) {
        if (text.at(start).isSpace()) {
            ++start;
            continue;
        }
        qsizetype end = start;
        while (end < text.size() && !text.at(end).isSpace())
            ++end;
        const int left = fm.horizontalAdvance(text.left(start));
        const int width = fm.horizontalAdvance(text.mid(start, end - start));
        centres << left + width / 2;
        start = end;
    }
    return centres;
}

// ---- map page ----

struct MapPlace {
    int rowCaptionX; // row captions, 36 wide
    int leftBarX;
    int gridX;
    int rightBarX;
    int rowFieldX;
};
constexpr MapPlace ignitionPlace{6, 44, 56, 378, 390};
constexpr MapPlace injectionPlace{430, 468, 480, 802, 802}; // right bar and row fields share a place

void buildMap(Builder &b, const MapPlace &m, bool ignition)
{
    const QStringList &rowCaptions = ignition ? names::ignitionRowCaptions() : names::injectionRowCaptions();
    const QStringList &colCaptions = ignition ? names::ignitionColumnCaptions() : names::injectionColumnCaptions();
    const QFont cellFont = arial(16);
    for (int r = 0; r < rows; ++r) {
        b.label(QString(), QRect(m.rowCaptionX, gridY + r * cellH, 36, cellH), Qt::AlignRight | Qt::AlignVCenter,
                rowCaptions[r]);
        for (int c = 0; c < cols; ++c) {
            const int k = r * cols + c;
            QLineEdit *cell = b.edit(ignition ? names::ignitionCell(k) : names::injectionCell(k),
                                     QRect(m.gridX + c * cellW, gridY + r * cellH, cellW, cellH));
            cell->setFrame(false);
            cell->setFont(cellFont);
            cell->setAlignment(Qt::AlignCenter);
            cell->setTextMargins(0, 0, 0, 0);
            cell->setAccessibleName((ignition ? QStringLiteral("Ignição") : QStringLiteral("Injeção")) +
                                    QStringLiteral(", linha %1, coluna %2").arg(r + 1).arg(c + 1));
        }
        QLineEdit *rowField = b.edit(ignition ? names::ignitionRowField(r) : names::injectionRowField(r),
                                     QRect(m.rowFieldX, gridY + r * cellH, 32, cellH));
        rowField->setAccessibleName(QStringLiteral("Alteração da linha %1").arg(r + 1));
    }
    for (int c = 0; c < cols; ++c) {
        b.label(QString(), QRect(m.gridX + c * cellW, columnCaptionY, cellW, 16), Qt::AlignCenter, colCaptions[c]);
        QLineEdit *colField = b.edit(ignition ? names::ignitionColumnField(c) : names::injectionColumnField(c),
                                     QRect(m.gridX + c * cellW + 4, columnFieldY, 32, cellH));
        colField->setAccessibleName(QStringLiteral("Alteração da coluna %1").arg(c + 1));
    }

    // Load bars above and below, speed bars left and right.
    const QColor colour = ignition ? QColor(0, 0, 255) : QColor(255, 0, 0);
    const QString top = ignition ? "Gauge8" : "Gauge2";
    const QString bottom = ignition ? "Gauge1" : "Gauge6";
    const QString left = ignition ? "Gauge3" : "Gauge5";
    const QString right = ignition ? "Gauge7" : "Gauge4";
    for (const QString &name : {top, bottom}) {
        TGauge *g = b.gauge(name, Qt::Horizontal,
                            QRect(m.gridX, name == top ? topBarY : bottomBarY, cols * cellW, barThickness));
        g->setFillColor(colour);
        g->setBackColor(Qt::white);
    }
    for (const QString &name : {left, right}) {
        TGauge *g =
            b.gauge(name, Qt::Vertical, QRect(name == left ? m.leftBarX : m.rightBarX, gridY, 10, rows * cellH));
        // The filled part takes the window colour: the coloured part above it grows
        // downwards as the engine speed rises.
        g->setFillColor(Qt::white);
        g->setBackColor(colour);
    }

    QLabel *title = b.panel(ignition ? "pnColunaOkIgn" : "pnColunaOkInj",
                            QRect(m.rowCaptionX, mapTitleY, m.gridX + cols * cellW - m.rowCaptionX, 22));
    title->setFont(arial(12, true));
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    title->setFrameStyle(QFrame::Panel | QFrame::Raised);
    title->setAutoFillBackground(true);
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::Window, QColor(228, 228, 228));
    title->setPalette(titlePalette);
    if (!ignition) {
        auto *unit = new QLabel(title);
        unit->setObjectName(QStringLiteral("Label46"));
        unit->setGeometry(title->width() - 6 - 150, 2, 150, 18);
        unit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        unit->setFont(arial(12, true));
        setTextColor(unit, Qt::red);
    } else {
        QLabel *rpm = b.label(QString(), QRect(m.rowCaptionX, columnCaptionY, 36, 16),
                              Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("StaticText10"));
        rpm->setFont(arial(12, true));
        setTextColor(rpm, Qt::red);
    }
}

void readoutAbove(Builder &b, const QString &name, const QString &caption, int x, int y, int w)
{
    QLineEdit *e = b.edit(name, QRect(x, y + 17, w, 28));
    if (!caption.isEmpty())
        b.caption(caption, QRect(x, y, w, 16), e);
    else
        e->setAccessibleName(QStringLiteral("Correção pela pressão atmosférica"));
}

void readoutBeside(Builder &b, const QString &name, const QString &caption, int x, int y, int labelW, int w)
{
    QLineEdit *e = b.edit(name, QRect(x + labelW + 4, y, w, 28));
    b.caption(caption, QRect(x, y, labelW, 28), e);
}

void buildReadouts(Builder &b)
{
    // Engine: speed, advance, injection, throttle.
    readoutAbove(b, "eRpm", "RPM", 6, 6, 84);
    readoutAbove(b, "eAvanco", "Avanço", 102, 6, 70);
    readoutAbove(b, "eTi", "Ti (mS)                         % de Abertura", 184, 6, 206);
    readoutAbove(b, "eValorTps", "TPS  (Vcc)", 402, 6, 80);
    TGauge *tps = b.gauge("BarraTps", Qt::Horizontal, QRect(494, 23, 180, 28));
    tps->setFillColor(QColor(0, 200, 0));
    tps->setBackColor(Qt::black);
    b.caption("Abertura", QRect(494, 6, 180, 16), tps);

    // Corrections and sensors.
    readoutAbove(b, "eTemperatura", "Temperatura  °C", 6, 58, 96);
    readoutAbove(b, "eCorTemperatura", "%  Ti", 114, 58, 70);
    readoutAbove(b, "eCorAvanco", "Avanço", 196, 58, 70);
    readoutAbove(b, "eAtuadorML", "M. Lenta", 278, 58, 70);
    readoutAbove(b, "ePresAtm", "  mbar  Atm", 360, 58, 70);
    readoutAbove(b, "eCorPresAtm", QString(), 434, 58, 70);

    // Lambda probe and the operating point in the maps.
    constexpr int bandY = columnFieldY + cellH + 30, pitch = 40;
    readoutBeside(b, "eValorSonda", "Sonda  mV", 232, bandY, 80, 74);
    readoutBeside(b, "eCorSondaCurto", "% Curto", 232, bandY + pitch, 80, 74);
    readoutBeside(b, "eCorSondaLongo", "% Longo", 232, bandY + 2 * pitch, 80, 74);
    readoutBeside(b, "eColunaTps", "Coluna do TPS", 480, bandY, 96, 74);
    readoutBeside(b, "eValorMap", "ColunaMAP", 480, bandY + pitch, 96, 74);
    readoutBeside(b, "eLinhaMapa", "Linha Da RPM", 480, bandY + 2 * pitch, 96, 74);

    QGroupBox *info = b.group("GroupBox5", QString(), QRect(6, bandY - 22, 200, 136));
    Builder in(info);
    const char *devices[] = {"eScannerBomba", "eScannerEletro", "eScannerAr"};
    for (int i = 0; i < 3; ++i) {
        QLineEdit *e = in.edit(devices[i], QRect(10, 22 + i * 36, 180, 30));
        e->setAccessibleName(QStringLiteral("Informações"));
    }
}

void buildQuickAcceleration(Builder &b)
{
    QGroupBox *g = b.group("GroupBox3", QString(), QRect(842, mapTitleY, 120, 172));
    Builder in(g);
    QComboBox *source = in.combo("cbRapidaTpsxMap", QRect(8, 40, 104, 24));
    in.caption("Definido por:", QRect(8, 22, 104, 16), source);
    const QFont cellFont = arial(16);
    const struct {
        const char *name;
        const char *caption;
    } fields[] = {{"eBasico", "Curta"}, {"eGanho", "Longa"}, {"eDecremento", "Decremento"}};
    for (int i = 0; i < 3; ++i) {
        QLineEdit *e = in.edit(fields[i].name, QRect(76, 76 + i * 30, 36, 24));
        e->setFont(cellFont);
        e->setAlignment(Qt::AlignCenter);
        labelled(in, e, fields[i].caption, 8, 66);
    }
}

// A read-out of two lines: what runs, then the file (shortened in the middle so that
// its end stays). The text's " — " or first blank divides the lines.
class StatusLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QString t = text();
        qsizetype cut = t.indexOf(QStringLiteral(" — "));
        qsizetype skip = 3;
        if (cut < 0) {
            cut = t.indexOf(u' ');
            skip = 1;
        }
        const QString first = cut < 0 ? t : t.left(cut), second = cut < 0 ? QString() : t.mid(cut + skip);
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect r = contentsRect();
        const QFontMetrics fm = fontMetrics();
        const int flags = int(Qt::AlignRight | Qt::AlignTop);
        p.drawText(r, flags, fm.elidedText(first, Qt::ElideMiddle, r.width()));
        p.drawText(r.adjusted(0, fm.lineSpacing(), 0, 0), flags, fm.elidedText(second, Qt::ElideMiddle, r.width()));
    }
};

// The group's state in the free corner above it, the last marker in the free space
// beside "Reproduzir"; the speed is a fixed list.
void buildDatalogStatus(QGroupBox *group, Builder &in, QComboBox *speed)
{
    speed->setEditable(false);
    auto *status = new StatusLabel(group->parentWidget());
    status->setObjectName(QStringLiteral("lbEstadoRegistro"));
    status->setGeometry(group->geometry().right() - 150, group->y() - 34, 151, 32);
    status->setAccessibleName(QStringLiteral("Estado do registro"));
    QLabel *marker = in.label(QString(), QRect(102, 84, 60, 26), Qt::AlignCenter, QStringLiteral("lbUltimaMarca"));
    marker->setAccessibleName(QStringLiteral("Última marca"));
}

// Record the live run and play a log back; right of the operating-point read-outs.
void buildDatalogGroup(Builder &b)
{
    constexpr int bandY = columnFieldY + cellH + 30;
    QGroupBox *g = b.group("GroupBoxRegistro", QStringLiteral(" Registro "), QRect(662, bandY - 22, 300, 194));
    Builder in(g);
    in.button("btnGravar", QRect(8, 20, 90, 26));
    in.button("btnParar", QRect(104, 20, 90, 26));
    in.button("btnMarcar", QRect(200, 20, 92, 26));
    in.button("btnAbrirRegistro", QRect(8, 52, 140, 26));
    in.button("btnFecharRegistro", QRect(152, 52, 140, 26));
    in.button("btnReproduzir", QRect(8, 84, 90, 26));
    QComboBox *speed = in.combo("cbVelocidade", QRect(238, 84, 54, 26), nullptr, true);
    in.caption("Velocidade", QRect(164, 84, 70, 26), speed, Qt::AlignRight | Qt::AlignVCenter);
    auto *slider = new QSlider(Qt::Horizontal, g);
    slider->setObjectName(QStringLiteral("tbPosicao"));
    slider->setGeometry(60, 116, 116, 26);
    in.caption("Posição", QRect(8, 116, 50, 26), slider);
    QLineEdit *position = in.edit("ePosicaoRegistro", QRect(180, 116, 112, 26));
    position->setReadOnly(true);
    position->setAccessibleName(QStringLiteral("Posição no registro"));
    auto *markers = new QListWidget(g);
    markers->setObjectName(QStringLiteral("lbMarcas"));
    markers->setGeometry(60, 148, 232, 40);
    in.caption("Marcas", QRect(8, 148, 50, 26), markers);
    buildDatalogStatus(g, in, speed);
}

void buildMapEditGroup(Builder &b)
{
    QGroupBox *g = b.group("GroupBox10", QString(), QRect(6, 592, 956, 84));
    Builder in(g);
    QFont bold = arial(12, true);

    QLineEdit *ign = in.edit("eAltera", QRect(226, 22, 32, 22));
    in.caption("Alterar todo o Mapa de Ignição ", QRect(40, 22, 182, 22), ign, Qt::AlignRight | Qt::AlignVCenter);
    in.caption("Graus", QRect(262, 22, 44, 22), ign);
    QLineEdit *inj = in.edit("eAlterar", QRect(650, 22, 32, 22));
    in.caption("Alterar todo o Mapa de Injeção ", QRect(464, 22, 182, 22), inj, Qt::AlignRight | Qt::AlignVCenter);
    in.caption("%", QRect(686, 22, 20, 22), inj);
    for (QLineEdit *e : {ign, inj}) {
        e->setFont(bold);
        e->setAlignment(Qt::AlignCenter);
    }

    in.button("btnAlterar", QRect(826, 18, 120, 28));
    in.button("btnPercentual", QRect(40, 52, 290, 26));
    in.button("btnmS", QRect(464, 52, 250, 26));
    QPushButton *back = in.button("btnVoltarTelaPrincipal", QRect(736, 52, 210, 26));
    back->setFont(bold);
    setTextColor(back, Qt::red);
}

QLabel *busyPanel(Builder &b, const QString &name, const QString &barName, const QString &pictureName)
{
    constexpr int w = 300, h = 192;
    QLabel *p = b.panel(name, QRect((pageWidth - w) / 2, (pageHeight - h) / 2, w, h));
    p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    p->setLineWidth(2);
    p->setAutoFillBackground(true);
    QPalette pal = p->palette();
    pal.setColor(QPalette::Window, QColor(200, 200, 200)); // scroll-bar grey
    p->setPalette(pal);
    Builder in(p);
    QLabel *title =
        in.label(QStringLiteral("Aguarde !"), QRect(12, 8, 276, 36), Qt::AlignCenter, name + QStringLiteral("Titulo"));
    title->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    title->setFont(arial(22, true));
    setTextColor(title, Qt::red);
    TGauge *bar = in.gauge(barName, Qt::Horizontal, QRect(12, 50, 276, 20));
    bar->setFillColor(QColor(0, 0, 160));
    bar->setBackColor(Qt::white);
    in.pictureBox(pictureName, QRect(12, 78, pictureWidth, pictureHeight));
    return p;
}

// ---- configuration page ----

void buildCommunication(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxComunicacao", QStringLiteral(" Comunicação "), QRect(8, 8, 310, 98));
    Builder in(g);
    QComboBox *port = in.combo("cbPorta", QRect(12, 24, 286, 26), new TPortCombo(g));
    port->setAccessibleName(QStringLiteral("Porta de comunicação"));
    in.button("btnAtivar", QRect(12, 58, 138, 30));
    in.button("btnDesativar", QRect(160, 58, 138, 30));
}

void buildSettings(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxConfiguracoes", QStringLiteral(" Configurações "), QRect(8, 114, 310, 318));
    Builder in(g);
    const struct {
        const char *name;
        const char *label;
        bool combo;
        int width;
    } fields[] = {
        {"cbCombinacaoMapa", "Combinação dos Mapas", true, 132},
        {"cbTipoRodaFonica", "Tipo de Roda Fônica", true, 132},
        {"cbDentesPms", "Dente PMS", true, 70},
        {"cbEscalaRpm", "Escala de RPM Mapa", true, 90},
        {"eLimiteRpm", "Limite de RPM", false, 70},
        {"eTempoCarga", "Tempo de Carga (mS)", false, 70},
        {"cbPontoZero", "Ponto  Zero", true, 70},
        {"eAvancoPartida", "Avanço na Partida", false, 70},
    };
    int y = 26;
    for (const auto &f : fields) {
        const QRect r(156, y, f.width, 24);
        QWidget *w = f.combo ? static_cast<QWidget *>(in.combo(f.name, r)) : in.edit(f.name, r);
        in.caption(f.label, QRect(12, y, 140, 24), w);
        y += 30;
    }
    in.button("btnConfigurarTps", QRect(12, y + 10, 286, 32));
}

void buildLambda(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxSonda", QStringLiteral(" Sonda Lambda "), QRect(326, 8, 316, 210));
    Builder in(g);
    labelled(in, in.combo("cbSondaTipo", QRect(116, 26, 188, 24)), "Tipo de sensor", 12, 100);
    labelled(in, in.combo("cbSondaCorrecao", QRect(116, 56, 90, 24)), "Definido por:", 12, 100);
    QLineEdit *temp = in.edit("eSondaTemp", QRect(116, 86, 50, 24));
    in.caption("°C", QRect(170, 86, 30, 24), temp);
    labelled(in, in.combo("cbSondaAtiva", QRect(116, 116, 188, 24)), "Atividade", 12, 100);

    // Three targets under the words of one heading.
    const QString heading = QStringLiteral("Lenta  Parcial  Plena");
    const QFont headingFont = arial(13);
    const QList<int> centres = wordCentres(QFontMetrics(headingFont), heading);
    const int headingX = 116, boxY = 170, boxW = 40;
    QLabel *top = in.label(heading, QRect(headingX, 150, QFontMetrics(headingFont).horizontalAdvance(heading) + 4, 18));
    top->setFont(headingFont);
    const char *targets[] = {"eSondaLenta", "eSondaParcial", "eSondaPlena"};
    QLineEdit *boxes[3];
    for (int i = 0; i < 3; ++i)
        boxes[i] = in.edit(targets[i], QRect(headingX + centres.value(i) - boxW / 2, boxY, boxW, 24));
    top->setBuddy(boxes[1]);
    in.caption("Valor Alvo", QRect(12, boxY, 100, 24), boxes[0]);
    in.caption("mV", QRect(boxes[2]->geometry().right() + 6, boxY, 30, 24), boxes[2]);
    const char *accessible[] = {"Valor Alvo Lenta (mV)", "Valor Alvo Parcial (mV)", "Valor Alvo Plena (mV)"};
    for (int i = 0; i < 3; ++i)
        boxes[i]->setAccessibleName(QString::fromUtf8(accessible[i]));
}

void buildFan(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxEletro", QStringLiteral("  Eletro  Ventilador "), QRect(326, 226, 316, 148));
    Builder in(g);
    const char *names[] = {"eLigaEletro", "eDesligaEletro", "emSCorrecaoEletro", "ePercEletro"};
    const char *labels[] = {"°C Liga", "°C Desliga", "mS Ti", "%  Atuador M. Lenta"};
    for (int i = 0; i < 4; ++i)
        labelled(in, in.edit(names[i], QRect(156, 26 + i * 30, 50, 24)), QString::fromUtf8(labels[i]), 12, 140);
}

void buildAirConditioning(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxAr", QStringLiteral(" Ar Condic. "), QRect(650, 326, 312, 90));
    Builder in(g);
    labelled(in, in.edit("emSAr", QRect(146, 26, 60, 24)), "Incrementa Ti", 12, 130, "ms");
    labelled(in, in.edit("ePercentualAr", QRect(146, 56, 60, 24)), "Abre Atuador", 12, 130, "%");
}

void buildCutOff(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxCutOff", QStringLiteral(" Cut Off "), QRect(650, 120, 312, 90));
    Builder in(g);
    labelled(in, in.edit("eDeslCutOff", QRect(146, 26, 60, 24)), "Desl. os Injet.", 12, 130, "RPM");
    labelled(in, in.edit("eLigaCutOff", QRect(146, 56, 60, 24)), "Liga os Injet.", 12, 130, "RPM");
}

void buildAtmosphere(Builder &b)
{
    QGroupBox *g = b.group("GroupBoxPressao", QStringLiteral(" Pressão  Atmosférica "), QRect(650, 218, 312, 96));
    Builder in(g);
    const QString heading = QStringLiteral(" 820    880     940   1000");
    const QFont headingFont = arial(16);
    const QFontMetrics fm(headingFont);
    const int headingX = 40;
    QLabel *top = in.label(heading, QRect(headingX, 24, fm.horizontalAdvance(heading) + 4, 20));
    top->setFont(headingFont);
    const QList<int> centres = wordCentres(fm, heading);
    const char *fields[] = {"eAtm820", "eAtm880", "eAtm940", "eAtm1000"};
    const char *pressures[] = {"820", "880", "940", "1000"};
    QLineEdit *last = nullptr;
    for (int i = 0; i < 4; ++i) {
        last = in.edit(fields[i], QRect(headingX + centres.value(i) - 18, 50, 36, 24));
        last->setAccessibleName(QStringLiteral("% do Ti a %1 mbar").arg(pressures[i]));
        if (i == 0)
            top->setBuddy(last);
    }
    in.label("mbar", QRect(top->geometry().right() + 6, 24, 40, 20));
    in.caption("% do Ti", QRect(last->geometry().right() + 8, 50, 60, 24), last);
}

void buildTemperatureCorrections(Builder &b)
{
    QGroupBox *g =
        b.group("GroupBoxCorrecoes", QStringLiteral(" Correções Por Temperatura do Motor "), QRect(8, 446, 634, 174));
    Builder in(g);
    const QString heading = QStringLiteral("       0       15       30      45       60      75      90      105 °C");
    const QFont headingFont = arial(14);
    const QFontMetrics fm(headingFont);
    const int headingX = 156;
    in.label(QStringLiteral("Temperatura da água"), QRect(headingX, 22, 200, 16));
    QLabel *top = in.label(heading, QRect(headingX, 42, fm.horizontalAdvance(heading) + 4, 18));
    top->setFont(headingFont);
    const QList<int> centres = wordCentres(fm, heading);
    const QStringList temps = {"0", "15", "30", "45", "60", "75", "90", "105"};
    const struct {
        const char *prefix;
        const char *label;
        const char *unit;
    } rowsOf[] = {{"eCorrecaoTi", "Correção Ti", "%"},
                  {"eCorrecaoIg", "Correção Avanço", "Graus"},
                  {"eCorrecaoMl", " Atuador de M. lenta", "%"}};
    int y = 68;
    for (const auto &row : rowsOf) {
        QLineEdit *first = nullptr, *last = nullptr;
        for (int i = 0; i < 8; ++i) {
            last =
                in.edit(QString::fromUtf8(row.prefix) + temps[i], QRect(headingX + centres.value(i) - 17, y, 34, 24));
            last->setAccessibleName(QString::fromUtf8(row.label).trimmed() + QStringLiteral(" a ") + temps[i] +
                                    QStringLiteral(" °C"));
            if (i == 0)
                first = last;
        }
        in.caption(QString::fromUtf8(row.label), QRect(12, y, 140, 24), first);
        in.caption(QString::fromUtf8(row.unit), QRect(last->geometry().right() + 8, y, 50, 24), last);
        y += 32;
    }
    if (!centres.isEmpty())
        top->setBuddy(g->findChild<QLineEdit *>(QStringLiteral("eCorrecaoTi0")));
}

// Undo, redo and the unsaved-changes label, on each page in a place of its own.
struct HistoryPlace {
    QRect label, undo, redo;
    const char *suffix; // "" on the map page, "1" on the configuration page
};

void buildHistoryControls(Builder &b, const HistoryPlace &place)
{
    const QString suffix = QString::fromLatin1(place.suffix);
    QLabel *unsaved = b.label(QString::fromUtf8("Alterações não salvas"), place.label, Qt::AlignCenter,
                              QStringLiteral("lbNaoSalvo") + suffix);
    unsaved->setFont(arial(12, true));
    setTextColor(unsaved, Qt::red);
    unsaved->setVisible(false);
    QPushButton *undo = b.button(QStringLiteral("btnDesfazer") + suffix, place.undo);
    undo->setText(QStringLiteral("Desfazer"));
    undo->setToolTip(QString::fromUtf8("Desfaz a última alteração dos dados da tela (Ctrl+Z)."));
    undo->setEnabled(false);
    QPushButton *redo = b.button(QStringLiteral("btnRefazer") + suffix, place.redo);
    redo->setText(QStringLiteral("Refazer"));
    redo->setToolTip(QString::fromUtf8("Refaz a alteração desfeita (Ctrl+Y ou Ctrl+Shift+Z)."));
    redo->setEnabled(false);
}

} // namespace

QFont windowFont() { return arial(12); }

QStringList historyControls()
{
    return {"lbNaoSalvo", "btnDesfazer", "btnRefazer", "lbNaoSalvo1", "btnDesfazer1", "btnRefazer1", "btnComparar"};
}

QStringList pictureBoxes() { return {"Image1", "Image2", "Image3", "Image4"}; }

QStringList readouts()
{
    return {"eRpm",           "eAvanco",       "eTi",
            "eValorTps",      "ePresAtm",      "eCorPresAtm",
            "eAtuadorML",     "eTemperatura",  "eCorTemperatura",
            "eCorAvanco",     "eValorSonda",   "eCorSondaCurto",
            "eCorSondaLongo", "eColunaTps",    "eValorMap",
            "eLinhaMapa",     "eScannerBomba", "eScannerEletro",
            "eScannerAr"};
}

void buildMapPage(QWidget *page)
{
    Builder b(page);
    buildMap(b, ignitionPlace, true);
    buildMap(b, injectionPlace, false);
    buildReadouts(b);
    buildQuickAcceleration(b);
    buildDatalogGroup(b);
    b.button("btnCorrecao", QRect(846, 330, 116, 30)); // below " Aceler. Rápida ", free in every mode
    b.pictureBox("Image1", QRect(pageWidth - 6 - pictureWidth, 6, pictureWidth, pictureHeight));

    // The buttons of the page; the map edit group takes their place while it is open.
    const char *buttons[] = {"btnCarregar", "btnSalvar", "btnAlterarMapas", "Button6", "Button8", "Button3"};
    constexpr int bw = 146, gap = 10, count = 6;
    const int x0 = (pageWidth - (count * bw + (count - 1) * gap)) / 2;
    for (int i = 0; i < count; ++i)
        b.button(buttons[i], QRect(x0 + i * (bw + gap), 612, bw, 36));
    buildMapEditGroup(b);
    // Between the second row of read-outs and the picture, free in every mode.
    buildHistoryControls(b, {QRect(512, 58, 168, 18), QRect(512, 80, 82, 28), QRect(598, 80, 82, 28), ""});
    busyPanel(b, "pnAguarde", "pbCarregando1", "Image3");
    buildMapPageTools(page);
}

void buildConfigPage(QWidget *page)
{
    Builder b(page);
    buildCommunication(b);
    buildSettings(b);
    buildLambda(b);
    buildFan(b);
    buildAirConditioning(b);
    buildCutOff(b);
    buildAtmosphere(b);
    buildTemperatureCorrections(b);
    b.pictureBox("Image2", QRect(pageWidth - 6 - pictureWidth, 8, pictureWidth, pictureHeight));
    b.button("Button2", QRect(650, 534, 150, 36));
    b.button("Button1", QRect(812, 534, 150, 36));
    b.button("btnLerDados", QRect(650, 584, 150, 36));
    b.button("btnEnvia", QRect(812, 584, 150, 36));
    // Above the file buttons, below " Ar Condic. ".
    buildHistoryControls(b, {QRect(650, 426, 312, 20), QRect(650, 450, 150, 32), QRect(812, 450, 150, 32), "1"});
    QPushButton *compare = b.button("btnComparar", QRect(650, 490, 312, 34));
    compare->setText(QStringLiteral("Com&parar"));
    compare->setToolTip(QString::fromUtf8("Compara os dados da tela com um arquivo do computador."));
    // The vehicle's history, below "  Eletro  Ventilador ", free in every mode.
    QLineEdit *vehicle = b.edit("eVeiculo", QRect(388, 382, 254, 24));
    vehicle->setReadOnly(true);
    vehicle->setPlaceholderText(QStringLiteral("nenhum aberto"));
    b.caption(QStringLiteral("Veículo"), QRect(326, 382, 58, 24), vehicle);
    QPushButton *open = b.button("btnAbrirVeiculo", QRect(326, 412, 154, 28));
    open->setText(QStringLiteral("Abrir veículo…"));
    open->setToolTip(QStringLiteral("Abre (ou cria) o histórico de um veículo: cada envio, leitura, arquivo e "
                                    "correção vira uma entrada."));
    QPushButton *entries = b.button("btnHistorico", QRect(488, 412, 154, 28));
    entries->setText(QStringLiteral(" Histórico "));
    entries->setToolTip(QStringLiteral("Mostra as entradas do veículo aberto."));
    entries->setEnabled(false);
    busyPanel(b, "Panel1", "pbCarregando", "Image4");
}

void buildHiddenControls(QWidget *form)
{
    Builder b(form);
    b.edit("eRepousoTps", QRect(8, 680, 40, 21));
    b.edit("eLeitura", QRect(52, 680, 40, 21));
    auto *list = new QListWidget(form);
    list->setObjectName(QStringLiteral("ListBox1"));
    list->setGeometry(100, 600, 200, 100);
    int x = 8;
    for (const char *name :
         {"Label1", "Label3", "Label48", "Label51", "Label52", "Label89", "Label90", "Label91", "Label92", "Label54"}) {
        b.label(QString(), QRect(x, 660, 60, 16), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(name));
        x += 64;
    }
}

} // namespace layout
