#pragma once
// The programmer box: a byte-driven state machine in front of a TargetModel. Bytes go in
// through Receive; answers queue up in Output, each with the time the box needs first.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim/BoxConfig.h"
#include "sim/TargetModel.h"

struct OutByte {
    uint8_t Value;
    uint32_t DelayUs;  // busy time of the box before this byte leaves it
};

// Typical write times of the AVR data sheets (microseconds).
namespace chiptime {
constexpr uint32_t FlashPageUs = 4500;
constexpr uint32_t FlashByteUs = 4500;
constexpr uint32_t EepromByteUs = 3600;
constexpr uint32_t ChipEraseUs = 9000;
}  // namespace chiptime

class BoxModel {
public:
    explicit BoxModel(const BoxConfig& config);

    void Receive(const uint8_t* data, std::size_t count);
    void Receive(uint8_t byte) { Receive(&byte, 1); }
    // DTR pulse, or the host closing a pseudo-terminal: the box restarts, forgetting any
    // half-received command, and is out of programming mode.
    void Reset();
    // A board taken off the box: it answers like a box without a target until another one
    // is connected. A transfer under way reads blank bytes and writes nothing from then on.
    void RemoveTarget();
    // A board put on the box, holding what 'fresh' holds; nothing happens while one is on.
    void ConnectTarget(const TargetModel& fresh);
    bool TargetPresent() const { return HasTarget; }

    std::deque<OutByte> Output;
    TargetModel Target;

    // Wire statistics: bytes that crossed the line in each direction.
    long long BytesReceived = 0;
    long long BytesSent = 0;
    bool ProgEnabled = false;
    int EnableAttempts = 0;
    std::string CommandLetters;  // every command letter accepted, in order
    int TargetsConnected = 0;    // boards connected after the start
    // Runs at every 'D', after its echo is queued; the simulator writes its dumps here.
    std::function<void()> OnDisable;

private:
    void StartCommand(uint8_t letter);
    void Execute();
    void ExecuteIsp();
    void ReadBlock(bool flash);
    void WriteEepromBlock();
    void WriteFlashBlock();
    void StorePage();
    void Send(uint8_t value);
    uint8_t CorruptIfFaulty(bool flash, uint32_t address, std::size_t count, std::size_t index,
                            uint8_t value);
    void MarkWritten(bool flash, uint32_t address, std::size_t count);

    BoxConfig Config;
    bool HasTarget;
    uint8_t Letter = 0;  // command being received; 0 when idle
    std::vector<uint8_t> Frame;
    std::string RecentLetters;  // for the H, L, E, H, L entry
    bool EntryDone = false;
    uint32_t PendingDelayUs = 0;
    // Fault addresses written since their last read: only a read-back shows a fault, so
    // a plain read (the EEPROM saved before the erase) returns the true content.
    std::set<uint32_t> WrittenFlashFaults, WrittenEepromFaults;
};

// Bytes that follow a command letter, given those received so far ('w' and 'W' carry
// their data count inside the frame).
std::size_t CommandTailLength(uint8_t letter, const std::vector<uint8_t>& tailSoFar);

// Throws std::invalid_argument for a name that is no DeviceTable row.
const DeviceEntry& ChipByName(const std::string& name);
