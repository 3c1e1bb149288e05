// Opening, reset and the byte primitives against a scripted port.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "link/IspLink.h"
#include "link/OsErrorText.h"
#include "tests/support/ScriptedPort.h"
#include "tests/support/TestData.h"

namespace {
struct ScriptedLink {
    ScriptedLink() {
        auto owned = std::make_unique<ScriptedPort>();
        Port = owned.get();
        Link = std::make_unique<TIspLink>(std::move(owned), Clock);
    }
    FakeClock Clock;
    ScriptedPort* Port;
    std::unique_ptr<TIspLink> Link;
};

EProgError FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EProgError& e) {
        return e;
    }
    ADD_FAILURE() << "no failure";
    return EProgError(NoFailure);
}
}  // namespace

TEST(OpenPort, OsErrorsMapToCodes) {
    const struct {
        int os;
        int code;
    } cases[] = {{EBUSY, 5}, {EACCES, 5}, {EPERM, 5},  {ENOENT, 6}, {ENODEV, 6},
                 {ENXIO, 6}, {EIO, 7},    {EINVAL, 7}, {ENOTTY, 7}};
    for (const auto& c : cases) {
        ScriptedLink s;
        s.Port->OpenErrno = c.os;
        EXPECT_EQ(CodeOf([&] { s.Link->OpenPort("ttyUSB0"); }), c.code) << c.os;
    }
}

// The cure for missing rights is the port doctor's judgement, as the port hands it over;
// where the doctor finds nothing to cure, the OS's reason stands alone.
TEST(OpenPort, PermissionProblemNamesTheDoctorsCure) {
    const std::string cure =
        "/dev/ttyUSB0 may be read and written by its owner only (mode 0600): ask the "
        "administrator for a udev rule giving it to the group dialout.";
    for (const int os : {EACCES, EPERM}) {
        for (const std::string& given : {cure, std::string()}) {
            ScriptedLink s;
            s.Port->OpenErrno = os;
            s.Port->Cure = given;
            const EProgError e = FailureOf([&] { s.Link->OpenPort("ttyUSB0"); });
            EXPECT_EQ(e.OsError, static_cast<uint32_t>(os));
            EXPECT_EQ(GetErrorText(e.Code), "Error opening serial port. Port already in use?");
            const std::string reason = "/dev/ttyUSB0: " + OsErrorText(os);
            EXPECT_EQ(e.Detail, given.empty() ? reason : reason + ". " += cure);
        }
    }
}

TEST(OpenPort, BusyPortHasNoExtraText) {
    ScriptedLink s;
    s.Port->OpenErrno = EBUSY;
    try {
        s.Link->OpenPort("ttyUSB0");
        FAIL();
    } catch (const EProgError& e) {
        EXPECT_EQ(GetErrorText(e.Code), "Error opening serial port. Port already in use?");
        EXPECT_EQ(e.Detail, "");
    }
}

TEST(Lifecycle, ClosesOnlyWhatWasOpened) {
    {
        ScriptedLink never;
        EXPECT_EQ(never.Port->Closes, 0);
        never.Link.reset();
    }
    // The port goes with the link that owns it, so it hands its count over on the way out.
    struct CountingPort : ScriptedPort {
        explicit CountingPort(int& closes) : ClosesSeen(closes) {}
        ~CountingPort() override { ClosesSeen = Closes; }
        int& ClosesSeen;
    };
    int closes = -1;
    FakeClock clock;
    auto port = std::make_unique<CountingPort>(closes);
    port->OpenErrno = ENOENT;
    auto failed = std::make_unique<TIspLink>(std::move(port), clock);
    EXPECT_EQ(CodeOf([&] { failed->OpenPort("ttyS9"); }), 6);
    failed.reset();
    EXPECT_EQ(closes, 0);
}

