#pragma once
// Save the screen to a map file and load it back.
#include "common/context.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <stdexcept>

// A whole parameter set as a map file holds it: the texts of the 200 controls in file
// order, then the TPS minimum and maximum.
struct Tune {
    QStringList texts; // 200 texts, mapfile::fieldControls() order
    int tpsMin = 130;
    int tpsMax = 230;
    QStringList fields() const; // the 202 fields of the file
    friend bool operator==(const Tune &, const Tune &) = default;
};

// An input/output error of a map file: what() is the map file's own text ("Disk full"),
// error() the system's error number behind it, for messages that are not the map file's.
class MapFileIoError : public std::runtime_error {
public:
    MapFileIoError(const QString &message, int err);
    int error() const { return err_; }

private:
    int err_;
};

class MapFile {
public:
    explicit MapFile(Context &ctx);
    // btnSalvar and Button1; returns whether a file was written (not when cancelled).
    bool btnSalvarClick();
    // btnCarregar and Button2; returns whether a file was loaded (not when cancelled).
    bool btnCarregarClick();
    static FileDialogSpec dialogSpec(); // filter, default extension, initial folder

    // The parameter set on screen, as it stands.
    Tune screenTune() const;
    // The bytes a save writes; throws the save's refusal for a text the file cannot hold.
    QByteArray screenBytes() const;
    // The bytes a save of this parameter set writes; throws as screenBytes does.
    static QByteArray bytesOf(const Tune &tune);
    // Save and load without a dialog.
    void saveTo(const QString &path) const;
    void loadFrom(const QString &path);
    // Reads and checks a map file as a load does, changing nothing; throws the load's
    // message for a file that does not hold a complete parameter set.
    static Tune readTune(const QString &path);
    // Writes bytes to path through a temporary file and a rename (the save's safe
    // replace); a failure leaves the file that was there as it was.
    static void writeFile(const QString &path, const QByteArray &bytes);
    // Puts a parameter set on screen as a load does.
    void apply(const Tune &tune);

private:
    Context &ctx_;
};
