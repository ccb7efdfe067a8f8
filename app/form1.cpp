#include "app/form1.h"

#include "app/comparedialog.h"
#include "app/correctiondialog.h"
#include "app/historywindow.h"
#include "app/layout.h"
#include "app/linkview.h"
#include "app/logviewerlink.h"
#include "app/mappagetools.h"
#include "app/picture.h"
#include "app/startupprefetch.h"
#include "app/tgauge.h"
#include "app/typinglimit.h"
#include "app/widgetprompt.h"
#include "app/widgetscreen.h"
#include "common/controls.h"
#include "common/names.h"
#include "common/systemerror.h"
#include "core/controller.h"
#include "core/qttimer.h"
#include "core/undo.h"
#include "datalog/datalog.h"
#include "files/mapfilecodec.h"
#include "link/scanner.h"
#include "serial/comport.h"
#include "session/portsession.h"
#include "session/vehiclerecorder.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <utility>

namespace {

// Focus changes the user made; focus lost to a popup, a message box or the program
// itself runs no field check.
bool isUserFocusChange(Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason: return true;
    default: return false;
    }
}

// Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z: the window's undo and redo, also inside a field
// (whose own undo would otherwise take them).
bool isHistoryKey(const QKeyEvent *key)
{
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (key->key() == Qt::Key_Z)
        return mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier);
    return key->key() == Qt::Key_Y && mods == Qt::ControlModifier;
}

// A field is left for good when the focus goes elsewhere in the window, not when a
// popup list or another window takes it for a while.
bool endsFieldEdit(Qt::FocusReason reason)
{
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

bool isCharacterKey(const QKeyEvent *key)
{
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false;
    return !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

} // namespace

QString TForm1::caption()
{
    return QStringLiteral("              Sorvani            Injeção Velto    KX 4                        Roda   Fônica "
                          "      Versão  VKX 2.02");
}

TForm1::TForm1(Prompt *prompt, std::optional<QStringList> ports, std::unique_ptr<TComPort> port, QWidget *parent,
               MapPageBuild mapPage)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    // Decoded while the font configuration may still be loading; the first control
    // measures its text.
    picture_ = readPicture(picture::findPicture());
    // As the picture: made while the fonts may still be loading; the start-up steps read it.
    controlTable();
    StartupPrefetch::waitForFonts();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(caption());
    setFont(layout::windowFont());
    setFixedSize(972, 710);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);

    layout::buildHiddenControls(this);
    Mapas_ = new QTabWidget(this);
    Mapas_->setObjectName(QStringLiteral("Mapas"));
    Mapas_->setGeometry(0, 0, 972, 710);
    mapPage_ = new QWidget;
    mapPage_->setObjectName(QStringLiteral("TabSheet1"));
    auto *configPage = new QWidget;
    configPage->setObjectName(QStringLiteral("TabSheet2"));
    Mapas_->addTab(mapPage_, QString());
    Mapas_->addTab(configPage, QString());
    // The map page, not shown at start, is built last (buildMapPage): the same window
    // whether that happens now or after the first paint.
    layout::buildConfigPage(configPage);
    linkview::build(this, mapPage_, configPage);
    Mapas_->raise();

    screen_ = std::make_unique<WidgetScreen>(this, Mapas_);
    screen_->setIncomplete();
    applyStartupTable(false);
    Mapas_->setCurrentWidget(configPage);

    if (prompt) {
        prompt_ = prompt;
    } else {
        ownPrompt_ = std::make_unique<WidgetPrompt>(this);
        prompt_ = ownPrompt_.get();
    }
    session_ = std::make_unique<PortSession>(
        this, *screen_, *prompt_,
        [this](const QtTimer *timer, const std::function<void()> &handler) { tick(timer, handler); },
        [this](const EComPort &error) {
            // A returned device that refuses to open: the watch goes on under a box that
            // closes itself once the device opens.
            if (session_ && session_->linkState() == LinkState::Lost) {
                prompt_->closeNotice(refusalNotice_);
                refusalNotice_ = prompt_->notice(QString::fromUtf8(error.what()));
            } else {
                showError(QString::fromUtf8(error.what()));
            }
        },
        std::move(port));
    controller_ = &session_->controller();
    session_->setReconnect(true);
    session_->onLinkState = [this](LinkState state) { linkStateChanged(state); };
    linkview::wireCheckSetting(*screen_, *session_);
    controller_->onTuneEvent = [this](TuneEvent event, const Tune &tune) {
        if (vehicle_)
            vehicle_->event(event, tune, TCustomComPort::devicePath(session_->port().port()));
    };
    connect(findChild<QPushButton *>(QStringLiteral("btnAbrirVeiculo")), &QPushButton::clicked, this,
            [this] { guarded([this] { btnAbrirVeiculoClick(); }); });
    connect(findChild<QPushButton *>(QStringLiteral("btnHistorico")), &QPushButton::clicked, this,
            [this] { guarded([this] { btnHistoricoClick(); }); });

    timerRegistro_ = std::make_unique<QtTimer>(this, [this] { guarded([this] { datalog_->TimerRegistroTimer(); }); });
    datalog_ = std::make_unique<Datalog>(controller_->context(), controller_->scanner(), controller_->mapFile(),
                                         *timerRegistro_);

    wireButtons(false);
    wireFields(false);
    logViewerLink_ = std::make_unique<LogViewerLink>(*this);
    wireHistory(false);
    showPicture();

    const QRect area = screen() ? screen()->availableGeometry() : QRect(0, 0, 972, 710);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), area));

    guarded([&] { controller_->FormCreateWithoutMaps(ports ? *ports : StartupPrefetch::ports()); });
    if (mapPage == MapPageBuild::Now) {
        buildMapPage();
        return;
    }
    mapPageWaits_ = true;
    screen_->setBuildOnDemand([this] { buildMapPage(); });
    connect(Mapas_, &QTabWidget::currentChanged, this, [this] { ensureMapPage(); });
}

