// The port box: each entry's text is the port name, what the port is shows beside it and in
// its tool tip, the list is made anew when the drop-down opens, and a failed check shows
// the port's troubles under the fixed text.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/mainwindow/WindowFixture.h"

namespace {
const std::string StableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X1Z-if00-port0";
const QString FtdiDescription = "FTDI FT232R USB UART, serial A10K3X1Z (USB 0403:6001)";

SerialPortInfo OnBoard(const std::string& name) {
    return {name, "/dev/" + name, "pnp", "serial", "", "", "", "", "", ""};
}

SerialPortInfo Ftdi() {
    return {"ttyUSB0",         "/dev/ttyUSB0", "usb",  "ftdi_sio", "FTDI",
            "FT232R USB UART", "A10K3X1Z",     "0403", "6001",     StableName};
}

SerialPortInfo Arduino() {
    return {"ttyACM0",
            "/dev/ttyACM0",
            "usb",
            "cdc_acm",
            "Arduino (www.arduino.cc)",
            "Uno R3",
            "55739323637351F0E1C1",
            "2341",
            "0043",
            "/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_55739323637351F0E1C1-if00"};
}

QStringList Entries(const QComboBox& box) {
    QStringList names;
    for (int i = 0; i < box.count(); ++i) names << box.itemText(i);
    return names;
}

using PortBox = WindowFixture;
}  // namespace

TEST_F(PortBox, EntriesAreNamesWithWhatEachPortIsBesideThem) {
    SystemPorts = {OnBoard("ttyS0"), Ftdi()};
    QSettings("KARDO", "Q40-Programmer").setValue("ComPort", "ttyusb0");
    Show();
    PortComboBox& box = *Form->PortBox;
    EXPECT_EQ(Entries(box), (QStringList{"ttyS0", "ttyUSB0"}));
    EXPECT_EQ(box.currentIndex(), 1);  // remembered without regard to case, as always
    EXPECT_EQ(box.currentText(), "ttyUSB0");
    EXPECT_EQ(box.Description(0), "on-board serial port");
    EXPECT_EQ(box.Description(1), FtdiDescription);
    const QString details = FtdiDescription + "\n" + QString::fromStdString(StableName);
    EXPECT_EQ(box.model()->index(1, PortComboBox::NameColumn).data(Qt::ToolTipRole), details);
    EXPECT_EQ(box.model()->index(1, PortComboBox::DescriptionColumn).data(Qt::ToolTipRole),
              details);
    EXPECT_EQ(box.toolTip(), details);

    box.setCurrentIndex(0);
    EXPECT_EQ(box.currentText(), "ttyS0");
    EXPECT_EQ(box.toolTip(), "on-board serial port");
    box.setEditText("ttyUSB9");  // typed: no port of the list
    EXPECT_EQ(box.toolTip(), "");
    Form->close();
    EXPECT_EQ(QSettings("KARDO", "Q40-Programmer").value("ComPort").toString(), "ttyUSB9");
}

TEST_F(PortBox, OpeningTheDropDownListsThePortsAnewAndKeepsTheText) {
    SystemPorts = {OnBoard("ttyS0")};
    Show();
    PortComboBox& box = *Form->PortBox;
    const auto open = [&] {
        box.showPopup();
        EXPECT_TRUE(box.view()->isVisible());
        box.hidePopup();
    };

    box.setEditText("ttyACM7");
    SystemPorts.push_back(Ftdi());  // plugged in after start
    open();
    EXPECT_EQ(Entries(box), (QStringList{"ttyS0", "ttyUSB0"}));
    EXPECT_EQ(box.Description(1), FtdiDescription);
    EXPECT_EQ(box.currentText(), "ttyACM7");
    EXPECT_EQ(box.currentIndex(), -1);

    box.setCurrentIndex(1);
    SystemPorts = {Arduino(), OnBoard("ttyS0"), Ftdi()};
    open();
    EXPECT_EQ(Entries(box), (QStringList{"ttyACM0", "ttyS0", "ttyUSB0"}));
    EXPECT_EQ(box.currentIndex(), 2);  // still the chosen port
    EXPECT_EQ(box.currentText(), "ttyUSB0");

    SystemPorts = {OnBoard("ttyS0")};  // unplugged: the name stays, the entry goes
    open();
    EXPECT_EQ(Entries(box), QStringList{"ttyS0"});
    EXPECT_EQ(box.currentText(), "ttyUSB0");
    EXPECT_EQ(box.currentIndex(), -1);

    // An existing path that no listing shows stays an entry, as at start.
    const std::string path = DataFolder.File("ttyLINK");
    std::ofstream(path).put('\n');
    box.setEditText(QString::fromStdString(path));
    open();
    EXPECT_EQ(Entries(box), (QStringList{"ttyS0", QString::fromStdString(path)}));
    EXPECT_EQ(box.currentIndex(), 1);
}

