#include "app/correctiondialog.h"

#include "common/numtext.h"
#include "core/controller.h"
#include "datalog/datalog.h"
#include "datalog/vehiclelogs.h"
#include "maps/axes.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

using namespace correction;

namespace {

constexpr int refreshMs = 200; // at most five refreshes a second

QString decimal(double v, int decimals) { return numtext::formatFixed(v, decimals); }

QColor background(CellState state)
{
    switch (state) {
    case CellState::Added: return QColor(60, 110, 230);
    case CellState::Removed: return QColor(220, 55, 55);
    case CellState::TooFewHits: return QColor(175, 175, 175);
    case CellState::FullLoad: return QColor(250, 215, 120);
    case CellState::Neighbours: return QColor(225, 215, 245);
    case CellState::Unchanged: break;
    }
    return QColor(Qt::white);
}

QColor pointBackground(PointState state)
{
    switch (state) {
    case PointState::Added: return background(CellState::Added);
    case PointState::Removed: return background(CellState::Removed);
    case PointState::TooFew:
    case PointState::NoClosedLoop: return background(CellState::TooFewHits);
    case PointState::Unchanged: break;
    }
    return QColor(Qt::white);
}

QSpinBox *intBox(int low, int high, const QString &suffix = {})
{
    auto *b = new QSpinBox;
    b->setRange(low, high);
    b->setSuffix(suffix);
    b->setKeyboardTracking(false);
    return b;
}

QDoubleSpinBox *decimalBox(double low, double high, int decimals, const QString &suffix = {})
{
    auto *b = new QDoubleSpinBox;
    b->setRange(low, high);
    b->setDecimals(decimals);
    b->setSuffix(suffix);
    b->setKeyboardTracking(false);
    return b;
}

// A caption with its field as buddy.
QLabel *caption(const QString &text, QWidget *field)
{
    auto *l = new QLabel(text);
    l->setBuddy(field);
    return l;
}

} // namespace

QString CorrectionDialog::title() { return QString::fromUtf8(" Correção assistida do mapa de injeção "); }

CorrectionDialog::CorrectionDialog(Controller &controller, Prompt &prompt,
                                   std::function<void(const std::function<void()> &)> guard, QWidget *parent)
    : QDialog(parent),
      controller_(controller),
      prompt_(prompt),
      guard_(std::move(guard)),
      session_(controller)
{
    setObjectName(QStringLiteral("CorrectionDialog"));
    setWindowTitle(title());
    setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    build();
    refresh_ = new QTimer(this);
    refresh_->setInterval(refreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] { refreshTick(); });
    refresh_->start();
    showResult();
}