void TForm1::ensureMapPage()
{
    if (!mapPageBuilt_)
        buildMapPage();
}

void TForm1::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (mapPageWaits_ && !mapPageBuilt_ && !mapPageQueued_) {
        mapPageQueued_ = true;
        // Queued: the first paint reaches the screen before the map page is built.
        QTimer::singleShot(0, this, [this] { ensureMapPage(); });
    }
}

bool TForm1::onMapPage(const QWidget *w) const { return w != mapPage_ && mapPage_->isAncestorOf(w); }

void TForm1::buildMapPage()
{
    mapPageBuilt_ = true;
    mapPageWaits_ = false;
    screen_->setBuildOnDemand(nullptr);
    layout::buildMapPage(mapPage_);
    // Drawn over the page as when it was made after the page's other controls.
    screen_->widget(QStringLiteral("lbModulo"))->raise();
    screen_->addControls(mapPage_);
    screen_->setComplete();
    applyStartupTable(true);
    wireButtons(true);
    wireFields(true);
    wireDatalog();
    wireHistory(true);
    wireCorrection();
    mapPageTools_ = new MapPageTools(
        *screen_, *controller_, [this](const std::function<void()> &h) { guarded(h); }, this);
    showPicture();
    guarded([this] { controller_->FormCreateMaps(); });
}

TForm1::~TForm1()
{
    delete mapPageTools_; // it works on the screen and the controller that go next
    // The log watches the controller's scanner; then no port event may reach a window
    // that is going away.
    logViewerLink_.reset();
    datalog_.reset();
    delete historyWindow_.data();
    session_.reset();
    vehicle_.reset(); // writes what is still queued
}

