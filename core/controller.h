#pragma once
// All handlers of the main window, free of widgets. The window forwards each widget
// event to the method of the same name; the tests call them directly.
#include "common/context.h"

#include <QStringList>
#include <memory>

class ParameterImage;
class Transmitter;
class Receiver;
class Scanner;
class MapAxes;
class MapViews;
class MapEdit;
class MapFile;
class ConfigFields;
class TpsCalibration;

class Controller {
public:
    Controller(Screen &screen, LinkPort &port, Prompt &prompt, Timer &timer1, Timer &timer2, Timer &timerTps,
               Timer &timerReadBack);
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    State &state() { return state_; }
    Context &context() { return ctx_; }

    // Start-up: the port list as enumerated, then the start-up steps of the window.
    void FormCreate(const QStringList &ports);

    // Port activation. The window opens or closes the real port; the port's events
    // and the steps after a successful open or close come here.
    void ComPort1AfterOpen();
    void ComPort1AfterClose();
    void portActivated();   // after "&Ativar" opened the port
    void portDeactivated(); // after "&Desativar" closed it

    // Upload.
    void btnEnviaClick();
    void Timer2Timer();
    // Read-back and receive side.
    void btnLerDadosClick();
    void ComPort1RxChar();
    void TimerReadBackTimer();
    // Scanner and watchdog.
    void Button3Click();
    void Timer1Timer();
    // Maps.
    void cbEscalaRpmChange();
    void cbCombinacaoMapaExit();
    void btnAlterarMapasClick();
    void btnAlterarClick();
    void btnVoltarTelaPrincipalClick();
    void btnPercentualClick();
    void btnmSClick();
    // Map files.
    void btnSalvarClick();
    void btnCarregarClick();
    // Configuration fields.
    void eDeslCutOffExit();
    void eLigaCutOffExit();
    void eTempoCargaExit();
    void eLimiteRpmExit();
    void eAvancoPartidaExit();
    void fixedComboKeyPress(const QString &comboName); // cbCombinacaoMapaKeyPress and its four siblings
    void cbTipoRodaFonicaChange();
    // TPS calibration.
    void btnConfigurarTpsClick();
    void TimerTPSTimer();

    ParameterImage &image() { return *image_; }
    Receiver &receiver() { return *receiver_; }
    Scanner &scanner() { return *scanner_; }
    TpsCalibration &tpsCalibration() { return *tps_; }
    MapFile &mapFile() { return *mapFile_; }

private:
    State state_;
    Context ctx_;
    std::unique_ptr<ParameterImage> image_;
    std::unique_ptr<Transmitter> transmitter_;
    std::unique_ptr<Scanner> scanner_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<MapAxes> axes_;
    std::unique_ptr<MapViews> views_;
    std::unique_ptr<MapEdit> edit_;
    std::unique_ptr<MapFile> mapFile_;
    std::unique_ptr<ConfigFields> config_;
    std::unique_ptr<TpsCalibration> tps_;
};
