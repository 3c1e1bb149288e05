#include <gtest/gtest.h>

#include <cerrno>

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
        {31, "Error using the record of pending EEPROM copies."},
        {32, "Fuse not present on this chip."},
        {33, "Fuse verify error."},
        {34, "Firmware image is empty or too short."},
        {35, "This item cannot be programmed using this selection!"},
        {36, "The device's chip is not the one the values were chosen for."},
        {37, "Unknown Error"},
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

// The OS's reason belongs to failures the OS gave; a failure of the link's own making does not
// pick up whatever errno a call before it left behind.
TEST(ErrorText, OsErrorOnlyForFailuresFromTheOs) {
    errno = EIO;
    EXPECT_EQ(EProgError(errBadEcho).OsError, 0u);
    EXPECT_EQ(EProgError(errImageTooLarge, "application length 2").OsError, 0u);

    const EProgError os = OsFailure(errDataFolder, ENOSPC, "/data/logs");
    EXPECT_EQ(os.OsError, static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(os.Detail, "/data/logs: No space left on device");
    const EProgError bare = OsFailure(errPortInUse, EBUSY, "");
    EXPECT_EQ(bare.OsError, static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(bare.Detail, "");
}
