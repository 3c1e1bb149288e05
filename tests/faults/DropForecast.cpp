#include "tests/faults/DropForecast.h"

#include "link/IspLink.h"
#include "programming/ProgrammingRun.h"
#include "sim/SimPort.h"
#include "tests/faults/RowRules.h"
#include "tests/support/RecordingReport.h"

namespace {
struct LastRead {
    std::size_t Asked = 0, Got = 0;
    // The failure line is out: what the run reads after it (the chip asked for its signature
    // once more) is no part of the failure's wait.
    bool FailureLogged = false;
};

// The in-process port, noting every read up to the failure line; the note outlives the port.
class WatchedPort : public SimPort {
public:
    WatchedPort(BoxModel& box, LastRead& note) : SimPort(box), Note(note) {}
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        const bool ok = SimPort::Read(dest, count, received);
        if (!Note.FailureLogged) {
            Note.Asked = count;
            Note.Got = received;
        }
        return ok;
    }

private:
    LastRead& Note;
};

// Notes how many bytes the box had received when each step began, and the failure line.
struct CountingReport : RecordingReport {
    CountingReport(const BoxModel& box, LastRead& last) : Box(box), Last(last) {}
    void Log(const std::string& line) override {
        RecordingReport::Log(line);
        StepStarts.push_back(Box.BytesReceived);
        if (line.rfind(InterruptedPrefix, 0) == 0) Last.FailureLogged = true;
    }
    const BoxModel& Box;
    LastRead& Last;
    std::vector<long long> StepStarts;
};

struct Replay {
    RunOutcome Outcome;
    std::vector<std::string> Log;
    std::vector<long long> StepStarts;
    LastRead Last;
    long long BytesReceived = 0;
};

Replay ReplayUpdate(const TestDevice& device, long long dropAfter, const std::string& scratch) {
    BoxConfig config;
    config.Chip = TestDevice::Chip;
    config.DropAfter = dropAfter;
    BoxModel box(config);
    box.Target.Eeprom = device.Eeprom;
    FakeClock clock;
    Replay r;
    LinkFactory factory = [&] {
        return std::make_unique<TIspLink>(std::make_unique<WatchedPort>(box, r.Last), clock);
    };
    RunParams params;
    params.FirmwarePath = device.FirmwarePath;
    params.PortName = "ttySIM0";
    CountingReport report(box, r.Last);
    ProgrammingRun run(params, report, factory, RunOptions{scratch, ""});
    r.Outcome = run.Execute();
    r.Log = report.Lines;
    r.StepStarts = report.StepStarts;
    r.BytesReceived = box.BytesReceived;
    return r;
}

// A read of n bytes gives up 1000 x n + 1000 ms after it began when nothing came, or
// 1000 ms after the last byte that did. The numbers are written out here: they are what the
// matrix holds the program to, not whatever the link's constants say.
constexpr int ReadIntervalMs = 1000;

int TotalTimeoutMs(std::size_t count) {
    return 1000 * static_cast<int>(count) + 1000;
}
}  // namespace

std::vector<StepBytes> BytesOfGoodUpdate(const TestDevice& device, const std::string& scratch) {
    const Replay r = ReplayUpdate(device, -1, scratch);
    std::vector<StepBytes> steps;
    for (std::size_t i = 0; i < r.Log.size(); ++i) {
        const long long end = i + 1 < r.Log.size() ? r.StepStarts[i + 1] : r.BytesReceived;
        steps.push_back({r.Log[i], r.StepStarts[i], end});
    }
    return steps;
}

Expected ForecastDrop(const TestDevice& device, long long dropAfter, const std::string& scratch) {
    const Replay r = ReplayUpdate(device, dropAfter, scratch);
    Expected want;
    want.Exit = r.Outcome.Success ? 0 : r.Outcome.DeviceTouched ? 3 : 1;
    want.Code = r.Outcome.Success ? 0 : r.Outcome.Code;
    want.Message = r.Outcome.Success ? "" : r.Outcome.Message;
    for (std::size_t i = 1; i < r.Log.size(); ++i)
        if (r.Log[i].rfind(InterruptedPrefix, 0) == 0) want.StopStep = r.Log[i - 1];
    if (!r.Outcome.Success) {
        want.MaxWaitMs = TotalTimeoutMs(r.Last.Asked);
        want.MinWaitMs = r.Last.Got == 0 ? want.MaxWaitMs : ReadIntervalMs;
    }
    return want;
}
