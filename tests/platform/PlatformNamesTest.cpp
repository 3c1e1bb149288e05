// Names the platform gives: what a port name opens, where the data folder is, the program's
// own path, and calendar time both ways.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "catalogue/CatalogueLocation.h"
#include "link/SerialPort.h"
#include "platform/CalendarTime.h"
#include "programming/DataFolder.h"

TEST(PlatformNames, WhatAPortNameOpens) {
    const struct {
        const char* Given;
        const char* Opens;
    } cases[] = {
#ifdef _WIN32
        {"COM3", "\\\\.\\COM3"},
        {"com12", "\\\\.\\COM12"},
        {"Com7", "\\\\.\\COM7"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
#else
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
#endif
    };
    for (const auto& c : cases) EXPECT_EQ(SerialDevicePath(c.Given), c.Opens) << c.Given;
}

TEST(PlatformNames, DataFolderIsTheUsersOwn) {
    const std::string folder = DefaultDataFolder();
    const std::string tail = "/KARDO/Q40Prog";
    ASSERT_GT(folder.size(), tail.size());
    EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
#ifdef _WIN32
    const char* base = std::getenv("LOCALAPPDATA");
    ASSERT_NE(base, nullptr);
    std::string expected = base;
    for (char& c : expected)
        if (c == '\\') c = '/';
    EXPECT_EQ(folder, expected + tail);
#endif
}

TEST(PlatformNames, OwnPathIsAnExistingFile) {
    const std::string self = OwnExecutablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(IsExistingFile(self)) << self;
    EXPECT_EQ(self.find('\\'), std::string::npos) << self;  // "/" between folders everywhere
    const std::string folder = self.substr(0, self.rfind('/'));
    EXPECT_FALSE(IsExistingFile(folder)) << folder;
    EXPECT_FALSE(IsExistingFile(folder + "/no-such-file.ini"));
}

TEST(PlatformNames, CalendarTimeBothWays) {
    for (const std::time_t t : {std::time_t{0}, std::time_t{951782400}, std::time_t{1893456000}}) {
        const std::tm utc = UtcCalendar(t);
        EXPECT_EQ(FromUtcCalendar(utc), t);
        const std::tm local = LocalCalendar(t);
        std::tm copy = local;
        EXPECT_EQ(std::mktime(&copy), t);
    }
    // 2000-02-29, a leap day, and fields out of range normalised as mktime does.
    std::tm leap = UtcCalendar(951782400);
    EXPECT_EQ(leap.tm_year, 100);
    EXPECT_EQ(leap.tm_mon, 1);
    EXPECT_EQ(leap.tm_mday, 29);
    leap.tm_mday += 1;
    EXPECT_EQ(FromUtcCalendar(leap), 951782400 + 86400);
}
