#include "sim/BoxSimOptions.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "link/DeviceTable.h"

const char* const BoxSimUsage =
    "usage: q40prog-boxsim [OPTIONS]\n"
    "\n"
    "Simulates the KARDO programmer box with an AVR target on a pseudo-terminal. The\n"
    "port's path is the first line on stdout; the box serves until SIGTERM or SIGINT.\n"
    "When the host closes the port the box resets, as the DTR pulse of a real host's next\n"
    "open would reset it: a half-received command is dropped and programming mode ends.\n"
    "The host purging the port's buffers (as it does after every reset pulse) resets it too.\n"
    "\n"
    "  --chip NAME            target chip (default ATmega644P)\n"
    "  --version MAJOR.MINOR  the box's version (default 2.5)\n"
    "  --link PATH            also make a symlink to the port at PATH\n"
    "  --flash-in FILE        preload the flash with a raw image\n"
    "  --eeprom-in FILE       preload the EEPROM with a raw image\n"
    "  --dump-flash FILE      write the flash to FILE at every 'D' and at exit\n"
    "  --dump-eeprom FILE     write the EEPROM to FILE at every 'D' and at exit\n"
    "faults:\n"
    "  --no-target            programming enable is never answered\n"
    "  --bad-echo             command letters come back altered\n"
    "  --silent               nothing is ever answered\n"
    "  --drop-after N         stop answering after N received bytes\n"
    "  --enable-on-attempt N  programming enable first succeeds at attempt N\n"
    "  --flaky-flash ADDR:N   the read-back of the flash block at ADDR differs N times\n"
    "  --stuck-flash ADDR     the read-back of the flash block at ADDR never matches\n"
    "  --flaky-eeprom ADDR:N  the same for the EEPROM\n"
    "  --stuck-eeprom ADDR    the same for the EEPROM\n"
    "boards:\n"
    "  --target-absent        start with no target connected\n"
    "  SIGUSR1 connects a target, a fresh board holding what the start held (--flash-in,\n"
    "  --eeprom-in, else blank); SIGUSR2 removes it, and the box then answers like a box\n"
    "  without a target. So a rehearsal connects the next board with kill -USR1 <pid>.\n"
    "realism:\n"
    "  --baud-pace            bytes no faster than 115200 baud 8N1, both directions\n"
    "  --write-delays         the chip's write times before the box answers again\n"
    "  --latency MS           hold answers back MS ms, as a USB adapter's latency timer\n"
    "  --stats [FILE]         at exit, bytes received and sent to stderr or FILE\n"
    "  --help                 this text\n"
    "ADDR and N are decimal or 0x hex; --flaky-* and --stuck-* may be repeated.\n";

