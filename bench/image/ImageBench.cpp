// Loading a whole-flash Intel HEX file: q40prog-cli image against objcopy -I ihex -O binary,
// each as a whole process on the same generated file, plus the loader's own time per load.
//
//   image_bench [--cli PATH] [--reps N] [--keep DIR]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "link/ImageBuffer.h"
#include "link/ProgError.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> MakeFirmware() {
    std::vector<uint8_t> bytes(isp::FlashImageSize);
    uint32_t state = 2024;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

// 16-byte data records, a type 2 segment record at every 64 KB, an end-of-file record.
std::string ToIntelHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 45 / 16 + 64);
    auto put = [&](unsigned v) {
        text += digits[(v >> 4) & 0xF];
        text += digits[v & 0xF];
    };
    auto record = [&](unsigned type, unsigned address, const uint8_t* data, unsigned count) {
        unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
        text += ':';
        put(count);
        put(address >> 8);
        put(address & 0xFF);
        put(type);
        for (unsigned i = 0; i < count; ++i) {
            put(data[i]);
            sum += data[i];
        }
        put((0x100 - (sum & 0xFF)) & 0xFF);
        text += '\n';
    };
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        if (at % 0x10000 == 0 && at != 0) {
            const uint8_t segment[2] = {static_cast<uint8_t>(at >> 12), 0};
            record(2, 0, segment, 2);
        }
        const unsigned count = static_cast<unsigned>(std::min<std::size_t>(16, bytes.size() - at));
        record(0, static_cast<unsigned>(at & 0xFFFF), bytes.data() + at, count);
    }
    text += ":00000001FF\n";
    return text;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

constexpr double NotStarted = -1, FailedRun = -2;

// Runs argv as a whole process with stdout to 'out' (stderr kept); returns seconds, NotStarted
// when there is no such program, FailedRun when it did not exit with 0.
double TimeProcess(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return NotStarted;
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : FailedRun;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Generates the file, checks that both tools read it right, then times them.
int Bench(const std::string& cli, int reps, const std::string& hex, const std::string& bin,
          const std::string& out);

int Failed(const std::string& what) {
    std::fprintf(stderr, "image_bench: %s\n", what.c_str());
    return 1;
}

std::string Round(int i) {
    return i < 0 ? "warm-up " + std::to_string(i + 4) : std::to_string(i + 1);
}

int Usage() {
    std::fprintf(stderr, "usage: image_bench [--cli PATH] [--reps N] [--keep DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cli = Q40PROG_CLI;
    int reps = 31;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--cli")
            cli = argv[++i];
        else if (a == "--reps")
            reps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--keep")
            keep = argv[++i];
        else
            return Usage();
    }

    char pattern[] = "/tmp/q40bench-XXXXXX";
    const std::string dir = keep.empty() ? std::string(mkdtemp(pattern)) : keep;
    const std::string hex = dir + "/firmware.hex", bin = dir + "/out.bin", out = dir + "/cli.out";
    const int result = Bench(cli, reps, hex, bin, out);
    if (keep.empty()) {
        std::remove(hex.c_str());
        std::remove(bin.c_str());
        std::remove(out.c_str());
        rmdir(dir.c_str());
    }
    return result;
}

namespace {
int Bench(const std::string& cli, int reps, const std::string& hex, const std::string& bin,
          const std::string& out) {
    const std::vector<uint8_t> firmware = MakeFirmware();
    WriteFile(hex, ToIntelHex(firmware));
    std::printf("file: %s, %zu bytes of Intel HEX for %d bytes of flash\n", hex.c_str(),
                ReadFile(hex).size(), isp::FlashImageSize);

    // Both must produce the same image before their times mean anything.
    const std::vector<std::string> cliRun = {cli, "image", hex};
    const std::vector<std::string> objcopyRun = {"objcopy", "-I", "ihex", "-O", "binary", hex, bin};
    char expected[64];
    std::snprintf(expected, sizeof expected, "size %d\ncheck 0x%04X written\n", isp::FlashImageSize,
                  CheckValueOf(firmware.data(), firmware.size() - 2));
    if (TimeProcess(cliRun, out) < 0 || ReadFile(out) != expected) {
        std::fprintf(stderr, "q40prog-cli printed\n%s\ninstead of\n%s", ReadFile(out).c_str(),
                     expected);
        return 1;
    }
    const double objcopyFirst = TimeProcess(objcopyRun, "/dev/null");
    if (objcopyFirst == FailedRun) return Failed("objcopy failed on the file");
    const bool haveObjcopy = objcopyFirst != NotStarted;
    if (haveObjcopy && ReadFile(bin) != std::string(firmware.begin(), firmware.end())) {
        std::fprintf(stderr, "objcopy made a different image\n");
        return 1;
    }

    // In-process: the loader alone, file read included.
    std::vector<uint8_t> image(isp::FlashImageSize);
    std::vector<double> loads;
    for (int i = 0; i < reps; ++i) {
        const auto start = Clock::now();
        int32_t size = 0;
        try {
            size = LoadFlashFile(hex, image.data());
        } catch (const EProgError& e) {
            return Failed("LoadFlashFile failed: " + GetErrorText(e.Code) + " " + e.Detail);
        }
        loads.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (size != isp::FlashImageSize || image != firmware)
            return Failed("LoadFlashFile loaded a different image");
    }
    std::printf("LoadFlashFile in process:      median %8.3f ms\n", Median(loads) * 1e3);

    // Whole processes, alternating so that drift of the machine hits both alike. A run that
    // fails is an error: its time would be no measurement of the work.
    std::vector<double> cliTimes, objcopyTimes;
    for (int i = -3; i < reps; ++i) {  // three warm-up rounds first
        const double cliSeconds = TimeProcess(cliRun, "/dev/null");
        if (cliSeconds < 0) return Failed("q40prog-cli image failed in round " + Round(i));
        const double objcopySeconds = haveObjcopy ? TimeProcess(objcopyRun, "/dev/null") : 0;
        if (objcopySeconds < 0) return Failed("objcopy failed in round " + Round(i));
        if (i < 0) continue;
        cliTimes.push_back(cliSeconds);
        if (haveObjcopy) objcopyTimes.push_back(objcopySeconds);
    }
    const double cliMedian = Median(cliTimes);
    std::printf("q40prog-cli image (process):   median %8.3f ms, min %8.3f ms (%d runs)\n",
                cliMedian * 1e3, *std::min_element(cliTimes.begin(), cliTimes.end()) * 1e3, reps);
    if (haveObjcopy) {
        const double objcopyMedian = Median(objcopyTimes);
        std::printf("objcopy -I ihex -O binary:     median %8.3f ms, min %8.3f ms (%d runs)\n",
                    objcopyMedian * 1e3,
                    *std::min_element(objcopyTimes.begin(), objcopyTimes.end()) * 1e3, reps);
        const double ratio = objcopyMedian / cliMedian;
        std::printf("ratio objcopy / q40prog-cli:   %.2f (goal: at least 2.00, %s)\n", ratio,
                    ratio >= 2 ? "met" : "missed");
    } else {
        std::printf("objcopy is not installed: no comparison\n");
    }
    return 0;
}
}  // namespace