// A read of n bytes waits 1000 ms between two bytes and 1000 x n + 1000 ms in all: a single
// echo at most 2 s, a 32-byte block at most 33 s.
TEST(OpenPort, SetsTheReadTimeOuts) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    EXPECT_EQ(s.Port->Timeouts.IntervalMs, 1000);
    EXPECT_EQ(s.Port->Timeouts.TotalMultiplierMs, 1000);
    EXPECT_EQ(s.Port->Timeouts.TotalConstantMs, 1000);
}

TEST(ResetProgrammer, PulsesDtrThenWaitsAndPurges) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Link->ResetProgrammer();
    EXPECT_EQ(s.Port->DtrChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(s.Clock.Waits, (std::vector<int>{100, 500}));
    EXPECT_EQ(s.Port->Purges, 2);
    EXPECT_TRUE(s.Port->Written.empty());
}

TEST(ResetProgrammer, DtrFailureIsSerialPortError) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Port->DtrErrno = EIO;
    EXPECT_EQ(CodeOf([&] { s.Link->ResetProgrammer(); }), 7);
}

TEST(Primitives, EchoAndReadFailures) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");

    s.Port->Queue({'V'});
    EXPECT_EQ(s.Link->SendCommand('V'), 'V');

    s.Port->Queue({'v'});
    EXPECT_EQ(CodeOf([&] { s.Link->SendCommand('V'); }), 2);

    // No box: nothing comes back within the time-outs.
    EXPECT_EQ(CodeOf([&] { s.Link->SendCommand('V'); }), 4);

    uint8_t block[32];
    s.Port->Queue(std::vector<uint8_t>(31, 0xAA));
    EXPECT_EQ(CodeOf([&] { s.Link->ReadBlock(block, 32); }), 4);

    s.Port->ReadErrno = EIO;
    EXPECT_EQ(CodeOf([&] { s.Link->ReadBlock(block, 32); }), 7);
    EXPECT_EQ(CodeOf([&] { s.Link->ReadByte(); }), 7);

    s.Port->WriteErrno = EIO;
    EXPECT_EQ(CodeOf([&] { s.Link->WriteByte('V'); }), 7);
    EXPECT_EQ(CodeOf([&] { s.Link->WriteBlock(block, 5); }), 7);
}

// A failed port call carries the OS's reason; an echo or a reply the box got wrong has none,
// whatever errno the calls before it left.
TEST(Primitives, OnlyPortFailuresCarryTheOsReason) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Port->ReadErrno = EIO;
    EXPECT_EQ(FailureOf([&] { s.Link->ReadByte(); }).OsError, static_cast<uint32_t>(EIO));
    s.Port->ReadErrno = 0;
    s.Port->Queue({'v'});
    errno = EIO;
    const EProgError badEcho = FailureOf([&] { s.Link->SendCommand('V'); });
    EXPECT_EQ(badEcho.Code, errBadEcho);
    EXPECT_EQ(badEcho.OsError, 0u);
    errno = EIO;
    const EProgError silent = FailureOf([&] { s.Link->SendCommand('V'); });
    EXPECT_EQ(silent.Code, errNotConnected);
    EXPECT_EQ(silent.OsError, 0u);
}