namespace {
constexpr unsigned long long MaxVersionByte = 255;
constexpr unsigned long long MaxLatencyMs = 10000;
constexpr unsigned long long MaxCount = 1000000000;  // drop-after, attempts, flaky repeats
constexpr unsigned long long MaxAddress = 0xFFFFFF;  // 24-bit addresses of the box

// Each option's handler gets its own name for the messages.
using Handler = bool (*)(BoxSimOptions&, const std::string& name, const std::string& value,
                         std::string& error);

bool Fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

bool Number(const std::string& name, const std::string& text, unsigned long long max,
            unsigned long long& value, std::string& error) {
    if (ParseAddressOrCount(text, max, value)) return true;
    return Fail(error,
                name + " wants a number from 0 to " + std::to_string(max) + ", not '" + text + "'");
}

std::string KnownChips() {
    std::string known;
    for (const DeviceEntry& d : DeviceTable)
        known += (known.empty() ? "" : ", ") + std::string(d.Name);
    return known;
}

bool Chip(BoxSimOptions& o, const std::string&, const std::string& v, std::string& e) {
    if (!FindDeviceByName(v.c_str()))
        return Fail(e, "unknown chip '" + v + "'; known chips: " + KnownChips());
    o.Box.Chip = v;
    return true;
}

bool Version(BoxSimOptions& o, const std::string& name, const std::string& v, std::string& e) {
    const auto dot = v.find('.');
    unsigned long long major = 0, minor = 0;
    if (dot == std::string::npos || !ParseAddressOrCount(v.substr(0, dot), MaxVersionByte, major) ||
        !ParseAddressOrCount(v.substr(dot + 1), MaxVersionByte, minor))
        return Fail(e, name + " wants MAJOR.MINOR with numbers from 0 to 255, not '" + v + "'");
    o.Box.VersionMajor = static_cast<int>(major);
    o.Box.VersionMinor = static_cast<int>(minor);
    return true;
}

bool DropAfter(BoxSimOptions& o, const std::string& name, const std::string& v, std::string& e) {
    unsigned long long n = 0;
    if (!Number(name, v, MaxCount, n, e)) return false;
    o.Box.DropAfter = static_cast<long long>(n);
    return true;
}

bool EnableOnAttempt(BoxSimOptions& o, const std::string& name, const std::string& v,
                     std::string& e) {
    unsigned long long n = 0;
    if (!Number(name, v, MaxCount, n, e)) return false;
    if (n == 0) return Fail(e, name + " counts from 1");
    o.Box.EnableOnAttempt = static_cast<int>(n);
    return true;
}

bool Latency(BoxSimOptions& o, const std::string& name, const std::string& v, std::string& e) {
    unsigned long long ms = 0;
    if (!Number(name, v, MaxLatencyMs, ms, e)) return false;
    o.Wire.LatencyMs = static_cast<int>(ms);
    return true;
}

template <std::string BoxSimOptions::*Field>
bool Text(BoxSimOptions& o, const std::string&, const std::string& v, std::string&) {
    o.*Field = v;
    return true;
}

template <std::map<uint32_t, int> BoxConfig::*Field>
bool Flaky(BoxSimOptions& o, const std::string& name, const std::string& v, std::string& e) {
    const auto colon = v.find(':');
    unsigned long long address = 0, times = 0;
    if (colon == std::string::npos ||
        !ParseAddressOrCount(v.substr(0, colon), MaxAddress, address) ||
        !ParseAddressOrCount(v.substr(colon + 1), MaxCount, times) || times == 0)
        return Fail(e, name + " wants ADDR:N with N at least 1, not '" + v + "'");
    (o.Box.*Field)[static_cast<uint32_t>(address)] = static_cast<int>(times);
    return true;
}

template <std::set<uint32_t> BoxConfig::*Field>
bool Stuck(BoxSimOptions& o, const std::string& name, const std::string& v, std::string& e) {
    unsigned long long address = 0;
    if (!Number(name, v, MaxAddress, address, e)) return false;
    (o.Box.*Field).insert(static_cast<uint32_t>(address));
    return true;
}

struct ValuedOption {
    const char* Name;
    Handler Apply;
};

const ValuedOption ValuedOptions[] = {
    {"--chip", Chip},
    {"--version", Version},
    {"--drop-after", DropAfter},
    {"--enable-on-attempt", EnableOnAttempt},
    {"--latency", Latency},
    {"--link", Text<&BoxSimOptions::LinkPath>},
    {"--flash-in", Text<&BoxSimOptions::FlashIn>},
    {"--eeprom-in", Text<&BoxSimOptions::EepromIn>},
    {"--dump-flash", Text<&BoxSimOptions::DumpFlash>},
    {"--dump-eeprom", Text<&BoxSimOptions::DumpEeprom>},
    {"--flaky-flash", Flaky<&BoxConfig::FlakyFlash>},
    {"--flaky-eeprom", Flaky<&BoxConfig::FlakyEeprom>},
    {"--stuck-flash", Stuck<&BoxConfig::StuckFlash>},
    {"--stuck-eeprom", Stuck<&BoxConfig::StuckEeprom>},
};

struct FlagOption {
    const char* Name;
    void (*Apply)(BoxSimOptions&);
};

const FlagOption FlagOptions[] = {
    {"--no-target", [](BoxSimOptions& o) { o.Box.NoTarget = true; }},
    {"--bad-echo", [](BoxSimOptions& o) { o.Box.BadEcho = true; }},
    {"--silent", [](BoxSimOptions& o) { o.Box.Silent = true; }},
    {"--target-absent", [](BoxSimOptions& o) { o.Box.TargetAbsent = true; }},
    {"--baud-pace", [](BoxSimOptions& o) { o.Wire.BaudPace = true; }},
    {"--write-delays",
     [](BoxSimOptions& o) {
         o.Wire.WriteDelays = true;
         o.Box.WriteDelays = true;
     }},
    {"--help", [](BoxSimOptions& o) { o.Help = true; }},
};

template <typename Option, std::size_t N>
const Option* Find(const Option (&table)[N], const std::string& name) {
    for (const Option& o : table)
        if (name == o.Name) return &o;
    return nullptr;
}

// Fault addresses outside the chip's memories would never be hit: say so at once.
bool CheckFaultAddresses(const BoxSimOptions& o, std::string& e) {
    const DeviceEntry* chip = FindDeviceByName(o.Box.Chip.c_str());
    const auto check = [&](uint32_t address, int32_t size, const char* memory) {
        if (static_cast<int64_t>(address) < size) return true;
        return Fail(e, "fault address " + std::to_string(address) + " lies outside the " +
                           std::to_string(size) + "-byte " + memory + " of the " + o.Box.Chip);
    };
    for (const auto& f : o.Box.FlakyFlash)
        if (!check(f.first, chip->FlashSize, "flash")) return false;
    for (uint32_t a : o.Box.StuckFlash)
        if (!check(a, chip->FlashSize, "flash")) return false;
    for (const auto& f : o.Box.FlakyEeprom)
        if (!check(f.first, chip->EepromSize, "EEPROM")) return false;
    for (uint32_t a : o.Box.StuckEeprom)
        if (!check(a, chip->EepromSize, "EEPROM")) return false;
    return true;
}

// --stats takes its file only when one follows; "--stats=FILE" says it plainly.
void TakeStats(BoxSimOptions& o, const std::vector<std::string>& args, std::size_t& i,
               const std::string* inlineValue) {
    o.Stats = true;
    if (inlineValue)
        o.StatsFile = *inlineValue;
    else if (i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0)
        o.StatsFile = args[++i];
}
}  // namespace

