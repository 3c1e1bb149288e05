#include "link/FuseMeaning.h"

#include <cstdio>
#include <cstring>

namespace {
// How a chip's clock source and start-up time are coded in its low fuse byte.
enum class ClockCoding {
    Tiny13,    // CKSEL1..0, SUT1..0
    Tiny2313,  // CKSEL3..0, SUT1..0: internal RC at 4 or 8 MHz, 128 kHz watchdog oscillator
    Mega48,    // CKSEL3..0, SUT1..0: low power, full swing, low frequency crystal oscillators
    Mega8,     // CKSEL3..0, SUT1..0: crystal, low frequency crystal, external RC, internal RC
    Mega163,   // CKSEL3..0 alone give source and start-up
};

struct ChipLayout {
    const char* Chip;
    ClockCoding Clock;
    std::vector<FuseField> Lo, Hi, Ex;
};

// Data sheet positions; a test holds them against the FUSE_ definitions of avr-libc's
// per-chip headers.
const std::vector<ChipLayout>& Layouts() {
    using C = ClockCoding;
    const std::vector<FuseField> mega8Lo = {
        {"CKSEL", 0x0F}, {"SUT", 0x30}, {"BODEN", 0x40}, {"BODLEVEL", 0x80}};
    const std::vector<FuseField> mega48Lo = {
        {"CKSEL", 0x0F}, {"SUT", 0x30}, {"CKOUT", 0x40}, {"CKDIV8", 0x80}};
    const std::vector<FuseField> mega48Hi = {{"BODLEVEL", 0x07}, {"EESAVE", 0x08},
                                             {"WDTON", 0x10},    {"SPIEN", 0x20},
                                             {"DWEN", 0x40},     {"RSTDISBL", 0x80}};
    const std::vector<FuseField> bootAndJtag = {
        {"BOOTRST", 0x01}, {"BOOTSZ", 0x06}, {"EESAVE", 0x08}, {"CKOPT", 0x10},
        {"SPIEN", 0x20},   {"JTAGEN", 0x40}, {"OCDEN", 0x80}};
    const std::vector<FuseField> mega644Hi = {{"BOOTRST", 0x01}, {"BOOTSZ", 0x06}, {"EESAVE", 0x08},
                                              {"WDTON", 0x10},   {"SPIEN", 0x20},  {"JTAGEN", 0x40},
                                              {"OCDEN", 0x80}};
    const std::vector<FuseField> boot = {{"BOOTRST", 0x01}, {"BOOTSZ", 0x06}};
    static const std::vector<ChipLayout> layouts = {
        {"ATtiny13",
         C::Tiny13,
         {{"CKSEL", 0x03},
          {"SUT", 0x0C},
          {"CKDIV8", 0x10},
          {"WDTON", 0x20},
          {"EESAVE", 0x40},
          {"SPIEN", 0x80}},
         {{"RSTDISBL", 0x01}, {"BODLEVEL", 0x06}, {"DWEN", 0x08}, {"SPMEN", 0x10}},
         {}},
        {"ATtiny2313",
         C::Tiny2313,
         mega48Lo,
         {{"RSTDISBL", 0x01},
          {"BODLEVEL", 0x0E},
          {"WDTON", 0x10},
          {"SPIEN", 0x20},
          {"EESAVE", 0x40},
          {"DWEN", 0x80}},
         {{"SELFPRGEN", 0x01}}},
        {"ATmega48", C::Mega48, mega48Lo, mega48Hi, {{"SELFPRGEN", 0x01}}},
        {"ATmega8515",
         C::Mega8,
         mega8Lo,
         {{"BOOTRST", 0x01},
          {"BOOTSZ", 0x06},
          {"EESAVE", 0x08},
          {"CKOPT", 0x10},
          {"SPIEN", 0x20},
          {"WDTON", 0x40},
          {"S8515C", 0x80}},
         {}},
        {"ATmega8",
         C::Mega8,
         mega8Lo,
         {{"BOOTRST", 0x01},
          {"BOOTSZ", 0x06},
          {"EESAVE", 0x08},
          {"CKOPT", 0x10},
          {"SPIEN", 0x20},
          {"WDTON", 0x40},
          {"RSTDISBL", 0x80}},
         {}},
        {"ATmega88", C::Mega48, mega48Lo, mega48Hi, boot},
        {"ATmega16", C::Mega8, mega8Lo, bootAndJtag, {}},
        {"ATmega163",
         C::Mega163,
         {{"CKSEL", 0x0F}, {"SPIEN", 0x20}, {"BODEN", 0x40}, {"BODLEVEL", 0x80}},
         boot,
         {}},
        {"ATmega168", C::Mega48, mega48Lo, mega48Hi, boot},
        {"ATmega32", C::Mega8, mega8Lo, bootAndJtag, {}},
        {"ATmega32A", C::Mega8, mega8Lo, bootAndJtag, {}},
        {"ATmega64", C::Mega8, mega8Lo, bootAndJtag, {{"WDTON", 0x01}, {"M103C", 0x02}}},
        {"ATmega128", C::Mega8, mega8Lo, bootAndJtag, {{"WDTON", 0x01}, {"M103C", 0x02}}},
        {"ATmega644", C::Mega48, mega48Lo, mega644Hi, {{"BODLEVEL", 0x07}}},
        {"ATmega644P", C::Mega48, mega48Lo, mega644Hi, {{"BODLEVEL", 0x07}}},
        {"ATmega2560", C::Mega48, mega48Lo, mega644Hi, {{"BODLEVEL", 0x07}}},
    };
    return layouts;
}

const ChipLayout* LayoutOf(const DeviceEntry& chip) {
    for (const ChipLayout& l : Layouts())
        if (std::strcmp(l.Chip, chip.Name) == 0) return &l;
    return nullptr;
}

int LowestBit(uint8_t mask) {
    int bit = 0;
    while (bit < 8 && ((mask >> bit) & 1) == 0) ++bit;
    return bit;
}

int Width(uint8_t mask) {
    int width = 0;
    for (int bit = 0; bit < 8; ++bit) width += (mask >> bit) & 1;
    return width;
}

unsigned FieldValue(uint8_t value, const FuseField& f) {
    return static_cast<unsigned>((value & f.Mask) >> LowestBit(f.Mask));
}

std::string Bits(unsigned value, int width) {
    std::string bits;
    for (int b = width - 1; b >= 0; --b) bits += ((value >> b) & 1) != 0 ? '1' : '0';
    return bits;
}

std::string Named(const FuseField& f, uint8_t value) {
    return std::string(f.Name) + "=" + Bits(FieldValue(value, f), Width(f.Mask));
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// ---- clock source and start-up time ---------------------------------------------------

// Start-up of a clock that needs no settling (internal RC, external clock): SUT1..0.
std::string QuickStart(unsigned sut, int prefixCk, const char* shortMs, const char* longMs) {
    const std::string ck = std::to_string(prefixCk) + " CK + 14 CK";
    switch (sut) {
        case 0:
            return "start-up " + ck + " (BOD enabled)";
        case 1:
            return "start-up " + ck + " + " + shortMs + " (fast rising power)";
        case 2:
            return "start-up " + ck + " + " + longMs + " (slowly rising power)";
        default:
            return "start-up setting reserved";
    }
}

// Crystal or ceramic resonator: CKSEL0 with SUT1..0 (the newer chips' table).
std::string CrystalStart(unsigned cksel0, unsigned sut) {
    static const char* const texts[8] = {
        "258 CK + 14 CK + 4.1 ms (ceramic resonator, fast rising power)",
        "258 CK + 14 CK + 65 ms (ceramic resonator, slowly rising power)",
        "1K CK + 14 CK (ceramic resonator, BOD enabled)",
        "1K CK + 14 CK + 4.1 ms (ceramic resonator, fast rising power)",
        "1K CK + 14 CK + 65 ms (ceramic resonator, slowly rising power)",
        "16K CK + 14 CK (crystal, BOD enabled)",
        "16K CK + 14 CK + 4.1 ms (crystal, fast rising power)",
        "16K CK + 14 CK + 65 ms (crystal, slowly rising power)",
    };
    return std::string("start-up ") + texts[(cksel0 << 2) | sut];
}

std::string LowFrequencyStart(unsigned cksel0, unsigned sut) {
    if (sut == 3) return "start-up setting reserved";
    const std::string ck = cksel0 != 0 ? "32K CK" : "1K CK";
    static const char* const rest[3] = {" + 14 CK (BOD enabled)",
                                        " + 14 CK + 4.1 ms (fast rising power)",
                                        " + 14 CK + 65 ms (slowly rising power)"};
    return "start-up " + ck + rest[sut];
}

std::string CrystalRange(unsigned cksel31) {
    switch (cksel31) {
        case 4:
            return "0.4 to 0.9 MHz (ceramic resonators only)";
        case 5:
            return "0.9 to 3.0 MHz";
        case 6:
            return "3.0 to 8.0 MHz";
        default:
            return "8.0 MHz and up";
    }
}

std::string Tiny13Clock(unsigned cksel, unsigned sut) {
    static const char* const sources[4] = {"external clock", "calibrated internal RC, 4.8 MHz",
                                           "calibrated internal RC, 9.6 MHz",
                                           "internal 128 kHz oscillator"};
    return std::string(sources[cksel]) + ", " + QuickStart(sut, 6, "4 ms", "64 ms");
}

std::string Tiny2313Clock(unsigned cksel, unsigned sut) {
    if (cksel >= 8)
        return "external crystal or ceramic resonator, " + CrystalRange(cksel >> 1) + ", " +
               CrystalStart(cksel & 1, sut);
    switch (cksel) {
        case 0:
            return "external clock, " + QuickStart(sut, 6, "4.1 ms", "65 ms");
        case 2:
            return "calibrated internal RC, 4 MHz, " + QuickStart(sut, 6, "4.1 ms", "65 ms");
        case 4:
            return "calibrated internal RC, 8 MHz, " + QuickStart(sut, 6, "4.1 ms", "65 ms");
        case 6:
            return "internal 128 kHz watchdog oscillator, " + QuickStart(sut, 6, "4 ms", "64 ms");
        default:
            return "reserved clock setting";
    }
}

std::string Mega48Clock(unsigned cksel, unsigned sut) {
    if (cksel >= 8)
        return "low power crystal oscillator, " + CrystalRange(cksel >> 1) + ", " +
               CrystalStart(cksel & 1, sut);
    switch (cksel) {
        case 7:
        case 6:
            return "full swing crystal oscillator, " + CrystalStart(cksel & 1, sut);
        case 5:
        case 4:
            return "low frequency crystal oscillator (32.768 kHz), " +
                   LowFrequencyStart(cksel & 1, sut);
        case 3:
            return "internal 128 kHz RC oscillator, " + QuickStart(sut, 6, "4 ms", "64 ms");
        case 2:
            return "calibrated internal RC, 8 MHz, " + QuickStart(sut, 6, "4.1 ms", "65 ms");
        case 1:
            return "reserved clock setting";
        default:
            return "external clock, " + QuickStart(sut, 6, "4.1 ms", "65 ms");
    }
}

// The older chips' start-up times carry no 14 CK of their own.
std::string Mega8Start(const char* ck, unsigned sut) {
    switch (sut) {
        case 0:
            return std::string("start-up ") + ck + " (BOD enabled)";
        case 1:
            return std::string("start-up ") + ck + " + 4.1 ms (fast rising power)";
        case 2:
            return std::string("start-up ") + ck + " + 65 ms (slowly rising power)";
        default:
            return "start-up setting reserved";
    }
}

std::string Mega8Clock(unsigned cksel, unsigned sut) {
    if (cksel >= 10) {
        static const char* const texts[8] = {
            "258 CK + 4.1 ms (ceramic resonator, fast rising power)",
            "258 CK + 65 ms (ceramic resonator, slowly rising power)",
            "1K CK (ceramic resonator, BOD enabled)",
            "1K CK + 4.1 ms (ceramic resonator, fast rising power)",
            "1K CK + 65 ms (ceramic resonator, slowly rising power)",
            "16K CK (crystal, BOD enabled)",
            "16K CK + 4.1 ms (crystal, fast rising power)",
            "16K CK + 65 ms (crystal, slowly rising power)",
        };
        const std::string range = (cksel >> 1) == 5   ? "0.4 to 0.9 MHz"
                                  : (cksel >> 1) == 6 ? "0.9 to 3.0 MHz"
                                                      : "3.0 to 8.0 MHz";
        return "external crystal or ceramic resonator, " + range +
               " (1 MHz and up with CKOPT programmed), start-up " + texts[((cksel & 1) << 2) | sut];
    }
    if (cksel == 9) {
        static const char* const texts[4] = {
            "start-up 1K CK + 4.1 ms (fast rising power or BOD enabled)",
            "start-up 1K CK + 65 ms (slowly rising power)",
            "start-up 32K CK + 65 ms (stable frequency at start-up)", "start-up setting reserved"};
        return std::string("external low frequency crystal (32.768 kHz), ") + texts[sut];
    }
    if (cksel >= 5) {
        static const char* const ranges[4] = {"up to 0.9 MHz", "0.9 to 3.0 MHz", "3.0 to 8.0 MHz",
                                              "8.0 to 12.0 MHz"};
        const std::string start = sut == 3 ? "start-up 6 CK + 4.1 ms (fast rising power or BOD "
                                             "enabled)"
                                           : Mega8Start("18 CK", sut);
        return std::string("external RC oscillator, ") + ranges[cksel - 5] + ", " + start;
    }
    if (cksel >= 1) {
        static const char* const mhz[4] = {"1", "2", "4", "8"};
        return std::string("calibrated internal RC, ") + mhz[cksel - 1] + " MHz, " +
               Mega8Start("6 CK", sut);
    }
    return "external clock, " + Mega8Start("6 CK", sut);
}

// The source and the power conditions its start-up time is meant for, in one code.
std::string Mega163Clock(unsigned cksel) {
    static const char* const texts[16] = {
        "external clock, fast rising power",
        "external clock, BOD enabled",
        "internal RC oscillator, 1 MHz, slowly rising power",
        "internal RC oscillator, 1 MHz, fast rising power",
        "internal RC oscillator, 1 MHz, BOD enabled",
        "external RC oscillator, slowly rising power",
        "external RC oscillator, fast rising power",
        "external RC oscillator, BOD enabled",
        "external low frequency crystal, start-up 32K CK",
        "external low frequency crystal, start-up 1K CK",
        "crystal oscillator, slowly rising power",
        "crystal oscillator, fast rising power",
        "crystal oscillator, BOD enabled",
        "ceramic resonator, slowly rising power",
        "ceramic resonator, fast rising power",
        "ceramic resonator, BOD enabled",
    };
    return texts[cksel];
}

std::string ClockText(ClockCoding coding, unsigned cksel, unsigned sut) {
    switch (coding) {
        case ClockCoding::Tiny13:
            return Tiny13Clock(cksel, sut);
        case ClockCoding::Tiny2313:
            return Tiny2313Clock(cksel, sut);
        case ClockCoding::Mega48:
            return Mega48Clock(cksel, sut);
        case ClockCoding::Mega8:
            return Mega8Clock(cksel, sut);
        default:
            return Mega163Clock(cksel);
    }
}

// ---- the other fields ---------------------------------------------------------------

std::string BrownOut(const FuseField& f, unsigned v) {
    if (Width(f.Mask) == 1)  // BODLEVEL beside BODEN
        return v != 0 ? "brown-out level 2.7 V" : "brown-out level 4.0 V";
    const unsigned all = (1u << Width(f.Mask)) - 1;
    if (v == all) return "brown-out detection off";
    const unsigned step = all - v;  // 1: 1.8 V, 2: 2.7 V, 3: 4.3 V
    if (step > 3) return "reserved brown-out setting";
    static const char* const levels[4] = {"", "1.8 V", "2.7 V", "4.3 V"};
    return std::string("brown-out level ") + levels[step];
}

// The boot section takes the top of the flash; its size follows the chip's flash size.
std::string BootSize(const DeviceEntry& chip, unsigned v) {
    const int32_t base = chip.FlashSize <= 0x4000 ? 128 : chip.FlashSize <= 0x8000 ? 256 : 512;
    const int32_t words = base << (3 - v);
    const int32_t start = chip.FlashSize - 2 * words;
    return "boot section " + std::to_string(words) + " words (" + std::to_string(2 * words) +
           " bytes) from byte " + Hex(static_cast<unsigned>(start)) + ": application area of " +
           std::to_string(start) + " bytes";
}

std::string OnOff(unsigned v, const char* programmed, const char* unprogrammed) {
    return v == 0 ? programmed : unprogrammed;
}

std::string FieldText(const DeviceEntry& chip, const FuseField& f, unsigned v) {
    const std::string n = f.Name;
    if (n == "BODLEVEL") return BrownOut(f, v);
    if (n == "BOOTSZ") return BootSize(chip, v);
    if (n == "BODEN") return OnOff(v, "brown-out detection on", "brown-out detection off");
    if (n == "BOOTRST")
        return OnOff(v, "reset starts the boot section", "reset starts the application at 0x0000");
    if (n == "EESAVE")
        return OnOff(v, "EEPROM kept through the chip erase", "chip erase also erases the EEPROM");
    if (n == "WDTON") return OnOff(v, "watchdog always on", "watchdog under software control");
    if (n == "SPIEN") return OnOff(v, "serial programming enabled", "serial programming disabled");
    if (n == "RSTDISBL")
        return OnOff(v, "reset pin is an I/O pin: serial programming is off", "reset pin enabled");
    if (n == "DWEN")
        return OnOff(v, "debugWIRE enabled: serial programming is off", "debugWIRE disabled");
    if (n == "JTAGEN") return OnOff(v, "JTAG interface enabled", "JTAG interface disabled");
    if (n == "OCDEN") return OnOff(v, "on-chip debugging enabled", "on-chip debugging disabled");
    if (n == "CKDIV8") return OnOff(v, "clock divided by 8 at start", "clock not divided");
    if (n == "CKOUT") return OnOff(v, "clock output on the CLKO pin", "no clock output");
    if (n == "CKOPT")
        return OnOff(v, "oscillator with full rail-to-rail swing",
                     "oscillator with reduced swing (less power)");
    if (n == "M103C") return OnOff(v, "ATmega103 compatibility mode", "native mode");
    if (n == "S8515C") return OnOff(v, "AT90S8515 compatibility mode", "native mode");
    return OnOff(v, "self-programming (SPM) enabled", "self-programming (SPM) disabled");
}

const FuseField* FieldNamed(const std::vector<FuseField>& fields, const char* name) {
    for (const FuseField& f : fields)
        if (std::strcmp(f.Name, name) == 0) return &f;
    return nullptr;
}

const char* LockModeText(unsigned lb) {
    switch (lb) {
        case 3:
            return "LB mode 1: no memory lock";
        case 2:
            return "LB mode 2: flash and EEPROM programming disabled, fuses locked";
        case 0:
            return "LB mode 3: flash and EEPROM programming and reading back disabled, fuses "
                   "locked";
        default:
            return "no defined lock mode";
    }
}

// 'own': the section these bits protect; 'other': the section whose code is kept out.
std::string BootLockText(int section, unsigned v, const char* own, const char* other) {
    const std::string mode = "BLB" + std::to_string(section) + " mode ";
    switch (v) {
        case 3:
            return mode + "1: no restrictions for SPM or LPM on the " + own + " section";
        case 2:
            return mode + "2: SPM may not write the " + own + " section";
        case 0:
            return mode + "3: SPM may not write the " + own + " section, LPM in the " + other +
                   " section may not read it";
        default:
            return mode + "4: LPM in the " + other + " section may not read the " + own +
                   " section";
    }
}
}  // namespace

std::vector<FuseField> FuseFieldsOf(const DeviceEntry& chip, FuseByte fuse) {
    const ChipLayout* layout = LayoutOf(chip);
    if (!layout || !HasFuse(chip, fuse)) return {};
    switch (fuse) {
        case FuseByte::Lo:
            return layout->Lo;
        case FuseByte::Hi:
            return layout->Hi;
        default:
            return layout->Ex;
    }
}

std::vector<std::string> DescribeFuse(const DeviceEntry& chip, FuseByte fuse, uint8_t value) {
    const std::vector<FuseField> fields = FuseFieldsOf(chip, fuse);
    const FuseField* sut = FieldNamed(fields, "SUT");
    std::vector<std::string> lines;
    for (const FuseField& f : fields) {
        if (&f == sut) continue;  // told with the clock source
        const unsigned v = FieldValue(value, f);
        if (std::strcmp(f.Name, "CKSEL") == 0) {
            const unsigned s = sut ? FieldValue(value, *sut) : 0;
            lines.push_back(Named(f, value) + (sut ? " " + Named(*sut, value) : "") + ": " +
                            ClockText(LayoutOf(chip)->Clock, v, s));
            continue;
        }
        lines.push_back(Named(f, value) + ": " + FieldText(chip, f, v));
    }
    return lines;
}

bool HasLockRead(const DeviceEntry& chip) {
    return !FusesOf(chip).empty();  // the AT90S chips: neither fuses nor lock bits readable
}

bool HasBootLockBits(const DeviceEntry& chip) {
    // Boot lock bits go with a boot section.
    return FieldNamed(FuseFieldsOf(chip, FuseByte::Hi), "BOOTSZ") != nullptr ||
           FieldNamed(FuseFieldsOf(chip, FuseByte::Ex), "BOOTSZ") != nullptr;
}

std::vector<std::string> DescribeLockBits(const DeviceEntry& chip, uint8_t value) {
    if (!HasLockRead(chip)) return {};
    std::vector<std::string> lines{"LB=" + Bits(value & 3u, 2) + ": " + LockModeText(value & 3u)};
    if (!HasBootLockBits(chip)) return lines;
    const unsigned blb0 = (value >> 2) & 3u, blb1 = (value >> 4) & 3u;
    lines.push_back("BLB0=" + Bits(blb0, 2) + ": " + BootLockText(0, blb0, "application", "boot"));
    lines.push_back("BLB1=" + Bits(blb1, 2) + ": " + BootLockText(1, blb1, "boot", "application"));
    return lines;
}

bool ForbidsReading(uint8_t lockBits) {
    return (lockBits & 3u) == 0;
}
