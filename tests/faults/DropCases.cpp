#include "tests/faults/DropCases.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "tests/faults/CliCase.h"
#include "tests/faults/DropForecast.h"

namespace {
// The cases mostly sit out read time-outs, so a few run side by side; not more, or the work
// before the silence (which the timing rule counts) stretches towards its margin.
constexpr std::size_t Workers = 3;

struct Phase {
    const char* Name;
    std::vector<const char*> Steps;  // step lines (their starts) that make up the phase
    bool OwnPoint;                   // gets a random point of its own
};

const std::vector<Phase>& Phases() {
    static const std::vector<Phase> phases = {
        {"opening", {"opening serial port"}, false},
        {"reset", {"reseting programmer"}, false},
        {"port time", {"setting port time"}, false},
        {"identification", {"enabling programming mode", "reading chip type..."}, true},
        {"EEPROM read", {"reading eeprom..."}, true},
        {"erase", {"erasing chip"}, true},
        {"EEPROM write", {"programming eeprom..."}, true},
        {"flash programming", {"programming flash..."}, true},
        {"leaving programming", {"disabling programming mode"}, false},
    };
    return phases;
}

bool InPhase(const Phase& phase, const std::string& step) {
    for (const char* s : phase.Steps)
        if (step.rfind(s, 0) == 0) return true;
    return false;
}

std::string PhaseOfStep(const std::string& step) {
    for (const Phase& p : Phases())
        if (InPhase(p, step)) return p.Name;
    return step.empty() ? "none (done)" : step;
}

// First and end byte of each phase that gets its own point (its steps follow each other).
std::vector<std::pair<long long, long long>> PhaseRanges(const std::vector<StepBytes>& steps) {
    std::vector<std::pair<long long, long long>> ranges;
    for (const Phase& p : Phases()) {
        if (!p.OwnPoint) continue;
        long long first = -1, end = -1;
        for (const StepBytes& s : steps) {
            if (!InPhase(p, s.Step) || s.End <= s.First) continue;
            if (first < 0) first = s.First;
            end = std::max(end, s.End);
        }
        if (first >= 0) ranges.emplace_back(first, end);
    }
    return ranges;
}

std::vector<long long> DropPoints(const std::vector<StepBytes>& steps, int extra, unsigned key) {
    std::mt19937 gen(key);
    std::vector<long long> points;
    for (const auto& r : PhaseRanges(steps))
        points.push_back(std::uniform_int_distribution<long long>(r.first, r.second - 1)(gen));
    std::uniform_int_distribution<long long> anywhere(0, steps.back().End - 1);
    for (int i = 0; i < extra; ++i) points.push_back(anywhere(gen));
    return points;
}

CliCase DropCase(const Matrix& m, long long n, long long total, const std::string& folder) {
    const Expected want = ForecastDrop(m.Device, n, folder + "/forecast");
    return {"box silent after byte " + std::to_string(n) + "/" + std::to_string(total),
            PhaseOfStep(want.StopStep),
            {"--drop-after", std::to_string(n)},
            "",
            want};
}
}  // namespace

std::vector<FaultRow> RunDropCases(Matrix& m, int extra, unsigned key) {
    const std::vector<StepBytes> steps = BytesOfGoodUpdate(m.Device, m.CaseFolder());
    std::vector<CliCase> cases;
    std::vector<std::string> folders;
    for (long long n : DropPoints(steps, extra, key)) {
        folders.push_back(m.CaseFolder());
        cases.push_back(DropCase(m, n, steps.back().End, folders.back()));
    }
    // Longest waits first, so the short cases fill in beside them.
    std::vector<std::size_t> order(cases.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return cases[a].Want.MaxWaitMs > cases[b].Want.MaxWaitMs;
    });
    std::vector<FaultRow> rows(cases.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t k; (k = next++) < order.size();) {
            const std::size_t i = order[k];
            rows[i] = RunCliCase(m, cases[i], folders[i]);
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t w = 0; w < Workers; ++w) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    return rows;
}
