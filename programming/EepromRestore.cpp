#include "programming/EepromRestore.h"

#include <cstring>

#include "programming/EepromCopy.h"

std::string ChipOfEepromCopy(const std::string& copyPath) {
    const std::string name = copyPath.substr(copyPath.find_last_of('/') + 1);
    const std::string prefix = "eeprom-";
    if (name.rfind(prefix, 0) != 0) return {};
    const auto end = name.find('-', prefix.size());
    return end == std::string::npos ? std::string()
                                    : name.substr(prefix.size(), end - prefix.size());
}

namespace {
void CheckCopyFits(const std::string& path, const std::vector<uint8_t>& copy,
                   const DeviceEntry& device) {
    const std::string named = ChipOfEepromCopy(path);
    if (!named.empty() && named != device.Name)
        throw EProgError(errBackupMismatch, "the copy is from an " + named +
                                                ", the connected chip is an " + device.Name);
    if (copy.size() != static_cast<std::size_t>(device.EepromSize))
        throw EProgError(errBackupMismatch, "the copy holds " + std::to_string(copy.size()) +
                                                " bytes, the " + device.Name + " has " +
                                                std::to_string(device.EepromSize));
}

bool Forward(void* report, int32_t position, int32_t total, ProgressPhase phase) {
    return static_cast<IRunReport*>(report)->Progress(position, total, phase);
}
}  // namespace

RunOutcome RestoreEeprom(const std::string& portName, const std::string& copyPath,
                         IRunReport& report, const LinkFactory& makeLink) {
    RunOutcome outcome;
    outcome.EepromCopyPath = copyPath;
    report.ClearLog();
    {
        std::unique_ptr<TIspLink> link = makeLink();
        link->OnProgress = &Forward;
        link->UserData = &report;
        try {
            report.Log("loading eeprom copy " + copyPath);
            const std::vector<uint8_t> copy = LoadEepromCopy(copyPath);
            report.Log("opening serial port " + portName);
            link->OpenPort(portName);
            link->ResetProgrammer();
            link->SetPortTime(100);
            link->EnableProgMode();
            report.Log("reading chip type...");
            outcome.Chip = link->ReadChipType();
            report.Log("chip type is " + outcome.Chip);
            report.ChipIdentified(outcome.Chip);
            CheckCopyFits(copyPath, copy, link->Device);
            std::memcpy(link->EepromImage, copy.data(), copy.size());
            report.Log("programming eeprom...");
            outcome.DeviceTouched = true;
            link->ProgramEeprom();
            report.Log("disabling programming mode");
            link->DisableProgMode();
            report.Log("done without any problem.");
            outcome.Success = true;
        } catch (const EProgError& e) {
            outcome.Code = e.Code;
            outcome.Message = GetErrorText(e.Code);
            outcome.Detail = e.Detail;
            report.Log("programming interrupted: " + outcome.Message);
            if (!e.Detail.empty()) report.Log(e.Detail);
            if (outcome.Chip.empty())
                for (const std::string& line : link->ExplainFailure(e)) report.Log(line);
            report.Failed(outcome.Message);
        }
        outcome.Retries = link->RetriesUsed;
    }
    report.Ended(outcome);
    return outcome;
}