bool ParseAddressOrCount(const std::string& text, unsigned long long max,
                         unsigned long long& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) return false;
    for (char c : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
                  : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || v > max) return false;
    value = v;
    return true;
}

bool ParseBoxSimOptions(const std::vector<std::string>& args, BoxSimOptions& options,
                        std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string inlineValue;
        const auto eq = name.find('=');
        const bool hasInline = name.rfind("--", 0) == 0 && eq != std::string::npos;
        if (hasInline) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
        }
        if (name == "--stats") {
            TakeStats(options, args, i, hasInline ? &inlineValue : nullptr);
        } else if (const FlagOption* flag = Find(FlagOptions, name)) {
            if (hasInline) return Fail(error, name + " takes no value");
            flag->Apply(options);
        } else if (const ValuedOption* valued = Find(ValuedOptions, name)) {
            if (!hasInline && i + 1 >= args.size()) return Fail(error, name + " needs a value");
            const std::string value = hasInline ? inlineValue : args[++i];
            if (value.empty()) return Fail(error, name + " needs a value");
            if (!valued->Apply(options, name, value, error)) return false;
        } else {
            return Fail(error, name.rfind('-', 0) == 0 ? "unknown option '" + name + "'"
                                                       : "unexpected argument '" + name + "'");
        }
    }
    return CheckFaultAddresses(options, error);
}
