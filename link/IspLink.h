#pragma once
// The programmer driver: one object per user action, opened once, destroyed at the end
// (which closes the port). Every failure is thrown as EProgError.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/DeviceTable.h"
#include "link/ImageBuffer.h"
#include "link/ProgError.h"
#include "link/Progress.h"
#include "link/SerialPort.h"

// Protocol constants of the programmer box.
namespace isp {
constexpr int BufferSize = 1024;  // Frame and Reply
constexpr int BlockSize = 32;     // data bytes of every 'r', 'w', 'R', 'W' frame
constexpr int AttemptsPerBlock = 10;
constexpr int EnableAttempts = 64;
constexpr int32_t ExtendedAddressLimit = 0x20000;  // flash above this needs Load Extended Address

constexpr int ReadIntervalMs = 1000;
constexpr int ReadTotalPerByteMs = 1000;
constexpr int ReadTotalConstantMs = 1000;
constexpr int ResetPulseMs = 100;   // DTR asserted
constexpr int ResetSettleMs = 500;  // after DTR released, before the first command
constexpr int EnableStepMs = 30;    // between the programming-mode entry letters
constexpr int EraseWaitMs = 30;

constexpr uint8_t CmdIsp = 'I', CmdHigh = 'H', CmdLow = 'L', CmdEnable = 'E', CmdPulse = 'P',
                  CmdDisable = 'D', CmdPortTime = 't', CmdVersion = 'V', CmdReadEeprom = 'r',
                  CmdWriteEeprom = 'w', CmdReadFlash = 'R', CmdWriteFlash = 'W', CmdStorePage = 'S';

constexpr uint8_t FuseParam = 10;        // ISP parameter byte of the fuse writes
constexpr uint8_t EepromWriteParam = 7;  // 'w'
constexpr uint8_t ByteModeParam1 = 4, ByteModeParam2 = 127;  // 'W' in byte mode
constexpr uint8_t PageModeParam1 = 0, PageModeParam2 = 0;    // 'W' in page mode
constexpr uint8_t StoreParam1 = 20, StoreParam2 = 255;       // 'S'
constexpr uint8_t EnableAnswer = 0x53;

constexpr const char* Banner = "KARDO Programmer \"AVR\" ";
}  // namespace isp

class TIspLink {
public:
    // Without arguments the link uses this machine's serial port and real waits.
    TIspLink();
    TIspLink(std::unique_ptr<ISerialPort> port, IClock& clock);
    ~TIspLink();
    TIspLink(const TIspLink&) = delete;
    TIspLink& operator=(const TIspLink&) = delete;

    // Serial link.
    void OpenPort(const std::string& portName);
    void ResetProgrammer();
    void WriteByte(int value);
    uint8_t ReadByte();
    void ReadBlock(uint8_t* dest, unsigned count);
    void WriteBlock(const uint8_t* src, int count);
    uint8_t SendCommand(int letter);
    // What the system shows about the port that may explain a failure to open it or a
    // box that does not answer (codes 2, 4 to 7), one sentence each; nothing otherwise.
    std::vector<std::string> ExplainFailure(const EProgError& e) const;
    // Since the chip answered the Programming Enable and until 'D' or a reset.
    bool InProgrammingMode() const { return ProgMode; }

    // Programmer commands.
    void IspCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t param);
    void SetPortTime(int value);
    void EnableProgMode();
    std::string ReadChipType();
    void DisableProgMode();
    std::string ReadVersion();
    void EraseChip();
    // After a failure: asks for the signature once more. True when the chip still answers
    // with its own (any known one before it was identified); a box that does not answer
    // throws, as every command does.
    bool ChipAnswers();

    // Memory transfers.
    void ReadEeprom();
    void ProgramEeprom();
    void ProgramFlash();
    // For an EEPROM that was not erased first: writes and verifies every block of
    // EepromImage that differs from 'current' (the EEPROM as read), blank blocks included.
    void ProgramEepromOver(const uint8_t* current);
    // Reads the whole EEPROM back and compares it with EepromImage; code 12 at a difference.
    void VerifyEeprom();
    // Reads flash addresses 0 to Device.FlashSize - 1 into FlashImage. Sends 'R' frames only.
    void ReadFlash();
    // Reads the whole flash and compares it with FlashImage, without writing anything. Every
    // block is read, so that the failure (code 10) can tell how many differ; MismatchLog then
    // holds the dump of the first of them.
    void VerifyFlash();
    static bool IsBlank(const uint8_t* bytes, int count);
    void DumpMismatch(const uint8_t* written, const uint8_t* read, int32_t address, int count);

    DeviceEntry Device{};
    uint8_t Frame[isp::BufferSize] = {};
    uint8_t Reply[isp::BufferSize] = {};
    uint8_t FlashImage[isp::FlashImageSize];
    uint8_t EepromImage[isp::EepromImageSize];
    ProgressCallback OnProgress = nullptr;
    void* UserData = nullptr;
    std::vector<std::string> MismatchLog;
    // Verification attempts that had to be repeated during this object's life.
    int RetriesUsed = 0;
    // Blocks of 32 bytes that differed in the last VerifyFlash.
    int BlocksDiffering = 0;

private:
    // What the link is doing, so that a box going quiet in the middle of it can be told
    // where: the operation and the address of the block under way.
    struct Activity {
        const char* What = nullptr;  // "programming the flash"; null between operations
        int32_t Address = -1;        // -1: no block
    };
    // Names the operation for its length; the one around it, if any, comes back after it.
    class Doing {
    public:
        Doing(TIspLink& link, const char* what) : Link(link), Before(link.Now) {
            link.Now = {what, -1};
        }
        ~Doing() { Link.Now = Before; }
        Doing(const Doing&) = delete;
        Doing& operator=(const Doing&) = delete;

    private:
        TIspLink& Link;
        Activity Before;
    };
    // The detail of code 4: nothing ever answered on the port, or where the box went quiet.
    std::string SilenceDetail() const;

    bool ProgramEepromBlock(int32_t& p);
    bool RewriteEepromBlock(int32_t& p);
    bool WriteEepromBlock(int32_t p);
    bool ProgramFlashBlock(int32_t& p);
    bool ProgramFlashPage(int32_t& p);
    void ProgramLoop(int32_t extent, ProgressPhase phase, ProgressPhase done, int32_t failCode,
                     bool (TIspLink::*step)(int32_t&));
    bool Report(int32_t position, int32_t total, ProgressPhase phase);
    // The letter with its echo check, then the bytes that follow it in one write.
    void SendFrame(int letter, const uint8_t* tail, int count);
    bool ReadBackMatches(int letter, int32_t address, const uint8_t* expected);
    void ReadFlashBlock(int32_t address, uint8_t* dest);
    [[noreturn]] void FailOpen();

    const uint8_t* EepromBefore = nullptr;  // ProgramEepromOver's 'current'
    Activity Now;
    uint8_t LastLetter = 0;  // the command letter sent last
    bool Heard = false;      // a byte came from the box since the port was opened
    bool ProgMode = false;

    std::unique_ptr<ISerialPort> Port;
    IClock& Clock;
};
