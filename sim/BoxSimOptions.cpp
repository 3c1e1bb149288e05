#include "sim/BoxSimOptions.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "link/DeviceTable.h"
#include "link/Fuses.h"

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
    "  --stuck-fuse FUSE      writes of the fuse FUSE (lo, hi or ex) do not take: it keeps\n"
    "                         what it held, and its read-back shows that\n"
    "boards:\n"
    "  --target-absent        start with no target connected\n"
    "  --target-off-after N   the board is taken off after N received bytes\n"
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

// A value refused in our own words; the parser passes the text on unchanged.
[[noreturn]] void Refuse(const std::string& text) {
    throw CLI::ValidationError(text);
}

unsigned long long Number(const std::string& name, const std::string& text,
                          unsigned long long max) {
    unsigned long long value = 0;
    if (!ParseAddressOrCount(text, max, value))
        Refuse(name + " wants a number from 0 to " + std::to_string(max) + ", not '" + text + "'");
    return value;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string KnownChips() {
    std::string known;
    for (const DeviceEntry& d : DeviceTable) {
        if (!known.empty()) known += ", ";
        known += d.Name;
    }
    return known;
}

using Apply = std::function<void(const std::string& name, const std::string& value)>;

// Each value is applied as it is read, so the first bad one on the command line is the one
// reported.
void Valued(CLI::App& app, const std::string& name, const Apply& apply) {
    app.add_option_function<std::string>(name,
                                         [name, apply](const std::string& value) {
                                             if (value.empty()) Refuse(name + " needs a value");
                                             apply(name, value);
                                         })
        ->trigger_on_parse();
}

// The parser hands a flag "true", or the text after "=" where one was given.
void Flag(CLI::App& app, const std::string& name, const std::function<void()>& set) {
    app.add_option_function<std::string>(name,
                                         [name, set](const std::string& value) {
                                             if (value != "true") Refuse(name + " takes no value");
                                             set();
                                         })
        ->expected(0)
        ->trigger_on_parse();
}

void AddBoxOptions(CLI::App& app, BoxSimOptions& o) {
    Valued(app, "--chip", [&o](const std::string&, const std::string& v) {
        if (!FindDeviceByName(v.c_str()))
            Refuse("unknown chip '" + v + "'; known chips: " + KnownChips());
        o.Box.Chip = v;
    });
    Valued(app, "--version", [&o](const std::string& name, const std::string& v) {
        const auto dot = v.find('.');
        unsigned long long major = 0, minor = 0;
        if (dot == std::string::npos ||
            !ParseAddressOrCount(v.substr(0, dot), MaxVersionByte, major) ||
            !ParseAddressOrCount(v.substr(dot + 1), MaxVersionByte, minor))
            Refuse(name + " wants MAJOR.MINOR with numbers from 0 to 255, not '" + v + "'");
        o.Box.VersionMajor = static_cast<int>(major);
        o.Box.VersionMinor = static_cast<int>(minor);
    });
    Valued(app, "--drop-after", [&o](const std::string& name, const std::string& v) {
        o.Box.DropAfter = static_cast<long long>(Number(name, v, MaxCount));
    });
    Valued(app, "--target-off-after", [&o](const std::string& name, const std::string& v) {
        o.Box.TargetOffAfter = static_cast<long long>(Number(name, v, MaxCount));
    });
    Valued(app, "--enable-on-attempt", [&o](const std::string& name, const std::string& v) {
        const unsigned long long attempt = Number(name, v, MaxCount);
        if (attempt == 0) Refuse(name + " counts from 1");
        o.Box.EnableOnAttempt = static_cast<int>(attempt);
    });
    Valued(app, "--latency", [&o](const std::string& name, const std::string& v) {
        o.Wire.LatencyMs = static_cast<int>(Number(name, v, MaxLatencyMs));
    });
    for (const auto& [name, field] : {std::pair{"--link", &BoxSimOptions::LinkPath},
                                      {"--flash-in", &BoxSimOptions::FlashIn},
                                      {"--eeprom-in", &BoxSimOptions::EepromIn},
                                      {"--dump-flash", &BoxSimOptions::DumpFlash},
                                      {"--dump-eeprom", &BoxSimOptions::DumpEeprom}})
        Valued(app, name,
               [&o, member = field](const std::string&, const std::string& v) { o.*member = v; });
}

void AddFlaky(CLI::App& app, const std::string& name, std::map<uint32_t, int>& faults) {
    Valued(app, name, [&faults](const std::string& n, const std::string& v) {
        const auto colon = v.find(':');
        unsigned long long address = 0, times = 0;
        if (colon == std::string::npos ||
            !ParseAddressOrCount(v.substr(0, colon), MaxAddress, address) ||
            !ParseAddressOrCount(v.substr(colon + 1), MaxCount, times) || times == 0)
            Refuse(n + " wants ADDR:N with N at least 1, not '" + v + "'");
        faults[static_cast<uint32_t>(address)] = static_cast<int>(times);
    });
}

void AddStuck(CLI::App& app, const std::string& name, std::set<uint32_t>& faults) {
    Valued(app, name, [&faults](const std::string& n, const std::string& v) {
        faults.insert(static_cast<uint32_t>(Number(n, v, MaxAddress)));
    });
}

void AddStuckFuse(CLI::App& app, std::set<FuseByte>& faults) {
    Valued(app, "--stuck-fuse", [&faults](const std::string& n, const std::string& v) {
        for (const FuseByte fuse : {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex})
            if (LowerCase(v) == LowerCase(FuseName(fuse))) {
                faults.insert(fuse);
                return;
            }
        Refuse(n + " wants lo, hi or ex, not '" + v + "'");
    });
}

void AddFlags(CLI::App& app, BoxSimOptions& o) {
    Flag(app, "--no-target", [&o] { o.Box.NoTarget = true; });
    Flag(app, "--bad-echo", [&o] { o.Box.BadEcho = true; });
    Flag(app, "--silent", [&o] { o.Box.Silent = true; });
    Flag(app, "--target-absent", [&o] { o.Box.TargetAbsent = true; });
    Flag(app, "--baud-pace", [&o] { o.Wire.BaudPace = true; });
    Flag(app, "--write-delays", [&o] { o.Wire.WriteDelays = o.Box.WriteDelays = true; });
    Flag(app, "--help", [&o] { o.Help = true; });
    // --stats takes its file only when one follows; "--stats=FILE" says it plainly.
    app.add_option("--stats", o.StatsFile)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// Fault addresses outside the chip's memories, or a fuse byte it does not have, would never be
// hit: say so at once.
bool CheckFaultAddresses(const BoxSimOptions& o, std::string& e) {
    const DeviceEntry* chip = FindDeviceByName(o.Box.Chip.c_str());
    const auto check = [&](uint32_t address, int32_t size, const char* memory) {
        if (static_cast<int64_t>(address) < size) return true;
        e = "fault address " + std::to_string(address) + " lies outside the " +
            std::to_string(size) + "-byte " + memory + " of the " + o.Box.Chip;
        return false;
    };
    for (const auto& f : o.Box.FlakyFlash)
        if (!check(f.first, chip->FlashSize, "flash")) return false;
    for (uint32_t a : o.Box.StuckFlash)
        if (!check(a, chip->FlashSize, "flash")) return false;
    for (const auto& f : o.Box.FlakyEeprom)
        if (!check(f.first, chip->EepromSize, "EEPROM")) return false;
    for (uint32_t a : o.Box.StuckEeprom)
        if (!check(a, chip->EepromSize, "EEPROM")) return false;
    for (const FuseByte fuse : o.Box.StuckFuses)
        if (!HasFuse(*chip, fuse)) {
            e = "the " + o.Box.Chip + " has no " + LowerCase(FuseName(fuse)) + " fuse to stick";
            return false;
        }
    return true;
}

// The parser reads "--name=" as "--name" still waiting for its value; here it is the empty
// value, refused as such. The parser wants the arguments last first.
std::vector<std::string> ForParser(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (auto a = args.rbegin(); a != args.rend(); ++a) {
        const bool emptyValue = a->size() > 3 && a->rfind("--", 0) == 0 && a->back() == '=';
        if (emptyValue) out.emplace_back();
        out.push_back(emptyValue ? a->substr(0, a->size() - 1) : *a);
    }
    return out;
}

// What the parser left over, the first of it named: an unknown option or a stray argument.
std::string LeftOver(const std::string& arg) {
    return arg.rfind('-', 0) == 0 ? "unknown option '" + arg.substr(0, arg.find('=')) + "'"
                                  : "unexpected argument '" + arg + "'";
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
    CLI::App app;
    app.set_help_flag();  // --help is an option like the others: the usage is our own text
    app.allow_extras();   // named below in our words, in the order given
    AddBoxOptions(app, options);
    AddFlaky(app, "--flaky-flash", options.Box.FlakyFlash);
    AddFlaky(app, "--flaky-eeprom", options.Box.FlakyEeprom);
    AddStuck(app, "--stuck-flash", options.Box.StuckFlash);
    AddStuck(app, "--stuck-eeprom", options.Box.StuckEeprom);
    AddStuckFuse(app, options.Box.StuckFuses);
    AddFlags(app, options);
    std::vector<std::string> reversed = ForParser(args);
    try {
        app.parse(reversed);
    } catch (const CLI::ValidationError& e) {
        error = e.what();
    } catch (const CLI::ParseError&) {
        // Only a value missing at the very end gets here.
        error = args.back() + " needs a value";
    }
    // Anything left over came before the value refused.
    if (!app.remaining().empty()) error = LeftOver(app.remaining().front());
    if (!error.empty()) return false;
    options.Stats = app.count("--stats") > 0;
    return CheckFaultAddresses(options, error);
}
