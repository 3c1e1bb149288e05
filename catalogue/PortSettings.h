#pragma once
// The serial-port half of the main window: the list of the machine's ports and the port
// remembered from the last run. Plain data in and out, so the window only moves it into
// its combo box.

#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "link/PortList.h"

constexpr char SettingsOrganization[] = "KARDO";
constexpr char SettingsApplication[] = "Q40-Programmer";
constexpr char PortSettingKey[] = "ComPort";
// The port box's text when no remembered port is listed: the first on-board serial port.
constexpr char InitialPortText[] = "ttyS0";

// The current user's settings of this program, created when missing.
std::unique_ptr<QSettings> OpenSettings();

// Appends the machine's serial ports (ListSerialPorts), in the system's order, named as a
// user types them.
void FillPortList(QStringList& list, const std::vector<std::string>& systemPorts);

struct PortChoice {
    int Index = -1;                  // selected list entry; -1: none
    QString Text = InitialPortText;  // the port box's text
};

// Selects the first entry equal to the remembered port without regard to case. A remembered
// path that no enumeration lists (a /dev/serial/by-id link, a pseudo-terminal) is appended
// and selected when it exists. Otherwise nothing is selected and the text stays ttyS0.
PortChoice RestorePort(const QSettings* settings, QStringList& list);

// The list when the drop-down opens: the machine's ports now, and the port box's text
// appended when it is an existing path that no port listing shows, as at start. The text
// stays exactly as it is; the entry equal to it is selected.
PortChoice RefreshPortList(const QString& text, const std::vector<std::string>& systemPorts,
                           QStringList& list);

// What the drop-down shows beside an entry, found by port name, device node or stable name.
struct PortLabel {
    QString Description;  // "FTDI FT232R USB UART, serial A10K3X1Z (USB 0403:6001)"
    QString Details;      // the description and the /dev/serial/by-id name, for the tool tip
};
PortLabel LabelOf(const QString& entry, const std::vector<SerialPortInfo>& ports);

// Remembers text as the port and releases the settings. False when it could not be saved;
// the port is then simply not remembered.
bool StorePort(std::unique_ptr<QSettings>& settings, const QString& text);
