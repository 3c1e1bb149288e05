#include "catalogue/PortComboBox.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

#include "catalogue/PortSettings.h"

PortComboBox::PortComboBox(QWidget* parent)
    : QComboBox(parent), Model(new QStandardItemModel(0, 2, this)), List(new QTreeView) {
    setModel(Model);
    setModelColumn(NameColumn);
    List->setHeaderHidden(true);
    List->setRootIsDecorated(false);
    List->setItemsExpandable(false);
    List->setUniformRowHeights(true);
    List->setAllColumnsShowFocus(true);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setView(List);  // the combo box owns it from here
    connect(this, &QComboBox::currentTextChanged, this, &PortComboBox::ShowDetailsOfText);
}

void PortComboBox::SetPorts(const QStringList& names, const std::vector<SerialPortInfo>& ports,
                            int index, const QString& text) {
    Ports = ports;
    Model->removeRows(0, Model->rowCount());
    for (const QString& name : names) {
        const PortLabel label = LabelOf(name, Ports);
        auto* nameItem = new QStandardItem(name);
        auto* descriptionItem = new QStandardItem(label.Description);
        descriptionItem->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
        for (QStandardItem* item : {nameItem, descriptionItem}) {
            item->setToolTip(label.Details);
            item->setEditable(false);
        }
        Model->appendRow({nameItem, descriptionItem});
    }
    setCurrentIndex(index);
    setEditText(text);
    ShowDetailsOfText(text);
}

QString PortComboBox::Description(int row) const {
    const QStandardItem* item = Model->item(row, DescriptionColumn);
    return item ? item->text() : QString();
}

void PortComboBox::ShowDetailsOfText(const QString& text) {
    setToolTip(LabelOf(text, Ports).Details);
}

void PortComboBox::showPopup() {
    if (AboutToOpen) AboutToOpen();
    FitPopupWidth();
    QComboBox::showPopup();
}

// The box is narrow; its drop-down is as wide as the names and descriptions need.
void PortComboBox::FitPopupWidth() {
    List->resizeColumnToContents(NameColumn);
    List->resizeColumnToContents(DescriptionColumn);
    const int columns = List->columnWidth(NameColumn) + List->columnWidth(DescriptionColumn);
    const int frame = 2 * List->frameWidth() + List->verticalScrollBar()->sizeHint().width();
    List->setMinimumWidth(qMax(width(), columns + frame));
}
