#include "app/portcombo.h"

#include <QAbstractItemView>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace {

// Draws an entry of the drop-down as its path and description.
class PortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = TPortCombo::entryText(index.data(Qt::DisplayRole).toString(),
                                             index.data(TPortCombo::DescriptionRole).toString());
    }
};

} // namespace

// The drop-down's entries get their drawing when the list is first read: setting it
// makes the drop-down, which the window's start does not need.
TPortCombo::TPortCombo(QWidget *parent) : QComboBox(parent), source_(listPorts) {}

QString TPortCombo::entryText(const QString &path, const QString &description)
{
    return description.isEmpty() ? path : path + QStringLiteral("   ") + description;
}

void TPortCombo::refresh()
{
    if (!dynamic_cast<PortEntryDelegate *>(itemDelegate()))
        setItemDelegate(new PortEntryDelegate(this));
    const QString shown = currentText();
    const QList<SerialPortInfo> ports = source_ ? source_() : QList<SerialPortInfo>();
    {
        // Re-reading the list is no choice of the user's: no handler runs.
        const QSignalBlocker blocker(this);
        clear();
        for (const SerialPortInfo &port : ports) {
            const QString description = portListText(port);
            addItem(port.path);
            setItemData(count() - 1, description, DescriptionRole);
            setItemData(count() - 1, entryText(port.path, description), Qt::ToolTipRole);
            setItemData(count() - 1, description, Qt::AccessibleDescriptionRole);
        }
        const int entry = findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
        setCurrentIndex(entry);
        if (entry < 0)
            setEditText(shown);
    }
    // The drop-down is as wide as its longest entry, at least as the box.
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = qMax(widest, view()->sizeHintForIndex(model()->index(i, 0)).width());
    view()->setMinimumWidth(qMax(width(), widest + 8));
}

void TPortCombo::showPopup()
{
    refresh();
    QComboBox::showPopup();
}
