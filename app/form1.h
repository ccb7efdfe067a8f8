#pragma once
// The main window: owns every control, the serial port ComPort1, the timers and the
// controller that holds the program's handlers. Widget events are forwarded to the
// controller through the guard, which shows an escaping error in a message box.
#include "serial/comport.h"
#include "session/portsession.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class CompareDialog;
class CorrectionDialog;
class HistoryWindow;
class VehicleRecorder;
class MapPageTools;

class Controller;
class Datalog;
class LogViewerLink;
class Prompt;
class QTabWidget;
class QtTimer;

class WidgetScreen;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // prompt: who answers messages and file dialogs (a real one when null).
    // ports: the port list at start-up (the ports that can be opened when not given).
    // port: the port component (this program's TComPort when null).
    // mapPage: when the map page (not shown at start) is built. AfterFirstPaint builds it
    // right after the window's first paint, or before that as soon as anything reaches
    // one of its controls or runs a handler; the window is then the same as with Now.
    enum class MapPageBuild { Now, AfterFirstPaint };
    explicit TForm1(Prompt *prompt = nullptr, std::optional<QStringList> ports = std::nullopt,
                    std::unique_ptr<TComPort> port = nullptr, QWidget *parent = nullptr,
                    MapPageBuild mapPage = MapPageBuild::Now);
    ~TForm1() override;

    static QString caption();

    Controller &controller() { return *controller_; }
    PortSession &session() { return *session_; }
    WidgetScreen &widgetScreen() { return *screen_; }
    Prompt &prompt() { return *prompt_; }
    TComPort &ComPort1() { return session_->port(); }
    QtTimer &timer1() { return session_->timer1(); }
    QtTimer &timer2() { return session_->timer2(); }
    QtTimer &timerTps() { return session_->timerTps(); }
    QtTimer &timerReadBack() { return session_->timerReadBack(); }
    QTabWidget *pages() const { return Mapas_; }
    Datalog &datalog() { return *datalog_; }
    QtTimer &timerRegistro() { return *timerRegistro_; }
    LogViewerLink &logViewerLink() { return *logViewerLink_; }

    // Runs a handler; an error that escapes it is shown with its text and the program
    // goes on.
    void guarded(const std::function<void()> &handler);

    // Shows the picture at path in its four boxes; a file that cannot be decoded
    // leaves them empty.
    void loadPicture(const QString &path);

    // Handlers of the window itself.
    void btnAtivarClick();
    void btnDesativarClick();
    void FormClose();
    void btnCompararClick();
    // Shows the page of a control of the parameter set ("e12i"; "tpsMin" and "tpsMax"
    // are set by "Configurar &TPS") and gives the control the focus.
    void showField(const QString &control);
    CompareDialog *compareDialog() const; // the one last opened, while it is open
    // "Correção": the assisted correction of the injection map (one dialog at a time).
    void btnCorrecaoClick();
    CorrectionDialog *correctionDialog() const; // while it is open
    MapPageTools &mapPageTools()
    {
        ensureMapPage();
        return *mapPageTools_;
    }
    // Builds the map page now if it is still to be built.
    void ensureMapPage();

    // The vehicle whose history the window keeps, in folder (made when missing).
    // Throws the history's refusal and keeps the vehicle that was open then.
    void openVehicle(const QString &folder);
    VehicleRecorder *vehicle() const { return vehicle_.get(); }
    // "Abrir veículo…": asks for a name (a vehicle in the default place,
    // history::Vehicle::defaultFolder) or a folder (a path with a "/").
    // " Histórico ": the entries of the open vehicle.
    void btnAbrirVeiculoClick();
    void btnHistoricoClick();
    HistoryWindow *historyWindow() const; // while it is open

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The map page's controls with their start-up rows and wiring, and the start-up
    // steps that draw on the maps.
    void buildMapPage();
    bool onMapPage(const QWidget *w) const;
    static QPixmap readPicture(const QString &path); // empty when it cannot be decoded
    void showPicture();
    // The start-up rows and the wiring of the controls on the map page (mapPage) or of
    // all the others.
    void applyStartupTable(bool mapPage);
    void wireButtons(bool mapPage);
    void wireFields(bool mapPage);
    void wireDatalog();
    void wireCorrection();
    // A tick of timer (a receive event when null), guarded; while the error of an
    // earlier tick of the same timer is on screen, further ticks wait.
    void tick(const QtTimer *timer, const std::function<void()> &handler);
    void runExitChecks();
    void showError(const QString &text);
    void wireHistory(bool mapPage);
    // Undo and redo buttons, the unsaved-changes label and the link's status line follow
    // the controller and the port session.
    void refreshHistory();
    void linkStateChanged(LinkState state);

    QTabWidget *Mapas_ = nullptr;
    QWidget *mapPage_ = nullptr;
    bool mapPageBuilt_ = false;
    bool mapPageWaits_ = false; // the window is made, its map page still to be built
    bool mapPageQueued_ = false;
    QPixmap picture_;
    std::unique_ptr<WidgetScreen> screen_;
    std::unique_ptr<Prompt> ownPrompt_;
    Prompt *prompt_ = nullptr;
    std::unique_ptr<PortSession> session_; // the port, its timers and the controller
    Controller *controller_ = nullptr;
    std::unique_ptr<QtTimer> timerRegistro_;
    std::unique_ptr<Datalog> datalog_;             // goes before the controller whose scanner it watches
    std::unique_ptr<LogViewerLink> logViewerLink_; // goes before the datalog it follows

    // Field-exit checks and key-press guards, by watched object.
    QHash<QObject *, std::function<void()>> exitChecks_;
    QHash<QObject *, QString> fixedCombos_;
    QList<QObject *> pendingExits_; // left by the user, check not run yet
    bool exitCheckRunning_ = false;
    bool exitChecksScheduled_ = false;
    // Controls of the parameter set: leaving one ends a typed edit (one undo step).
    QSet<QObject *> historyFields_;
    bool fieldLeft_ = false; // a field was left, the step is recorded after its check
    QPointer<CompareDialog> compareDialog_;
    QPointer<CorrectionDialog> correctionDialog_;
    std::unique_ptr<VehicleRecorder> vehicle_; // goes after the session whose events it writes
    QPointer<HistoryWindow> historyWindow_;
    MapPageTools *mapPageTools_ = nullptr; // selection, tools, colours and 3D view of the maps
    // Timers whose error message is open: their ticks wait until it is closed.
    QSet<const QtTimer *> tickErrorOpen_;
    int refusalNotice_ = 0; // a returned device refused to open: closed once it opens
    // Combo boxes whose selected entry moved in the event being handled.
    QSet<QObject *> indexMoved_;
};
