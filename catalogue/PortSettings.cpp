#include "catalogue/PortSettings.h"

#include <QFileInfo>
#include <QVariant>

namespace {
// A value that is not a string reads as the empty text.
QString RememberedPort(const QSettings* settings) {
    if (!settings) return {};
    const QVariant v = settings->value(PortSettingKey);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

bool IsExistingPath(const QString& port) {
    return port.startsWith('/') && QFileInfo::exists(port);
}
}  // namespace

std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(SettingsOrganization, SettingsApplication);
}

void FillPortList(QStringList& list, const std::vector<std::string>& systemPorts) {
    for (const std::string& port : systemPorts) list.append(QString::fromStdString(port));
}

PortChoice RestorePort(const QSettings* settings, QStringList& list) {
    const QString remembered = RememberedPort(settings);
    for (int i = 0; i < list.size(); ++i)
        if (list[i].compare(remembered, Qt::CaseInsensitive) == 0) return {i, list[i]};
    if (IsExistingPath(remembered)) {
        list.append(remembered);
        return {static_cast<int>(list.size() - 1), remembered};
    }
    return {};
}

PortChoice RefreshPortList(const QString& text, const std::vector<std::string>& systemPorts,
                           QStringList& list) {
    list.clear();
    FillPortList(list, systemPorts);
    if (!list.contains(text) && IsExistingPath(text)) list.append(text);
    return {static_cast<int>(list.indexOf(text)), text};
}

PortLabel LabelOf(const QString& entry, const std::vector<SerialPortInfo>& ports) {
    const std::string name = entry.toStdString();
    for (const SerialPortInfo& p : ports)
        if (p.Name == name || p.Node == name || (!p.ById.empty() && p.ById == name))
            return {QString::fromStdString(PortDescription(p)),
                    QString::fromStdString(PortDetails(p))};
    return {};
}

bool StorePort(std::unique_ptr<QSettings>& settings, const QString& text) {
    if (!settings) return false;
    settings->setValue(PortSettingKey, text);
    settings->sync();
    const bool saved = settings->status() == QSettings::NoError;
    settings.reset();
    return saved;
}
