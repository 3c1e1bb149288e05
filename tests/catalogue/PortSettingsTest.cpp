// The port list and the port remembered between runs.
#include "catalogue/PortSettings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {
// Settings of a throw-away user, in a temporary folder.
class RememberedPort : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Home.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Home.path());
    }
    void Remember(const QString& port) {
        auto settings = OpenSettings();
        ASSERT_TRUE(StorePort(settings, port));
    }
    QTemporaryDir Home;
};

struct RestoreCase {
    const char* Title;
    const char* Remembered;
    QStringList Listed;
    int Index;
    const char* Text;
};

void PrintTo(const RestoreCase& c, std::ostream* os) {
    *os << c.Title;
}

class RestoreFromList : public RememberedPort, public testing::WithParamInterface<RestoreCase> {};

TEST_P(RestoreFromList, SelectsTheWholeNameWithoutRegardToCase) {
    const RestoreCase& c = GetParam();
    Remember(c.Remembered);
    QStringList list = c.Listed;
    const auto settings = OpenSettings();
    const PortChoice choice = RestorePort(settings.get(), list);
    EXPECT_EQ(choice.Index, c.Index) << c.Title;
    EXPECT_EQ(choice.Text.toStdString(), c.Text) << c.Title;
    EXPECT_EQ(list, c.Listed) << c.Title;
}

const RestoreCase RestoreCases[] = {
    {"com3 selects COM3", "com3", {"COM1", "COM3", "COM10"}, 1, "COM3"},
    {"ttyusb0 selects ttyUSB0", "ttyusb0", {"ttyS0", "ttyUSB0"}, 1, "ttyUSB0"},
    {"the first of two equal names", "ttyacm0", {"ttyACM0", "TTYACM0"}, 0, "ttyACM0"},
    {"a prefix is no match", "ttyUSB", {"ttyUSB0"}, -1, "ttyS0"},
    {"a longer name is no match", "ttyUSB01", {"ttyUSB0"}, -1, "ttyS0"},
    {"an unplugged port leaves ttyS0", "ttyUSB3", {"ttyS0", "ttyUSB0"}, -1, "ttyS0"},
    {"a missing path leaves ttyS0", "/dev/serial/by-id/no-such-box", {"ttyS0"}, -1, "ttyS0"},
};

INSTANTIATE_TEST_SUITE_P(PortSettings, RestoreFromList, testing::ValuesIn(RestoreCases));

TEST_F(RememberedPort, NothingRememberedShowsTtyS0) {
    QStringList list{"ttyUSB0"};
    const auto settings = OpenSettings();
    const PortChoice choice = RestorePort(settings.get(), list);
    EXPECT_EQ(choice.Index, -1);
    EXPECT_EQ(choice.Text, "ttyS0");
    EXPECT_EQ(list, QStringList{"ttyUSB0"});
}

TEST_F(RememberedPort, NoSettingsShowsTtyS0) {
    QStringList list{"ttyS0"};
    EXPECT_EQ(RestorePort(nullptr, list).Index, -1);
}

TEST_F(RememberedPort, ExistingUnlistedPathIsListedAndSelected) {
    const QString link = Home.filePath("usb-KARDO_Programmer-if00-port0");
    QFile file(link);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Remember(link);
    QStringList list{"ttyS0", "ttyUSB0"};
    const auto settings = OpenSettings();
    const PortChoice choice = RestorePort(settings.get(), list);
    EXPECT_EQ(choice.Index, 2);
    EXPECT_EQ(choice.Text, link);
    EXPECT_EQ(list, (QStringList{"ttyS0", "ttyUSB0", link}));
}

TEST_F(RememberedPort, TypedNameIsStoredAndReleased) {
    auto settings = OpenSettings();
    EXPECT_TRUE(StorePort(settings, "COM7"));
    EXPECT_EQ(settings, nullptr);
    EXPECT_EQ(OpenSettings()->value("ComPort").toString(), "COM7");
    EXPECT_FALSE(StorePort(settings, "COM8"));  // already released
}

TEST(PortList, AppendsInTheSystemsOrder) {
    QStringList list{"typed"};
    FillPortList(list, {"ttyS0", "ttyS1", "ttyUSB0"});
    EXPECT_EQ(list, (QStringList{"typed", "ttyS0", "ttyS1", "ttyUSB0"}));
}
// The drop-down describes an entry whether it holds the port's name, node or stable name.
TEST(PortList, LabelFoundByNameNodeOrStableName) {
    const std::vector<SerialPortInfo> ports = {
        {"ttyS0", "/dev/ttyS0", "pnp", "serial", "", "", "", "", "", ""},
        {"ttyUSB0", "/dev/ttyUSB0", "usb", "ftdi_sio", "FTDI", "FT232R", "A1", "0403", "6001",
         "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"}};
    for (const char* entry :
         {"ttyUSB0", "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"}) {
        const PortLabel label = LabelOf(entry, ports);
        EXPECT_EQ(label.Description, "FTDI FT232R, serial A1 (USB 0403:6001)") << entry;
        EXPECT_EQ(label.Details,
                  "FTDI FT232R, serial A1 (USB 0403:6001)\n"
                  "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0")
            << entry;
    }
    EXPECT_EQ(LabelOf("ttyS0", ports).Details, "on-board serial port");
    EXPECT_TRUE(LabelOf("ttyusb0", ports).Description.isEmpty());  // as typed, no such port
    EXPECT_TRUE(LabelOf("", ports).Description.isEmpty());
}
}  // namespace