void CorrectionDialog::build()
{
    auto *top = new QHBoxLayout;
    open_ = new QPushButton(QString::fromUtf8("Abrir registros…"));
    open_->setObjectName(QStringLiteral("btnAbrirRegistros"));
    live_ = new QCheckBox(QStringLiteral("Acumular ao vivo"));
    live_->setObjectName(QStringLiteral("cbAoVivo"));
    live_->setToolTip(QString::fromUtf8("Com o Scanner ativo, junta as leituras ao vivo, relativas ao mapa enviado "
                                        "ao módulo ou lido dele."));
    source_ = new QLabel;
    source_->setObjectName(QStringLiteral("lbFonte"));
    source_->setWordWrap(true);
    top->addWidget(open_);
    top->addWidget(live_);
    top->addWidget(source_, 1);
    connect(open_, &QPushButton::clicked, this, [this] { guard_([this] { btnAbrirRegistrosClick(); }); });
    connect(live_, &QCheckBox::clicked, this, [this] { guard_([this] { cbAoVivoClick(); }); });

    // The open vehicle's logs, below the sources; hidden while no vehicle is open.
    vehicleRow_ = new QWidget;
    vehicleRow_->setObjectName(QStringLiteral("pnRegistrosVeiculo"));
    auto *vehicleRow = new QHBoxLayout(vehicleRow_);
    vehicleRow->setContentsMargins(0, 0, 0, 0);
    vehicleLogs_ = new QListWidget;
    vehicleLogs_->setObjectName(QStringLiteral("lwRegistrosVeiculo"));
    vehicleLogs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    vehicleLogs_->setFixedHeight(4 * vehicleLogs_->fontMetrics().height() + 12);
    auto *vehicleCaption = new QLabel(QString::fromUtf8("Registros do &veículo\n(os desta entrada primeiro):"));
    vehicleCaption->setBuddy(vehicleLogs_);
    openSelected_ = new QPushButton(QString::fromUtf8("Abrir se&lecionados"));
    openSelected_->setObjectName(QStringLiteral("btnAbrirSelecionados"));
    openSelected_->setAutoDefault(false);
    vehicleRow->addWidget(vehicleCaption);
    vehicleRow->addWidget(vehicleLogs_, 1);
    vehicleRow->addWidget(openSelected_, 0, Qt::AlignTop);
    vehicleRow_->setVisible(false);
    connect(openSelected_, &QPushButton::clicked, this, [this] { guard_([this] { btnAbrirSelecionadosClick(); }); });
    connect(vehicleLogs_, &QListWidget::itemActivated, this,
            [this] { guard_([this] { btnAbrirSelecionadosClick(); }); });

    table_ = new QTableWidget(9, 8);
    table_->setObjectName(QStringLiteral("twSugestao"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    constexpr int columnWidth = 62, rowHeight = 46, rowCaptionWidth = 52;
    table_->horizontalHeader()->setDefaultSectionSize(columnWidth);
    table_->verticalHeader()->setDefaultSectionSize(rowHeight);
    table_->verticalHeader()->setFixedWidth(rowCaptionWidth);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int k = 0; k < cellCount; ++k) {
        auto *item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        table_->setItem(k / 8, k % 8, item);
    }
    const int frame = 2 * table_->frameWidth();
    table_->setFixedSize(rowCaptionWidth + 8 * columnWidth + frame,
                         table_->horizontalHeader()->sizeHint().height() + 9 * rowHeight + frame);
    table_->setToolTip(QString::fromUtf8("Cada célula: valor sugerido (mS), mudança em %, amostras."));

    auto *legend = new QHBoxLayout;
    const std::pair<CellState, const char *> keys[] = {
        {CellState::Added, "mais combustível"},           {CellState::Removed, "menos combustível"},
        {CellState::TooFewHits, "poucas amostras"},       {CellState::Unchanged, "sem mudança"},
        {CellState::FullLoad, "plena: a sonda não mede"}, {CellState::Neighbours, "dados de vizinhas"}};
    for (const auto &[state, text] : keys) {
        auto *l = new QLabel(QString::fromUtf8(text));
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, background(state));
        p.setColor(QPalette::WindowText,
                   state == CellState::Added || state == CellState::Removed ? Qt::white : Qt::black);
        l->setPalette(p);
        l->setContentsMargins(6, 2, 6, 2);
        legend->addWidget(l);
    }
    legend->addStretch();

    sentence_ = new QLabel;
    sentence_->setObjectName(QStringLiteral("lbFrase"));
    sentence_->setWordWrap(true);
    QFont bold = sentence_->font();
    bold.setBold(true);
    sentence_->setFont(bold);
    summary_ = new QLabel;
    summary_->setObjectName(QStringLiteral("lbResumo"));
    applied_ = new QLabel;
    applied_->setObjectName(QStringLiteral("lbAplicadas"));

    auto *left = new QVBoxLayout;
    left->addWidget(table_);
    left->addLayout(legend);
    left->addWidget(summary_);
    left->addWidget(sentence_);
    left->addWidget(applied_);
    left->addStretch();

    auto *middle = new QHBoxLayout;
    middle->addLayout(left);
    middle->addWidget(buildFilters(), 1);

    auto *buttons = new QHBoxLayout;
    applySelected_ = new QPushButton(QStringLiteral("Aplicar selecionadas"));
    applySelected_->setObjectName(QStringLiteral("btnAplicarSelecionadas"));
    applyAll_ = new QPushButton(QStringLiteral("Aplicar todas"));
    applyAll_->setObjectName(QStringLiteral("btnAplicarTodas"));
    auto *close = new QPushButton(QStringLiteral("Fechar"));
    close->setObjectName(QStringLiteral("btnFecharCorrecao"));
    for (QPushButton *b : {applySelected_, applyAll_, close})
        b->setAutoDefault(false);
    auto *note = new QLabel(QString::fromUtf8("Aplicar escreve no mapa de injeção da tela; nada é enviado ao módulo."));
    buttons->addWidget(note, 1);
    buttons->addWidget(applySelected_);
    buttons->addWidget(applyAll_);
    buttons->addWidget(close);
    connect(applySelected_, &QPushButton::clicked, this, [this] { guard_([this] { btnAplicarSelecionadasClick(); }); });
    connect(applyAll_, &QPushButton::clicked, this, [this] { guard_([this] { btnAplicarTodasClick(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { showResult(); });

    auto *mapPage = new QWidget;
    mapPage->setLayout(middle);
    auto *pages = new QTabWidget;
    pages->setObjectName(QStringLiteral("tabCorrecao"));
    pages->addTab(mapPage, QString::fromUtf8(" Mapa de injeção "));
    pages->addTab(buildWarmUpPage(), QString::fromUtf8(" Aquecimento "));

    auto *all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(vehicleRow_);
    all->addWidget(pages);
    all->addLayout(buttons);
}

QWidget *CorrectionDialog::buildFilters()
{
    const Settings d;
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);

    auto *filters = new QGroupBox(QStringLiteral(" Filtros "));
    auto *g = new QGridLayout(filters);
    minTemperature_ = intBox(-40, 150, QString::fromUtf8(" °C"));
    minRpm_ = intBox(0, 20000, QStringLiteral(" RPM"));
    maxTpsMove_ = intBox(1, 1023);
    tpsWindow_ = intBox(0, 10000, QStringLiteral(" ms"));
    steadyCell_ = intBox(0, 10000, QStringLiteral(" ms"));
    minProbe_ = intBox(0, 2550, QStringLiteral(" mV"));
    maxProbe_ = intBox(0, 2550, QStringLiteral(" mV"));
    for (int f = 0; f < FilterCount; ++f) {
        auto *count = new QLabel;
        count->setObjectName(QStringLiteral("lbRejeitadas%1").arg(f));
        count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        count->setMinimumWidth(70);
        rejected_ << count;
    }
    int row = 0;
    auto line = [&](QLabel *label, QWidget *a, QWidget *b, Filter f) {
        g->addWidget(label, row, 0);
        if (a)
            g->addWidget(a, row, 1);
        if (b)
            g->addWidget(b, row, 2);
        g->addWidget(rejected_[f], row, 3);
        ++row;
    };
    g->addWidget(new QLabel(QStringLiteral("Regra")), row, 0);
    g->addWidget(new QLabel(QStringLiteral("Rejeitadas")), row++, 3, Qt::AlignRight);
    line(caption(QString::fromUtf8("Motor a partir de"), minTemperature_), minTemperature_, nullptr, Temperature);
    line(caption(QStringLiteral("RPM a partir de"), minRpm_), minRpm_, nullptr, Speed);
    line(new QLabel(QString::fromUtf8("Injeção cortada (Ti 0)")), nullptr, nullptr, CutOff);
    line(caption(QString::fromUtf8("TPS move menos de"), maxTpsMove_), maxTpsMove_, tpsWindow_, Throttle);
    line(caption(QString::fromUtf8("Na mesma célula há"), steadyCell_), steadyCell_, nullptr, Position);
    line(caption(QStringLiteral("Sonda entre"), minProbe_), minProbe_, maxProbe_, Probe);
    line(new QLabel(QString::fromUtf8("Motor aquecendo, eletro ou ar")), nullptr, nullptr, Warming);
    line(new QLabel(QString::fromUtf8("Correção da sonda desligada")), nullptr, nullptr, LoopOff);
    line(new QLabel(QString::fromUtf8("Valores inválidos")), nullptr, nullptr, BadValues);
    probeDelay_ = intBox(0, 10000, QStringLiteral(" ms"));
    probeDelay_->setToolTip(QString::fromUtf8("Depois de mudar de célula, a linha só conta quando a sonda, vista "
                                              "esse tempo depois, cruzou o alvo (Lenta, Parcial ou Plena)."));
    line(caption(QString::fromUtf8("Sonda cruzou o alvo, atraso"), probeDelay_), probeDelay_, nullptr, Settling);
    tpsWindow_->setToolTip(QString::fromUtf8("Tempo em que o TPS deve mover menos que o valor ao lado."));
    maxProbe_->setToolTip(QString::fromUtf8("Tensão máxima da sonda."));

    auto *rules = new QGroupBox(QString::fromUtf8(" Sugestão "));
    auto *r = new QGridLayout(rules);
    minHits_ = decimalBox(1, 1e6, 0); // a count of rows: a whole number
    deadBand_ = decimalBox(0, 25, 1, QStringLiteral(" %"));
    maxChange_ = decimalBox(0, Settings::maxChangeLimit, 1, QStringLiteral(" %"));
    r->addWidget(caption(QString::fromUtf8("Amostras mínimas por célula"), minHits_), 0, 0);
    r->addWidget(minHits_, 0, 1);
    r->addWidget(caption(QString::fromUtf8("Faixa morta (±)"), deadBand_), 1, 0);
    r->addWidget(deadBand_, 1, 1);
    r->addWidget(caption(QString::fromUtf8("Mudança máxima por rodada (±)"), maxChange_), 2, 0);
    r->addWidget(maxChange_, 2, 1);
    minOwnShare_ = decimalBox(0, 1, 2);
    minOwnShare_->setToolTip(QString::fromUtf8("Abaixo disto as linhas da célula caíram perto das vizinhas: sem "
                                               "mudança, ela fica marcada \"dados de vizinhas\"."));
    r->addWidget(caption(QString::fromUtf8("Parte própria mínima"), minOwnShare_), 3, 0);
    r->addWidget(minOwnShare_, 3, 1);
    fullLoadColumn_ = intBox(1, 9);
    fullLoadColumn_->setToolTip(QString::fromUtf8("Da coluna de carga indicada em diante a sonda comum não mede: "
                                                  "ali nada perde combustível (9: nenhuma coluna)."));
    r->addWidget(caption(QString::fromUtf8("Carga plena a partir da coluna"), fullLoadColumn_), 4, 0);
    r->addWidget(fullLoadColumn_, 4, 1);
    leanFullLoad_ = new QCheckBox(QString::fromUtf8("Tirar combustível da carga plena nesta rodada"));
    r->addWidget(leanFullLoad_, 5, 0, 1, 2);
    warmRowsOnly_ = new QCheckBox(QString::fromUtf8("Só motor quente (CorrTemp quente, eletro e ar desligados)"));
    r->addWidget(warmRowsOnly_, 6, 0, 1, 2);
    loopInControl_ = new QCheckBox(QString::fromUtf8("Só com a correção da sonda atuando"));
    r->addWidget(loopInControl_, 7, 0, 1, 2);
    loopSettled_ = new QCheckBox(QString::fromUtf8("Só depois de a sonda cruzar o alvo na célula"));
    r->addWidget(loopSettled_, 8, 0, 1, 2);

    const std::pair<QWidget *, const char *> named[] = {{minTemperature_, "sbTemperatura"},
                                                        {minRpm_, "sbRpm"},
                                                        {maxTpsMove_, "sbTps"},
                                                        {tpsWindow_, "sbTempoTps"},
                                                        {steadyCell_, "sbCelula"},
                                                        {minProbe_, "sbSondaMin"},
                                                        {maxProbe_, "sbSondaMax"},
                                                        {minHits_, "sbAcertos"},
                                                        {deadBand_, "sbFaixaMorta"},
                                                        {maxChange_, "sbMudancaMaxima"},
                                                        {minOwnShare_, "sbPartePropria"},
                                                        {fullLoadColumn_, "sbColunaPlena"},
                                                        {leanFullLoad_, "cbPlenaPobre"},
                                                        {warmRowsOnly_, "cbSoQuente"},
                                                        {loopInControl_, "cbMalhaAtiva"},
                                                        {probeDelay_, "sbAtrasoSonda"},
                                                        {loopSettled_, "cbSondaCruzou"}};
    for (const auto &[w, name] : named)
        w->setObjectName(QString::fromLatin1(name));

    showSettings(d);
    for (QSpinBox *b : {minTemperature_, minRpm_, maxTpsMove_, tpsWindow_, steadyCell_, minProbe_, maxProbe_,
                        fullLoadColumn_, probeDelay_})
        connect(b, &QSpinBox::valueChanged, this, [this] { settingsChanged(); });
    for (QDoubleSpinBox *b : {minHits_, deadBand_, maxChange_, minOwnShare_})
        connect(b, &QDoubleSpinBox::valueChanged, this, [this] { settingsChanged(); });
    for (QCheckBox *b : {leanFullLoad_, warmRowsOnly_, loopInControl_, loopSettled_})
        connect(b, &QCheckBox::toggled, this, [this] { settingsChanged(); });

    column->addWidget(filters);
    column->addWidget(rules);
    column->addStretch();
    return box;
}

void CorrectionDialog::showSettings(const Settings &d)
{
    updating_ = true;
    minTemperature_->setValue(d.minTemperature);
    minRpm_->setValue(d.minRpm);
    maxTpsMove_->setValue(d.maxTpsMove);
    tpsWindow_->setValue(d.tpsWindowMs);
    steadyCell_->setValue(d.steadyCellMs);
    minProbe_->setValue(d.minProbeMv);
    maxProbe_->setValue(d.maxProbeMv);
    minHits_->setValue(d.minHits);
    deadBand_->setValue(d.deadBand);
    maxChange_->setValue(d.maxChange);
    minOwnShare_->setValue(d.minOwnShare);
    fullLoadColumn_->setValue(d.fullLoadFrom + 1);
    leanFullLoad_->setChecked(d.leanFullLoad);
    warmRowsOnly_->setChecked(d.warmRowsOnly);
    loopInControl_->setChecked(d.loopInControl);
    loopSettled_->setChecked(d.loopSettled);
    probeDelay_->setValue(d.probeDelayMs);
    updating_ = false;
}

void CorrectionDialog::settingsChanged()
{
    if (updating_)
        return;
    Settings s;
    s.minTemperature = minTemperature_->value();
    s.minRpm = minRpm_->value();
    s.maxTpsMove = maxTpsMove_->value();
    s.tpsWindowMs = tpsWindow_->value();
    s.steadyCellMs = steadyCell_->value();
    s.minProbeMv = minProbe_->value();
    s.maxProbeMv = maxProbe_->value();
    s.minHits = minHits_->value();
    s.deadBand = deadBand_->value();
    s.maxChange = maxChange_->value();
    s.minOwnShare = minOwnShare_->value();
    s.fullLoadFrom = fullLoadColumn_->value() - 1;
    s.leanFullLoad = leanFullLoad_->isChecked();
    s.warmRowsOnly = warmRowsOnly_->isChecked();
    s.loopInControl = loopInControl_->isChecked();
    s.loopSettled = loopSettled_->isChecked();
    s.probeDelayMs = probeDelay_->value();
    guard_([this, s] {
        session_.setSettings(s);
        showResult();
    });
    // Refused (a log lacks the channels a rule reads): the fields show what still holds.
    if (!(session_.settings() == s))
        showSettings(session_.settings());
}

void CorrectionDialog::btnAbrirRegistrosClick()
{
    FileDialogSpec setup = Datalog::dialogSpec();
    if (vehicleLogs)
        setup.initialDir = vehicleLogs().logsFolder;
    const std::optional<QStringList> paths = prompt_.openFileNames(setup);
    if (paths && !paths->isEmpty())
        openLogs(*paths);
}

void CorrectionDialog::refreshVehicleLogs()
{
    const VehicleLogs vehicle = vehicleLogs ? vehicleLogs() : VehicleLogs{};
    vehicleLogs_->clear();
    vehicleRow_->setVisible(!vehicle.folder.isEmpty());
    if (vehicle.folder.isEmpty())
        return;
    for (const vehiclelogs::RecordedLog &log :
         vehiclelogs::forCorrection(vehiclelogs::list(vehicle.folder), vehicle.entry)) {
        const bool current = !vehicle.entry.isEmpty() && log.recordedOn(vehicle.entry);
        const QString entry = current               ? QString::fromUtf8("esta entrada")
                              : log.entry.isEmpty() ? QString::fromUtf8("sem entrada")
                                                    : QString::fromUtf8("entrada %1").arg(log.entry.left(7));
        auto *item = new QListWidgetItem(
            QStringLiteral("%1 — %2, %3")
                .arg(QFileInfo(log.path).fileName(), entry, log.modified.toString(QStringLiteral("dd/MM/yyyy HH:mm"))),
            vehicleLogs_);
        item->setData(Qt::UserRole, log.path);
        item->setToolTip(log.path);
        item->setSelected(current);
    }
    if (vehicleLogs_->count() == 0)
        vehicleLogs_->addItem(QString::fromUtf8("Nenhum registro gravado com este veículo."));
    openSelected_->setEnabled(!vehicleLogs_->selectedItems().isEmpty() ||
                              vehicleLogs_->item(0)->data(Qt::UserRole).isValid());
}

void CorrectionDialog::btnAbrirSelecionadosClick()
{
    QStringList paths;
    for (int i = 0; i < vehicleLogs_->count(); ++i)
        if (QListWidgetItem *item = vehicleLogs_->item(i); item->isSelected() && item->data(Qt::UserRole).isValid())
            paths << item->data(Qt::UserRole).toString();
    if (paths.isEmpty())
        throw Refused(QString::fromUtf8("Selecione os registros do veículo a abrir."));
    openLogs(paths);
}

void CorrectionDialog::openLogs(const QStringList &paths)
{
    session_.openLogs(paths);
    live_->setChecked(false);
    showResult();
}

void CorrectionDialog::cbAoVivoClick()
{
    if (!live_->isChecked()) {
        session_.stopLive();
        showResult();
        return;
    }
    live_->setChecked(false); // checked again once the live source stands
    if (!controller_.context().state.scannerActive)
        throw Refused(QString::fromUtf8("Ative o Scanner para acumular ao vivo."));
    session_.startLive();
    live_->setChecked(true);
    showResult();
}

void CorrectionDialog::liveRow(const logformat::Row &row) { session_.liveRow(row); }

void CorrectionDialog::refreshTick()
{
    const bool scanner = controller_.context().state.scannerActive;
    if (!scanner && session_.isLive()) {
        session_.stopLive();
        live_->setChecked(false);
        showResult();
    }
    if (session_.refreshTick())
        showResult();
    else
        updateButtons(session_.hasSource() && session_.suggestion().changed > 0);
}

void CorrectionDialog::btnAplicarSelecionadasClick()
{
    QList<int> cells;
    for (const QModelIndex &i : table_->selectionModel()->selectedIndexes())
        cells << 8 * i.row() + i.column();
    if (cells.isEmpty())
        throw Refused(QString::fromUtf8("Selecione as células a aplicar."));
    const int n = session_.apply(cells);
    applied_->setText(n > 0 ? QString::fromUtf8("%1 célula(s) aplicada(s) ao mapa da tela.").arg(n) : QString());
}

void CorrectionDialog::btnAplicarTodasClick()
{
    const int n = session_.apply();
    applied_->setText(n > 0 ? QString::fromUtf8("%1 célula(s) aplicada(s) ao mapa da tela.").arg(n) : QString());
}

void CorrectionDialog::btnAplicarAquecimentoClick()
{
    const int n = session_.applyWarmUp();
    applied_->setText(n > 0 ? QString::fromUtf8("%1 ponto(s) da curva de aquecimento aplicado(s) à tela.").arg(n)
                            : QString());
    warmSentence_->setText(session_.hasSource() ? session_.warmUp().sentence : QString());
    if (n > 0)
        warmSentence_->setText(applied_->text());
}

QWidget *CorrectionDialog::buildWarmUpPage()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);
    auto *intro = new QLabel(QString::fromUtf8(
        "O que o motor precisou a cada temperatura, com a sonda em malha fechada: (1 + CorrTemp/100)(1 + "
        "(CorrCurto + CorrLongo)/100) - 1, repartido entre os dois pontos da \"Correção Ti\" em volta. Pontos "
        "abaixo da temperatura de ativação da sonda ficam como estão."));
    intro->setWordWrap(true);
    warmTable_ = new QTableWidget(4, 8);
    warmTable_->setObjectName(QStringLiteral("twAquecimento"));
    warmTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    warmTable_->setSelectionMode(QAbstractItemView::NoSelection);
    QStringList columns;
    for (int i = 0; i < warmUpPoints; ++i)
        columns << QString::fromUtf8("%1 °C").arg(warmUpStep * i);
    warmTable_->setHorizontalHeaderLabels(columns);
    warmTable_->setVerticalHeaderLabels({QStringLiteral("Atual (%)"), QStringLiteral("Sugerido (%)"),
                                         QString::fromUtf8("Necessidade (%)"), QStringLiteral("Amostras")});
    warmTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    warmTable_->horizontalHeader()->setDefaultSectionSize(78);
    warmTable_->verticalHeader()->setDefaultSectionSize(40);
    warmTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    warmTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < warmUpPoints; ++c) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            warmTable_->setItem(r, c, item);
        }
    warmTable_->setFixedHeight(warmTable_->horizontalHeader()->sizeHint().height() + 4 * 40 +
                               2 * warmTable_->frameWidth());
    warmSentence_ = new QLabel;
    warmSentence_->setObjectName(QStringLiteral("lbFraseAquecimento"));
    warmSentence_->setWordWrap(true);
    QFont bold = warmSentence_->font();
    bold.setBold(true);
    warmSentence_->setFont(bold);
    applyWarmUp_ = new QPushButton(QStringLiteral("Aplicar aquecimento"));
    applyWarmUp_->setObjectName(QStringLiteral("btnAplicarAquecimento"));
    applyWarmUp_->setAutoDefault(false);
    connect(applyWarmUp_, &QPushButton::clicked, this, [this] { guard_([this] { btnAplicarAquecimentoClick(); }); });
    auto *row = new QHBoxLayout;
    row->addWidget(warmSentence_, 1);
    row->addWidget(applyWarmUp_);
    v->addWidget(intro);
    v->addWidget(warmTable_);
    v->addLayout(row);
    v->addStretch();
    return page;
}

