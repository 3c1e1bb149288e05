// What several updates came to: the table's rows line up, and one exit code tells the worst.
#include "cli/ResultTable.h"

#include <gtest/gtest.h>

namespace {
RunOutcome Outcome(bool success, bool touched, const std::string& message = {}) {
    RunOutcome o;
    o.Success = success;
    o.DeviceTouched = touched;
    o.Message = message;
    return o;
}
}  // namespace

TEST(ResultTable, OneRowPerPortInColumns) {
    RunOutcome done = Outcome(true, true);
    done.Chip = "ATmega644P";
    done.Seconds = 12.345;
    done.EepromCopyPath = "/data/eeprom/eeprom-ATmega644P-ttyUSB0-1.bin";
    RunOutcome failed = Outcome(false, true, "Flash programm error!");
    failed.Chip = "ATmega644P";
    failed.Seconds = 8.04;
    failed.EepromCopyPath = "/data/eeprom/eeprom-ATmega644P-ttyUSB1-1.bin";
    const RunOutcome busy =
        Outcome(false, false, "Error opening serial port. Port already in use?");
    EXPECT_EQ(
        ResultTable({{"ttyUSB0", done}, {"ttyUSB1", failed}, {"ttyUSB0 (2)", busy}}),
        "port         chip        outcome                                          seconds  eeprom "
        "copy\n"
        "ttyUSB0      ATmega644P  done                                                12.3  "
        "/data/eeprom/eeprom-ATmega644P-ttyUSB0-1.bin\n"
        "ttyUSB1      ATmega644P  Flash programm error!                                8.0  "
        "/data/eeprom/eeprom-ATmega644P-ttyUSB1-1.bin\n"
        "ttyUSB0 (2)  -           Error opening serial port. Port already in use?      0.0  -\n");
}

TEST(ResultTable, ExitCodeIsTheWorstOfAll) {
    const RunOutcome done = Outcome(true, true), untouched = Outcome(false, false),
                     touched = Outcome(false, true);
    const struct {
        std::vector<RunOutcome> Outcomes;
        int Code;
    } cases[] = {
        {{}, 0},
        {{done, done}, 0},
        {{done, untouched}, 1},
        {{touched, done}, 3},
        {{untouched, touched, done}, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(ExitCodeOfAll(c.Outcomes), c.Code) << c.Outcomes.size();
}