// Only the Programming Enable answer is tried again; a failed echo or a missing reply anywhere
// in the entry ends it at once, with nothing sent after the failing command.
TEST(EnableProgMode, FailedEchoEndsTheEntryAtOnce) {
    const std::vector<uint8_t> enableFrame = {'I', 0xAC, 0x53, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> refusal = {'I', 0x00, 0x00, 0x00, 0x00};  // no 0x53
    const struct {
        const char* Title;
        std::vector<uint8_t> Answers;
        int Code;
        std::vector<uint8_t> Written;
        std::vector<int> Waits;
    } cases[] = {
        {"wrong echo of the first L", {'H', 'x'}, 2, {'H', 'L'}, {30}},
        {"no echo of E", {'H', 'L'}, 4, {'H', 'L', 'E'}, {30, 30, 30}},
        {"short reply to Programming Enable",
         {'H', 'L', 'E', 'H', 'L', 'I', 0x00, 0x00},
         4,
         {'H', 'L', 'E', 'H', 'L', 'I', 0xAC, 0x53, 0x00, 0x00, 0x00},
         {30, 30, 30, 30, 30}},
    };
    for (const auto& c : cases) {
        ScriptedLink s;
        s.Link->OpenPort("ttyUSB0");
        s.Port->Queue(c.Answers);
        EXPECT_EQ(CodeOf([&] { s.Link->EnableProgMode(); }), c.Code) << c.Title;
        EXPECT_EQ(s.Port->Written, c.Written) << c.Title;
        EXPECT_EQ(s.Clock.Waits, c.Waits) << c.Title;
    }

    // A wrong echo of the P after a refused attempt: no second attempt.
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Port->Queue({'H', 'L', 'E', 'H', 'L'});
    s.Port->Queue(refusal);
    s.Port->Queue({'p'});
    EXPECT_EQ(CodeOf([&] { s.Link->EnableProgMode(); }), 2);
    std::vector<uint8_t> written = {'H', 'L', 'E', 'H', 'L'};
    written.insert(written.end(), enableFrame.begin(), enableFrame.end());
    written.push_back('P');
    EXPECT_EQ(s.Port->Written, written);
}

TEST(Primitives, WriteByteSendsLowEightBits) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Link->WriteByte(0x1234);
    EXPECT_EQ(s.Port->Written, (std::vector<uint8_t>{0x34}));
}

TEST(IspCommand, ThreeReplyBytesIsNotConnected) {
    ScriptedLink s;
    s.Link->OpenPort("ttyUSB0");
    s.Port->Queue({'I', 1, 2, 3});
    EXPECT_EQ(CodeOf([&] { s.Link->IspCommand(0x30, 0, 1, 0, 0); }), 4);
    EXPECT_EQ(s.Port->Written, (std::vector<uint8_t>{'I', 0x30, 0, 1, 0, 0}));
}

TEST(ChipType, SignaturesIdentifyTheRow) {
    const struct {
        uint8_t sig1, sig2;
        const char* name;
    } cases[] = {{0x95, 0x01, "ATmega32"},  {0x95, 0x02, "ATmega32A"},  {0x98, 0x01, "ATmega2560"},
                 {0x91, 0x01, "AT90S2313"}, {0x96, 0x0A, "ATmega644P"}, {0xFF, 0xFF, nullptr}};
    for (const auto& c : cases) {
        ScriptedLink s;
        s.Link->OpenPort("ttyUSB0");
        s.Port->Queue({'I', 0, 0x30, 0, c.sig1, 'I', 0, 0x30, 0, c.sig2});
        if (c.name) {
            EXPECT_EQ(s.Link->ReadChipType(), c.name);
            EXPECT_STREQ(s.Link->Device.Name, c.name);
        } else {
            EXPECT_EQ(CodeOf([&] { s.Link->ReadChipType(); }), 8);
            EXPECT_STREQ(s.Link->Device.Name, "Unknown");
        }
        EXPECT_EQ(s.Port->Written,
                  (std::vector<uint8_t>{'I', 0x30, 0, 1, 0, 0, 'I', 0x30, 0, 2, 0, 0}));
    }
}

TEST(Version, BannerWithSignedNumbers) {
    const struct {
        uint8_t major, minor;
        const char* text;
    } cases[] = {{2, 5, "KARDO Programmer \"AVR\"  V2.5"},
                 {0x81, 0, "KARDO Programmer \"AVR\"  V-127.0"}};
    for (const auto& c : cases) {
        ScriptedLink s;
        s.Link->OpenPort("ttyUSB0");
        s.Port->Queue({'V', c.major, c.minor});
        EXPECT_EQ(s.Link->ReadVersion(), c.text);
    }
    EXPECT_EQ(std::string("KARDO Programmer \"AVR\"  V2.5").size(), 28u);
}