TEST_F(PortBox, DropDownIsWideEnoughForTheDescriptions) {
    SystemPorts = {OnBoard("ttyS0"), Ftdi(), Arduino()};
    Show();
    PortComboBox& box = *Form->PortBox;
    box.showPopup();
    auto* list = qobject_cast<QTreeView*>(box.view());
    ASSERT_NE(list, nullptr);
    const int needed = list->header()->sectionSize(0) + list->header()->sectionSize(1);
    EXPECT_GE(list->viewport()->width(), needed);
    EXPECT_GT(list->width(), box.width());
    box.hidePopup();
}

TEST_F(PortBox, FailedCheckShowsTheFixedTextAndThePortsTroublesBelow) {
    Show();
    Form->PortBox->setEditText("ttyUSB0");
    Factory.OpenErrno = EBUSY;
    Factory.Troubles = {
        "/dev/ttyUSB0 is held by minicom (pid 4242): end that program, then try "
        "again."};
    QTest::mouseClick(Form->CheckButton, Qt::LeftButton);
    Select("Main controller");
    QTest::mouseClick(Form->ButtonUpdate, Qt::LeftButton);  // the chip query fails alike
    ASSERT_EQ(Boxes.All.size(), 2u);
    for (const auto& shown : Boxes.All) {
        EXPECT_EQ(shown.Kind, "error");
        EXPECT_EQ(shown.Text, "Error opening serial port. Port already in use?");
        EXPECT_EQ(shown.Detail, QString::fromStdString(Factory.Troubles[0]));
    }
}

// The real error box: the fixed text as its text, the detail as its informative text.
TEST(ErrorBox, DetailIsTheInformativeTextUnderTheFixedText) {
    QString text, detail;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                text = box->text();
                detail = box->informativeText();
                box->accept();
            }
    });
    poll.start(10);
    MessageBoxes().Error(nullptr, "Programmer not connected.",
                         "ModemManager is running (pid 812): ...\nbrltty is installed: ...");
    EXPECT_EQ(text, "Programmer not connected.");
    EXPECT_EQ(detail, "ModemManager is running (pid 812): ...\nbrltty is installed: ...");
}

// Renders the main window with its port drop-down open into $Q40_SCREENSHOT_DIR.
TEST_F(PortBox, Screenshot) {
    const char* dir = std::getenv("Q40_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "Q40_SCREENSHOT_DIR not set";
    TempFolder example;
    std::filesystem::copy(Q40_EXAMPLE_FOLDER, example.Path,
                          std::filesystem::copy_options::recursive);
    Location = {example.File("Q40Prog.INI"), example.Path};
    SystemPorts = {Arduino(), OnBoard("ttyS0"), OnBoard("ttyS1"), Ftdi()};
    QSettings("KARDO", "Q40-Programmer").setValue("ComPort", "ttyUSB0");
    Show("AB175");
    PortComboBox& box = *Form->PortBox;
    box.showPopup();
    QWidget* popup = box.view()->window();
    ASSERT_TRUE(popup->isVisible());
    const QPoint origin = Form->mapToGlobal(QPoint(0, 0));
    const QRect formArea(QPoint(0, 0), Form->size());
    const QRect popupArea(popup->mapToGlobal(QPoint(0, 0)) - origin, popup->size());
    const QRect canvas = formArea.united(popupArea);
    QPixmap picture(canvas.size());
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(formArea.topLeft() - canvas.topLeft(), Form->grab());
    painter.drawPixmap(popupArea.topLeft() - canvas.topLeft(), popup->grab());
    painter.end();
    box.hidePopup();
    EXPECT_TRUE(picture.save(QString(dir) + "/port-dropdown.png"));
}