void TForm1::applyStartupTable(bool mapPage)
{
    WidgetScreen &s = *screen_;
    const QStringList readOnly = layout::readouts();
    for (const ControlSpec &c : controlTable()) {
        if (!s.contains(c.name))
            continue; // on the map page, not built yet
        QWidget *w = s.widget(c.name);
        if (onMapPage(w) != mapPage)
            continue;
        switch (c.kind) {
        case ControlKind::ComboFixed:
        case ControlKind::ComboFree:
        case ControlKind::List:
            s.setItems(c.name, c.items);
            if (c.itemIndex >= 0)
                s.setItemIndex(c.name, c.itemIndex);
            else
                s.setText(c.name, c.text);
            break;
        case ControlKind::Progress:
            s.setBarMin(c.name, c.barMin);
            s.setBarMax(c.name, c.barMax);
            s.setBarPosition(c.name, c.barPosition);
            break;
        default: s.setText(c.name, c.text); break;
        }
        if (auto *e = qobject_cast<QLineEdit *>(w)) {
            if (c.maxLength > 0)
                new TypingLimit(e, c.maxLength);
            if (readOnly.contains(c.name))
                e->setReadOnly(true);
        }
        if (!c.hint.isEmpty())
            w->setToolTip(c.hint);
        if (c.color)
            s.setColor(c.name, *c.color);
        if (c.fontColor)
            s.setFontColor(c.name, *c.fontColor);
        s.setEnabled(c.name, c.enabled);
        s.setVisible(c.name, c.visible);
    }
    if (!mapPage)
        return;

    // Read-outs and the change fields.
    QFont readoutFont(QStringLiteral("Arial"));
    readoutFont.setPixelSize(15);
    readoutFont.setBold(true);
    for (const QString &r : readOnly) {
        auto *e = s.get<QLineEdit>(r);
        e->setFont(readoutFont);
        e->setAlignment(Qt::AlignCenter);
    }
    QFont fieldFont = layout::windowFont();
    fieldFont.setBold(true);
    for (int i = 0; i < 9; ++i) {
        QStringList fields = {names::ignitionRowField(i), names::injectionRowField(i)};
        if (i < 8)
            fields << names::ignitionColumnField(i) << names::injectionColumnField(i);
        for (const QString &f : fields) {
            auto *e = s.get<QLineEdit>(f);
            e->setFont(fieldFont);
            e->setAlignment(Qt::AlignCenter);
            e->setFocusPolicy(Qt::ClickFocus);
        }
    }

    // Keyboard order through the maps: injection cells, then ignition cells.
    QWidget *previous = nullptr;
    for (int k = 0; k < 72; ++k) {
        QWidget *cell = s.widget(names::injectionCell(k));
        if (previous)
            setTabOrder(previous, cell);
        previous = cell;
    }
    for (int k = 0; k < 72; ++k) {
        QWidget *cell = s.widget(names::ignitionCell(k));
        setTabOrder(previous, cell);
        previous = cell;
    }
}