void CorrectionDialog::showWarmUp()
{
    const WarmUpSuggestion &w = session_.warmUp();
    const bool has = session_.hasSource();
    for (int i = 0; i < warmUpPoints; ++i) {
        const WarmUpPoint &p = w.points[std::size_t(i)];
        const bool changed = p.state == PointState::Added || p.state == PointState::Removed;
        const QString texts[4] = {has ? p.oldText : QString(),
                                  !has                                  ? QString()
                                  : p.state == PointState::NoClosedLoop ? pointMark(p.state)
                                                                        : p.newText,
                                  has && p.weight > 0 && p.state != PointState::NoClosedLoop ? decimal(p.need, 1)
                                                                                             : QString(),
                                  has ? decimal(p.weight, 0) : QString()};
        for (int r = 0; r < 4; ++r)
            warmTable_->item(r, i)->setText(texts[r]);
        QTableWidgetItem *suggested = warmTable_->item(1, i);
        suggested->setBackground(has ? pointBackground(p.state) : QColor(Qt::white));
        suggested->setForeground(changed ? QColor(Qt::white) : QColor(Qt::black));
    }
    warmSentence_->setText(has ? w.sentence : QString());
    applyWarmUp_->setEnabled(has && w.changed > 0 && !controller_.historyBusy());
}

