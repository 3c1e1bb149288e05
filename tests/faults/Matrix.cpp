#include "tests/faults/Matrix.h"

#include <filesystem>
#include <fstream>

#include "platform/posix/PosixSerialPort.h"
#include "tests/faults/RowRules.h"

std::string Matrix::CaseFolder() {
    const std::string folder = Root + "/case" + std::to_string(++Cases);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string Matrix::DataFolderOf(const std::string& caseFolder) {
    return caseFolder + "/data/KARDO/Q40Prog";
}

std::vector<std::string> Matrix::BoxOptions(const std::string& caseFolder) const {
    return {
        "--chip",       TestDevice::Chip,           "--eeprom-in",   Device.EepromPath,
        "--dump-flash", caseFolder + "/flash.dump", "--dump-eeprom", caseFolder + "/eeprom.dump"};
}

int LastRecordCode(const std::string& dataFolder) {
    std::ifstream in(dataFolder + "/runs.jsonl");
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return RecordCodeOf(last);
}

bool PortOpensAgain(const std::string& path) {
    PosixSerialPort port;
    if (!port.Open(path)) return false;
    port.Close();
    return true;
}
