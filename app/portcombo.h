#pragma once
// The port list box (cbPorta): each entry's text is a device path, which is what
// "&Ativar" opens; the drop-down shows each path with its description. The list
// is read again each time the drop-down opens, and the text shown stays.
#include "serial/portnames.h"

#include <QComboBox>
#include <functional>

class TPortCombo : public QComboBox {
    Q_OBJECT
public:
    // The description of an entry (with the mark of a port the user may not open).
    static constexpr int DescriptionRole = Qt::UserRole + 1;

    explicit TPortCombo(QWidget *parent = nullptr);

    // Where the list comes from (the system's port list unless replaced).
    void setSource(std::function<QList<SerialPortInfo>()> source) { source_ = std::move(source); }

    // Reads the list again; the text shown stays, selecting its entry if there is one.
    void refresh();
    void showPopup() override;

    // What the drop-down shows for an entry: the path, then the description.
    static QString entryText(const QString &path, const QString &description);

private:
    std::function<QList<SerialPortInfo>()> source_;
};
