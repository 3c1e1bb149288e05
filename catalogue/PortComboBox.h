#pragma once
// The port box: an editable combo box whose text is the port name every operation uses.
// Its drop-down shows what each port is beside its name and lists the ports anew each
// time it opens, so a box plugged in after start appears.

#include <QComboBox>
#include <functional>
#include <vector>

#include "link/PortList.h"

class QStandardItemModel;
class QTreeView;

class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    enum Column { NameColumn, DescriptionColumn };

    explicit PortComboBox(QWidget* parent = nullptr);

    // Replaces the entries with 'names', described from 'ports'; selects 'index' (-1: none)
    // and leaves 'text' as the box's text.
    void SetPorts(const QStringList& names, const std::vector<SerialPortInfo>& ports, int index,
                  const QString& text);
    QString Description(int row) const;

    // Called before the drop-down opens; the window refreshes the list here.
    std::function<void()> AboutToOpen;

    void showPopup() override;

private:
    void ShowDetailsOfText(const QString& text);
    void FitPopupWidth();

    QStandardItemModel* Model;
    QTreeView* List;
    std::vector<SerialPortInfo> Ports;
};
