#include <gtest/gtest.h>

#include "link/ProgError.h"

TEST(ErrorText, FixedTextsAndUnknownCodes) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "Memory address out of range."},
        {1, "Error loading hex file. (Bad checksum)"},
        {2, "Programmer Error. (Bad echo)"},
        {3, "Programmer Error. (Bad acknowledge)"},
        {4, "Programmer not connected."},
        {5, "Error opening serial port. Port already in use?"},
        {6, "Error opening serial port. Port not available."},
        {7, "Serial port error!"},
        {8, "Unknown chip type."},
        {9, "Unable to enter programming mode."},
        {10, "Flash verify error!"},
        {11, "Flash programm error!"},
        {12, "EEProm verify error!"},
        {13, "EEProm programm error!"},
        {14, "Aborted."},
        {15, "Unknown Error"},
        {19, "Unknown Error"},
        {20, "Error opening firmware file."},
        {23, "Firmware does not fit into the chip's flash."},
        {24, "Invalid number."},
        {27, "Error writing to the data folder."},
        {28, "Stopped before the erase: an EEPROM copy may belong to this device."},
        {29, "Error reading the EEPROM copy."},
        {30, "Fuse value would lock out serial programming."},
        {31, "Unknown Error"},
        {255, "Unknown Error"},
        {-1, "Unknown Error"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetErrorText(c.code), c.text) << c.code;
}

TEST(ErrorText, DetailStaysApartFromTheText) {
    const EProgError e(errFileOpen, "File: /tmp/x.hex: No such file or directory");
    EXPECT_EQ(GetErrorText(e.Code), "Error opening firmware file.");
    EXPECT_EQ(e.Detail, "File: /tmp/x.hex: No such file or directory");
    EXPECT_EQ(EProgError(errAborted).Detail, "");
}