QPixmap TForm1::readPicture(const QString &path)
{
    const QImage image = path.isEmpty() ? QImage() : picture::loadJpeg(path);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

void TForm1::loadPicture(const QString &path)
{
    picture_ = readPicture(path);
    showPicture();
}

void TForm1::showPicture()
{
    for (const QString &box : layout::pictureBoxes()) {
        if (!screen_->contains(box))
            continue; // on the map page, shown when it is built
        auto *label = screen_->get<QLabel>(box);
        if (picture_.isNull())
            label->clear();
        else
            label->setPixmap(picture_);
    }
}

void TForm1::showError(const QString &text)
{
    try {
        prompt_->message(text);
    } catch (const std::exception &) {
        // A failing message box must not take the program down.
    }
}

void TForm1::guarded(const std::function<void()> &handler)
{
    if (mapPageWaits_)
        ensureMapPage(); // a handler may reach any control
    try {
        handler();
    } catch (const std::exception &e) {
        showError(systemerror::failureText(e));
    } catch (...) {
        showError(QStringLiteral("Erro desconhecido"));
    }
    refreshHistory();
}

void TForm1::tick(const QtTimer *timer, const std::function<void()> &handler)
{
    if (!timer) {
        guarded(handler);
        return;
    }
    if (tickErrorOpen_.contains(timer))
        return;
    if (mapPageWaits_)
        ensureMapPage();
    try {
        handler();
    } catch (const std::exception &e) {
        tickErrorOpen_.insert(timer);
        showError(systemerror::failureText(e));
        tickErrorOpen_.remove(timer);
    } catch (...) {
        tickErrorOpen_.insert(timer);
        showError(QStringLiteral("Erro desconhecido"));
        tickErrorOpen_.remove(timer);
    }
    refreshHistory();
}

void TForm1::btnAtivarClick() { session_->activate(); }

void TForm1::btnDesativarClick() { session_->deactivate(); }

void TForm1::FormClose() { session_->port().Close(); }

void TForm1::closeEvent(QCloseEvent *event)
{
    bool mayClose = false;
    guarded([&] { mayClose = controller_->FormCloseQuery(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    guarded([this] { FormClose(); });
    event->accept();
}

void TForm1::btnCompararClick()
{
    const std::optional<FileComparison> comparison = controller_->btnCompararClick();
    if (!comparison)
        return;
    if (compareDialog_)
        compareDialog_->close();
    auto *dialog = new CompareDialog(
        *comparison, [this](const QString &control) { showField(control); }, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    compareDialog_ = dialog;
    dialog->show();
}

CompareDialog *TForm1::compareDialog() const { return compareDialog_.data(); }

void TForm1::btnCorrecaoClick()
{
    if (!correctionDialog_) {
        auto *dialog = new CorrectionDialog(
            *controller_, *prompt_, [this](const std::function<void()> &handler) { guarded(handler); }, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->vehicleLogs = [this] {
            if (!vehicle_)
                return CorrectionDialog::VehicleLogs{};
            return CorrectionDialog::VehicleLogs{vehicle_->folder(), vehicle_->logsFolder(), vehicle_->moduleEntry()};
        };
        correctionDialog_ = dialog;
    }
    correctionDialog_->refreshVehicleLogs();
    correctionDialog_->show();
    correctionDialog_->raise();
    correctionDialog_->activateWindow();
}

CorrectionDialog *TForm1::correctionDialog() const { return correctionDialog_.data(); }

void TForm1::openVehicle(const QString &folder)
{
    auto opened = std::make_unique<VehicleRecorder>(folder, *prompt_, this);
    delete historyWindow_.data(); // it shows the vehicle that was open
    vehicle_ = std::move(opened);
    findChild<QLineEdit *>(QStringLiteral("eVeiculo"))->setText(vehicle_->name());
    findChild<QLineEdit *>(QStringLiteral("eVeiculo"))->setToolTip(vehicle_->folder());
    findChild<QPushButton *>(QStringLiteral("btnHistorico"))->setEnabled(true);
    if (!vehicle_->openMessages().isEmpty())
        showError(vehicle_->openMessages());
}

void TForm1::btnAbrirVeiculoClick()
{
    const std::optional<QString> answer =
        prompt_->askText(QStringLiteral("Nome do veículo (guardado em %1) ou a pasta do seu histórico:")
                             .arg(QFileInfo(history::Vehicle::defaultFolder(QStringLiteral("x"))).path()),
                         vehicle_ ? vehicle_->folder() : QString());
    if (!answer)
        return;
    const QString name = answer->trimmed();
    if (name.isEmpty())
        throw std::runtime_error("Diga o nome do veículo ou a pasta do seu histórico.");
    // A name is a vehicle in the default place; a path (with a "/") any folder.
    openVehicle(name.contains(QLatin1Char('/')) ? name : history::Vehicle::defaultFolder(name));
}

void TForm1::btnHistoricoClick()
{
    if (!vehicle_)
        throw std::runtime_error("Abra um veículo antes.");
    if (!historyWindow_) {
        auto *window = new HistoryWindow(
            *vehicle_, *controller_, *prompt_, [this](const std::function<void()> &handler) { guarded(handler); },
            [this](const QString &control) { showField(control); }, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        historyWindow_ = window;
    } else {
        historyWindow_->refresh();
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

HistoryWindow *TForm1::historyWindow() const { return historyWindow_.data(); }

void TForm1::wireCorrection()
{
    connect(screen_->get<QPushButton>(QStringLiteral("btnCorrecao")), &QPushButton::clicked, this,
            [this] { guarded([this] { btnCorrecaoClick(); }); });
    datalog_->onLiveRow = [this](const logformat::Row &row) {
        if (correctionDialog_)
            correctionDialog_->liveRow(row);
    };
}

void TForm1::showField(const QString &control)
{
    const bool tps = control == QLatin1String("tpsMin") || control == QLatin1String("tpsMax");
    QWidget *field = screen_->widget(tps ? QStringLiteral("btnConfigurarTps") : control);
    int page = -1;
    for (int i = 0; i < Mapas_->count(); ++i)
        if (Mapas_->widget(i)->isAncestorOf(field))
            page = i;
    if (page < 0 || !Mapas_->isTabVisible(page))
        return; // behind the page control, or its page is hidden while the scanner runs
    activateWindow();
    raise();
    Mapas_->setCurrentIndex(page);
    if (field->isEnabled() && field->isVisibleTo(Mapas_->widget(page)))
        field->setFocus(Qt::OtherFocusReason);
}

void TForm1::wireButtons(bool mapPage)
{
    auto onClick = [this, mapPage](const char *name, std::function<void()> handler) {
        const QString control = QString::fromLatin1(name);
        if (!screen_->contains(control) || onMapPage(screen_->widget(control)) != mapPage)
            return;
        auto *button = screen_->get<QPushButton>(control);
        connect(button, &QPushButton::clicked, this, [this, handler] { guarded(handler); });
    };
    Controller *c = controller_;
    onClick("btnAtivar", [this] { btnAtivarClick(); });
    onClick("btnDesativar", [this] { btnDesativarClick(); });
    for (const char *b : {"btnEnvia", "Button8"})
        onClick(b, [c] { c->btnEnviaClick(); });
    for (const char *b : {"btnLerDados", "Button6"})
        onClick(b, [c] { c->btnLerDadosClick(); });
    for (const char *b : {"btnSalvar", "Button1"})
        onClick(b, [c] { c->btnSalvarClick(); });
    for (const char *b : {"btnCarregar", "Button2"})
        onClick(b, [c] { c->btnCarregarClick(); });
    onClick("Button3", [c] { c->Button3Click(); });
    onClick("btnAlterarMapas", [c] { c->btnAlterarMapasClick(); });
    onClick("btnAlterar", [c] { c->btnAlterarClick(); });
    onClick("btnVoltarTelaPrincipal", [c] { c->btnVoltarTelaPrincipalClick(); });
    onClick("btnPercentual", [c] { c->btnPercentualClick(); });
    onClick("btnmS", [c] { c->btnmSClick(); });
    onClick("btnConfigurarTps", [c] { c->btnConfigurarTpsClick(); });
    for (const char *b : {"btnDesfazer", "btnDesfazer1"})
        onClick(b, [c] { c->undo(); });
    for (const char *b : {"btnRefazer", "btnRefazer1"})
        onClick(b, [c] { c->redo(); });
    onClick("btnComparar", [this] { btnCompararClick(); });
}

void TForm1::wireHistory(bool mapPage)
{
    Controller *c = controller_;
    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Z), [c] { c->undo(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Y), [c] { c->redo(); }},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [c] { c->redo(); }},
    };
    for (const auto &[key, handler] : keys) {
        if (mapPage)
            break;
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, handler] { guarded(handler); });
    }
    // The fields' own undo would take the keys first.
    QWidget *root = mapPage ? mapPage_ : this;
    for (QLineEdit *e : root->findChildren<QLineEdit *>())
        e->installEventFilter(this);
    for (QComboBox *combo : root->findChildren<QComboBox *>())
        combo->installEventFilter(this);

    for (const QString &name : mapfile::fieldControls()) {
        if (!screen_->contains(name) || onMapPage(screen_->widget(name)) != mapPage)
            continue;
        QWidget *w = screen_->widget(name);
        historyFields_.insert(w);
        if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->lineEdit())
            historyFields_.insert(combo->lineEdit());
    }
}

void TForm1::refreshHistory()
{
    if (!controller_ || !mapPageBuilt_)
        return; // the map page's build ends with a refresh
    const bool undo = controller_->canUndo(), redo = controller_->canRedo(), unsaved = controller_->unsaved();
    for (const QString &suffix : {QString(), QStringLiteral("1")}) {
        screen_->widget(QStringLiteral("btnDesfazer") + suffix)->setEnabled(undo);
        screen_->widget(QStringLiteral("btnRefazer") + suffix)->setEnabled(redo);
        screen_->widget(QStringLiteral("lbNaoSalvo") + suffix)->setVisible(unsaved);
    }
    linkview::show(*screen_, session_->linkText(), controller_->moduleStatus(), controller_->unsentControls());
}

void TForm1::linkStateChanged(LinkState state)
{
    if (state == LinkState::Lost && controller_->state().scannerActive && mapPageBuilt_)
        linkview::dimReadouts(*screen_);
    if (state == LinkState::Reopened)
        prompt_->closeNotice(std::exchange(refusalNotice_, 0));
    if (datalog_) {
        if (state == LinkState::Lost)
            datalog_->linkLost();
        else if (state == LinkState::Reopened)
            datalog_->linkRestored();
        else if (state == LinkState::Closed)
            datalog_->linkGivenUp();
    }
    refreshHistory();
}

void TForm1::wireDatalog()
{
    Datalog *d = datalog_.get();
    d->moduleTune = [this] { return controller_->history().moduleSet(); };
    d->readModuleTune = [this](std::function<void(const std::optional<Tune> &)> done) {
        // A read-back made for a recording is a read-back: with a vehicle open it is an
        // entry marked "no módulo", and the log then names it.
        session_->readForRecording([this, done = std::move(done)](const std::optional<Tune> &module) {
            if (module && vehicle_)
                vehicle_->event(TuneEvent::Read, *module, TCustomComPort::devicePath(session_->port().port()));
            done(module);
        });
    };
    // While a vehicle is open its logs go to registros/ and name the entry the module
    // runs (a screen that differs from it is not what the log records).
    d->historyEntry = [this] { return vehicle_ ? vehicle_->moduleEntry() : QString(); };
    d->logFolder = [this] { return vehicle_ ? vehicle_->logsFolder() : QString(); };
    const std::pair<const char *, void (Datalog::*)()> buttons[] = {
        {"btnGravar", &Datalog::btnGravarClick},         {"btnParar", &Datalog::btnPararClick},
        {"btnMarcar", &Datalog::btnMarcarClick},         {"btnAbrirRegistro", &Datalog::btnAbrirRegistroClick},
        {"btnReproduzir", &Datalog::btnReproduzirClick}, {"btnFecharRegistro", &Datalog::btnFecharRegistroClick},
    };
    for (const auto &[name, handler] : buttons) {
        auto *button = screen_->get<QPushButton>(QString::fromLatin1(name));
        connect(button, &QPushButton::clicked, this,
                [this, d, handler] { guarded([d, handler] { (d->*handler)(); }); });
    }
    connect(screen_->get<QSlider>(QStringLiteral("tbPosicao")), &QSlider::valueChanged, this,
            [this, d] { guarded([d] { d->tbPosicaoChange(); }); });
    connect(screen_->get<QComboBox>(QStringLiteral("cbVelocidade")), &QComboBox::activated, this,
            [this, d] { guarded([d] { d->cbVelocidadeChange(); }); });
    auto *markers = screen_->get<QListWidget>(QStringLiteral("lbMarcas"));
    connect(markers, &QListWidget::itemClicked, this, [this, d] { guarded([d] { d->lbMarcasClick(); }); });
    connect(markers, &QListWidget::itemActivated, this, [this, d] { guarded([d] { d->lbMarcasClick(); }); });
}

void TForm1::wireFields(bool mapPage)
{
    auto here = [this, mapPage](const QString &name) {
        return screen_->contains(name) && onMapPage(screen_->widget(name)) == mapPage;
    };
    Controller *c = controller_;
    const std::pair<const char *, std::function<void()>> exits[] = {
        {"eDeslCutOff", [c] { c->eDeslCutOffExit(); }},       {"eLigaCutOff", [c] { c->eLigaCutOffExit(); }},
        {"eTempoCarga", [c] { c->eTempoCargaExit(); }},       {"eLimiteRpm", [c] { c->eLimiteRpmExit(); }},
        {"eAvancoPartida", [c] { c->eAvancoPartidaExit(); }}, {"cbCombinacaoMapa", [c] { c->cbCombinacaoMapaExit(); }},
    };
    for (const auto &[name, check] : exits) {
        if (!here(QString::fromLatin1(name)))
            continue;
        QWidget *w = screen_->widget(QString::fromLatin1(name));
        exitChecks_.insert(w, check);
        w->installEventFilter(this);
        if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->lineEdit()) {
            exitChecks_.insert(combo->lineEdit(), check);
            combo->lineEdit()->installEventFilter(this);
        }
    }

    for (const ControlSpec &setup : controlTable()) {
        if (!here(setup.name))
            continue;
        auto *combo = qobject_cast<QComboBox *>(screen_->widget(setup.name));
        if (!combo || !combo->isEditable())
            continue;
        // Typed text selects the entry it equals, or none.
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [combo] { widgetcombo::followTypedText(combo); });
        if (setup.kind == ControlKind::ComboFixed) {
            fixedCombos_.insert(combo, setup.name);
            combo->installEventFilter(this);
            fixedCombos_.insert(combo->lineEdit(), setup.name);
            combo->lineEdit()->installEventFilter(this);
        }
    }

    auto onUserChange = [this, here](const char *name, std::function<void()> handler) {
        if (!here(QString::fromLatin1(name)))
            return;
        auto *combo = screen_->get<QComboBox>(QString::fromLatin1(name));
        // A pick from the list runs the handler only when it changed the selection
        // (the index moves just before "activated"); re-picking the selected entry
        // must not rebuild what the handler builds.
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] {
            indexMoved_.insert(combo);
            QMetaObject::invokeMethod(
                this, [this, combo] { indexMoved_.remove(combo); }, Qt::QueuedConnection);
        });
        connect(combo, &QComboBox::activated, this, [this, combo, handler] {
            if (indexMoved_.remove(combo))
                guarded(handler);
        });
        // Connected after the index follows the typed text, so the handler sees it.
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, handler] { guarded(handler); });
    };
    onUserChange("cbTipoRodaFonica", [c] { c->cbTipoRodaFonicaChange(); });
    onUserChange("cbEscalaRpm", [c] { c->cbEscalaRpmChange(); });
}

