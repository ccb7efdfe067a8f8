#pragma once
// " Correção assistida do mapa de injeção ": the suggested injection map on the map's
// own axes, the filters with their values and rejected rows, the sources (logs, or the
// live scanner) and applying the suggestion to the screen's map. The work is done by
// CorrectionSession; the dialog shows it.
#include "tuning/correctionsession.h"

#include <QDialog>
#include <functional>

class Controller;
class Prompt;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class Screen;

class CorrectionDialog : public QDialog {
    Q_OBJECT
public:
    // guard: runs a handler as the window does (an escaping error becomes a message).
    CorrectionDialog(Controller &controller, Prompt &prompt, std::function<void(const std::function<void()> &)> guard,
                     QWidget *parent = nullptr);

    static QString title();
    CorrectionSession &session() { return session_; }
    QTableWidget *table() const { return table_; }
    QTableWidget *warmUpTable() const { return warmTable_; }

    // While a vehicle is open: its logs folder (registros/) and the entry (full hash)
    // the module runs. Its logs are then listed, those recorded on that entry first and
    // selected, and "Abrir registros…" opens in that folder. Unset or empty: hidden.
    struct VehicleLogs {
        QString folder; // the vehicle's folder
        QString logsFolder;
        QString entry;
    };
    std::function<VehicleLogs()> vehicleLogs;
    // Lists the vehicle's logs again (the window calls it when it shows the dialog).
    void refreshVehicleLogs();
    QListWidget *vehicleLogList() const { return vehicleLogs_; }

    // Handlers, also called by the tests.
    void btnAbrirRegistrosClick();
    void btnAbrirSelecionadosClick(); // the vehicle's logs selected in the list
    void openLogs(const QStringList &paths);
    void cbAoVivoClick();
    void btnAplicarSelecionadasClick();
    void btnAplicarTodasClick();
    void btnAplicarAquecimentoClick();
    // The live row of the scanner (forwarded by the window while the dialog is open).
    void liveRow(const logformat::Row &row);
    // The refresh tick (every 200 ms): new live rows, the scanner switched on or off.
    void refreshTick();
    // Shows the session's result.
    void showResult();
    void updateButtons(bool anyChange);

private:
    void build();
    QWidget *buildFilters();
    QWidget *buildWarmUpPage();
    void showWarmUp();
    void settingsChanged();
    void showSettings(const correction::Settings &settings);
    QString cellText(int cell) const;
    void showAxes();

    Controller &controller_;
    Prompt &prompt_;
    std::function<void(const std::function<void()> &)> guard_;
    CorrectionSession session_;
    QTableWidget *table_ = nullptr;
    QLabel *source_ = nullptr, *sentence_ = nullptr, *summary_ = nullptr;
    QPushButton *open_ = nullptr, *applySelected_ = nullptr, *applyAll_ = nullptr;
    QCheckBox *live_ = nullptr;
    QWidget *vehicleRow_ = nullptr;
    QListWidget *vehicleLogs_ = nullptr;
    QPushButton *openSelected_ = nullptr;
    QSpinBox *minTemperature_ = nullptr, *minRpm_ = nullptr, *maxTpsMove_ = nullptr, *tpsWindow_ = nullptr,
             *steadyCell_ = nullptr, *minProbe_ = nullptr, *maxProbe_ = nullptr;
    QDoubleSpinBox *minHits_ = nullptr, *deadBand_ = nullptr, *maxChange_ = nullptr, *minOwnShare_ = nullptr;
    QSpinBox *fullLoadColumn_ = nullptr;
    QCheckBox *leanFullLoad_ = nullptr, *warmRowsOnly_ = nullptr, *loopInControl_ = nullptr, *loopSettled_ = nullptr;
    QSpinBox *probeDelay_ = nullptr;
    QTableWidget *warmTable_ = nullptr;
    QLabel *warmSentence_ = nullptr, *applied_ = nullptr;
    QPushButton *applyWarmUp_ = nullptr;
    QList<QLabel *> rejected_; // per filter
    QTimer *refresh_ = nullptr;
    bool updating_ = false;
};