QString CorrectionDialog::cellText(int k) const
{
    const CellSuggestion &c = session_.suggestion().cells[std::size_t(k)];
    if (!session_.hasSource())
        return {};
    const double change = c.changePercent();
    const QString percent = (change > 0 ? QStringLiteral("+") : QString()) + decimal(change, 1) + QStringLiteral(" %");
    const QString mark = c.state == CellState::FullLoad     ? QStringLiteral("plena")
                         : c.state == CellState::Neighbours ? QStringLiteral("vizinhas")
                                                            : QString::number(std::lround(c.hits));
    return c.newText + u'\n' + percent + u'\n' + mark;
}

void CorrectionDialog::showAxes()
{
    const axes::Captions captions = axes::injectionCaptions(controller_.context().screen);
    table_->setVerticalHeaderLabels(captions.rows);
    table_->setHorizontalHeaderLabels(captions.columns);
}

void CorrectionDialog::showResult()
{
    showAxes();
    const Suggestion &s = session_.suggestion();
    const Analysis &a = session_.analysis();
    for (int k = 0; k < cellCount; ++k) {
        QTableWidgetItem *item = table_->item(k / 8, k % 8);
        const CellSuggestion &c = s.cells[std::size_t(k)];
        const CellState state = session_.hasSource() ? c.state : CellState::Unchanged;
        item->setText(cellText(k));
        // A selected cell shows it also on the colours: darker, in bold.
        const bool selected = item->isSelected();
        item->setBackground(selected ? background(state).darker(170) : background(state));
        QFont font = table_->font();
        font.setBold(selected);
        item->setFont(font);
        item->setForeground(selected || state == CellState::Added || state == CellState::Removed ? QColor(Qt::white)
                                                                                                 : QColor(Qt::black));
        const QString mark = stateMark(state);
        item->setToolTip(session_.hasSource()
                             ? QString::fromUtf8("e%1i: %2 -> %3 mS, correção média %4 %, %5 amostras%6")
                                   .arg(k)
                                   .arg(c.oldText, c.newText, decimal(c.mean, 1), decimal(c.hits, 1),
                                        mark.isEmpty() ? QString() : QStringLiteral("; ") + mark)
                             : QString());
    }
    source_->setText(session_.sourceText());
    for (int f = 0; f < FilterCount; ++f)
        rejected_[f]->setText(session_.hasSource() ? QString::number(a.rejected[std::size_t(f)]) : QString());
    summary_->setText(
        session_.hasSource()
            ? QString::fromUtf8("%1 linhas, %2 usadas; %3 células a mudar.").arg(a.rows).arg(a.used).arg(s.changed)
            : QString());
    sentence_->setText(session_.hasSource() ? s.sentence : QString());
    showWarmUp();
    const bool any = session_.hasSource() && s.changed > 0;
    updateButtons(any);
}

void CorrectionDialog::updateButtons(bool anyChange)
{
    // Apply refuses while a transfer or the TPS calibration holds the cells.
    const bool free = !controller_.historyBusy();
    applyAll_->setEnabled(anyChange && free);
    applySelected_->setEnabled(anyChange && free && table_->selectionModel()->hasSelection());
    applyWarmUp_->setEnabled(session_.hasSource() && session_.warmUp().changed > 0 && free);
    live_->setEnabled(controller_.context().state.scannerActive);
}