void TForm1::runExitChecks()
{
    exitChecksScheduled_ = false;
    while (!pendingExits_.isEmpty()) {
        const std::function<void()> check = exitChecks_.value(pendingExits_.takeFirst());
        QPointer<QWidget> reached = focusWidget(); // where the user was going
        exitCheckRunning_ = true;
        guarded(check);
        exitCheckRunning_ = false;
        // A check that gave the focus back leaves no selection behind in the box the
        // user had tabbed into (its message box kept it from losing the focus normally).
        if (auto *edit = qobject_cast<QLineEdit *>(reached.data()); edit && focusWidget() != edit)
            edit->deselect();
    }
    // The typed edit, with what the check put in its place, is one step.
    if (fieldLeft_) {
        fieldLeft_ = false;
        guarded([this] { controller_->fieldLeft(); });
    }
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && isHistoryKey(static_cast<QKeyEvent *>(event))) {
        event->ignore(); // not the field's: the window's shortcut runs
        return true;
    }
    if (event->type() == QEvent::FocusOut && historyFields_.contains(watched) &&
        endsFieldEdit(static_cast<QFocusEvent *>(event)->reason())) {
        fieldLeft_ = true;
        if (!exitChecksScheduled_) {
            exitChecksScheduled_ = true;
            QMetaObject::invokeMethod(
                this, [this] { runExitChecks(); }, Qt::QueuedConnection);
        }
    }
    if (event->type() == QEvent::FocusOut) {
        // A check never runs inside another one (its message box takes the focus).
        if (exitChecks_.contains(watched) && !exitCheckRunning_ &&
            isUserFocusChange(static_cast<QFocusEvent *>(event)->reason())) {
            if (!pendingExits_.contains(watched))
                pendingExits_.append(watched);
            // The check runs once the focus has settled on the new control, so the
            // field it gives the focus back to ends up with a live cursor.
            if (!exitChecksScheduled_) {
                exitChecksScheduled_ = true;
                QMetaObject::invokeMethod(
                    this, [this] { runExitChecks(); }, Qt::QueuedConnection);
            }
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto it = fixedCombos_.constFind(watched);
        if (it != fixedCombos_.constEnd() && isCharacterKey(static_cast<QKeyEvent *>(event))) {
            const QString name = *it;
            guarded([this, name] { controller_->fixedComboKeyPress(name); });
            // The key is not consumed: it goes on to the box.
        }
    }
    return QWidget::eventFilter(watched, event);
}
