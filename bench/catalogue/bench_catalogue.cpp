// bench_catalogue: listing the items of a large catalogue, the way the main window builds its
// tree and `q40prog-cli items` prints it, and how soon an edit is seen. Every read looks at the
// file; the parse is kept while the file is unchanged, so only the first read of a file (or of
// an edited file) pays for parsing it.
//
//   bench_catalogue [--cli PATH] [--reps N] [--megabytes M[,M...]]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/ItemTree.h"

namespace {
using Clock = std::chrono::steady_clock;

constexpr int Items = 99;
constexpr double GoalListMs = 100;  // a 1 MB catalogue with 99 items
constexpr int GoalMegabytes = 1;

// One item as a catalogue author writes it, then comment lines (a long change history) until
// the item has its share of the file.
std::string ItemSection(int n, std::size_t share) {
    std::ostringstream s;
    s << "[ITEM_" << n << "]\r\nNAME=Board " << n << "\r\nGROUP=Group " << n % 7 << "\r\nVERSION=AB"
      << n % 10 << "+" << n % 9 << "\r\nFirmware=fw_" << n << ".hex\r\nImage=board_" << n
      << ".jpg\r\nHomepage=https://www.example.com/support/" << n << "\r\n";
    for (int k = 1; k <= 12; ++k) {
        s << "Info_en_" << k << "=Line " << k << " of the description of board " << n << "\r\n";
        s << "Info_ge_" << k << "=Zeile " << k << " der Beschreibung von Platine " << n << "\r\n";
    }
    for (int k = 1; k <= 3; ++k)
        s << "Processor_" << k << "=ATmega644P\r\nFuse_Lo_" << k << "=0xD7\r\nFuse_Hi_" << k
          << "=0xD0\r\nFuse_Ex_" << k << "=0xFD\r\nSpeed_" << k << "=20\r\nBootloader_" << k
          << "=61440\r\n";
    std::string text = s.str();
    const std::string note =
        "; revision note: firmware rebuilt for the new display controller, see the change log\r\n";
    while (text.size() + note.size() <= share) text += note;
    return text;
}

std::string MakeCatalogue(std::size_t bytes) {
    std::string text = "[VERSION]\r\nInfo_1=Catalogue for the benchmark\r\n";
    for (int n = 1; n <= Items; ++n) text += ItemSection(n, bytes / Items);
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The tree of 99 items, or an error naming what was found instead.
bool ListItems(const Catalogue& catalogue, const std::string& folder, std::string& error) {
    const ItemTree tree = BuildItemTree(catalogue, folder, true, std::less<>());
    std::size_t items = 0;
    for (const GroupNode& g : tree) items += g.Items.size();
    if (items == Items) return true;
    error = "listed " + std::to_string(items) + " items instead of " + std::to_string(Items);
    return false;
}

// `q40prog-cli items` as a whole process; milliseconds, or a negative number when it failed.
double TimeCli(const std::string& cli, const std::string& catalogue) {
    std::vector<std::string> argv = {cli, "items", "--catalogue", catalogue, "--production"};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = MsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

struct Figures {
    double ColdMs = 0, WarmMs = 0, CliMs = 0, EditSeenMs = 0;
};

// Every sample must succeed: a failed one is an error, never a number in a median.
bool Measure(const std::string& cli, int megabytes, int reps, Figures& f, std::string& error) {
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("q40cat-bench-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(folder + "/Firmware");
    for (int n = 1; n <= Items; ++n)
        WriteFile(folder + "/Firmware/fw_" + std::to_string(n) + ".hex", ":00000001FF\n");
    const std::string path = folder + "/Q40Prog.INI";
    std::string text = MakeCatalogue(static_cast<std::size_t>(megabytes) << 20);
    WriteFile(path, text);
    std::printf("%d MB catalogue, %d items: %zu bytes\n", megabytes, Items, text.size());

    std::vector<double> cold, warm, viaCli, editSeen;
    bool ok = true;
    for (int r = 0; r < reps && ok; ++r) {
        // A catalogue opened afresh, as the window does when it is shown: parsed once.
        auto start = Clock::now();
        const Catalogue catalogue(path);
        ok = ListItems(catalogue, folder, error);
        cold.push_back(MsSince(start));
        // The same catalogue listed again: every read checks the file, none parses it.
        start = Clock::now();
        ok = ok && ListItems(catalogue, folder, error);
        warm.push_back(MsSince(start));
        // An edit of the same size: the next read sees it.
        const std::string names[2] = {"NAME=Board 50\r\n", "NAME=Board X0\r\n"};
        const std::string& from = names[r % 2];
        const std::string& to = names[(r + 1) % 2];
        text.replace(text.find(from), from.size(), to);
        WriteFile(path, text);
        start = Clock::now();
        const std::string seen = catalogue.ReadValue("ITEM_50", "NAME", "");
        editSeen.push_back(MsSince(start));
        if (ok && "NAME=" + seen + "\r\n" != to) {
            error = "the edit was not seen: NAME of ITEM_50 read as '" + seen + "'";
            ok = false;
        }
        const double ms = TimeCli(cli, path);
        if (ok && ms < 0) {
            error = cli + " items failed";
            ok = false;
        }
        viaCli.push_back(ms);
    }
    std::filesystem::remove_all(folder);
    if (!ok) return false;
    f = {Median(cold), Median(warm), Median(viaCli), Median(editSeen)};
    std::printf("  list, catalogue opened afresh     median %9.2f ms  (%d samples)\n", f.ColdMs,
                reps);
    std::printf("  list again, file unchanged        median %9.2f ms\n", f.WarmMs);
    std::printf("  first read after an edit          median %9.2f ms  (the edit seen)\n",
                f.EditSeenMs);
    std::printf("  q40prog-cli items (process)       median %9.2f ms\n", f.CliMs);
    if (megabytes == GoalMegabytes)
        std::printf("  goal: list under %.0f ms: %s (afresh), %s (q40prog-cli)\n", GoalListMs,
                    f.ColdMs < GoalListMs ? "met" : "MISSED",
                    f.CliMs < GoalListMs ? "met" : "MISSED");
    std::printf("\n");
    std::fflush(stdout);
    return true;
}

bool ParseSizes(const std::string& text, std::vector<int>& sizes) {
    std::istringstream in(text);
    std::string item;
    sizes.clear();
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || v < 1 || v > 64) return false;
        sizes.push_back(static_cast<int>(v));
    }
    return !sizes.empty();
}

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "bench_catalogue: %s\nusage: bench_catalogue [--cli PATH] [--reps N] "
                 "[--megabytes M[,M...]]\n  default: --reps 11 --megabytes 1,60\n",
                 problem);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::string cli = Q40PROG_CLI;
    int reps = 11;
    std::vector<int> sizes = {1, 60};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
        const std::string value = argv[++i];
        if (arg == "--cli")
            cli = value;
        else if (arg == "--reps")
            reps = std::max(1, std::atoi(value.c_str()));
        else if (arg == "--megabytes") {
            if (!ParseSizes(value, sizes)) return Usage("--megabytes wants 1 to 64, by commas");
        } else
            return Usage(("unknown argument " + arg).c_str());
    }
    for (int megabytes : sizes) {
        Figures f;
        std::string error;
        if (!Measure(cli, megabytes, reps, f, error)) {
            std::fprintf(stderr, "bench_catalogue: %d MB: %s\n", megabytes, error.c_str());
            return 1;
        }
    }
    return 0;
}
