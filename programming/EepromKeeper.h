#pragma once
// The EEPROM's way through an update: saved before the chip erase; checked against the
// copies that interrupted updates left, so that a retry writes back the original and not
// the half-restored rest; marked pending until it is back in the device.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "link/IspLink.h"
#include "programming/EepromVerdict.h"
#include "programming/RunReport.h"

// Whether a run (in this process or another) is writing the copy back at this moment: until
// it has ended, its mark is no pending copy yet.
bool EepromCopyInUse(const std::string& path);

class EepromKeeper {
public:
    using LogLine = std::function<void(const std::string&)>;

    // 'copyToWrite': a saved copy the user chose to write back instead of what the device
    // holds; empty for none.
    EepromKeeper(std::string dataFolder, std::string port, std::string copyToWrite, LogLine log,
                 IRunReport& report);
    ~EepromKeeper();
    EepromKeeper(const EepromKeeper&) = delete;
    EepromKeeper& operator=(const EepromKeeper&) = delete;

    // Before the port is opened: reads the chosen copy and checks that the record of pending
    // copies can be locked and read, so a bad file touches nothing.
    void Prepare();
    // After ReadEeprom, before the erase: saves what was read, puts what must go back into
    // the link's EepromImage and marks that copy pending. Fills the outcome's copy paths.
    void BeforeErase(TIspLink& link, std::chrono::system_clock::time_point started,
                     RunOutcome& outcome);
    // After the erase: writes EepromImage back. What was read goes back as the transfer
    // writes it (blank blocks skipped); anything else is written block by block wherever the
    // erase may have left other bytes, and the whole EEPROM is read back.
    void ProgramEeprom(TIspLink& link);
    // The EEPROM is back and verified: the marks of its copy go.
    void WrittenBack();

private:
    void SaveWhatWasRead(TIspLink& link, std::chrono::system_clock::time_point started,
                         RunOutcome& outcome);
    void CheckPendingCopies(TIspLink& link, RunOutcome& outcome);
    std::vector<PendingContent> PendingOfChip(const std::string& chip, std::size_t size);
    std::vector<KnownCopy> KnownCopiesOf(const std::string& chip, std::size_t size,
                                         const std::string& ownCopy);
    void Decide(const EepromQuestion& question, const std::vector<PendingContent>& pending,
                TIspLink& link, RunOutcome& outcome);
    void WriteBack(const PendingContent& copy, TIspLink& link, RunOutcome& outcome);
    void MarkGoingBack(const std::string& chip, RunOutcome& outcome);

    const std::string DataFolder;
    const std::string Port;
    const std::string CopyToWrite;
    LogLine Log;
    IRunReport& Report;
    std::vector<uint8_t> ChosenCopy;
    std::vector<uint8_t> WhatWasRead;  // the device's EEPROM before this run wrote anything
    std::vector<std::string> ToClear;  // marks that go once the EEPROM is back
    // A lock on the copy going back, held while this run may still write it: other runs
    // leave a copy alone while its own update is under way, and the system drops the lock
    // when this process ends, however it ends.
    int CopyInUse = -1;
};
