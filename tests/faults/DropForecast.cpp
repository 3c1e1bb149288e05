#include "tests/faults/DropForecast.h"

#include "link/IspLink.h"
#include "programming/ProgrammingRun.h"
#include "sim/SimPort.h"
#include "tests/faults/RowRules.h"
#include "tests/support/RecordingReport.h"

namespace {
struct LastRead {
    std::size_t Asked = 0, Got = 0;
};

// The in-process port, noting every read; the note outlives the port.
class WatchedPort : public SimPort {
public:
    WatchedPort(BoxModel& box, LastRead& note) : SimPort(box), Note(note) {}
    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        const bool ok = SimPort::Read(dest, count, received);
        Note = {count, received};
        return ok;
    }

private:
    LastRead& Note;
};

struct Replay {
    RunOutcome Outcome;
    std::vector<std::string> Log;
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
    RecordingReport report;
    ProgrammingRun run(params, report, factory, RunOptions{scratch, ""});
    r.Outcome = run.Execute();
    r.Log = report.Lines;
    r.BytesReceived = box.BytesReceived;
    return r;
}

// A read of n bytes gives up 1000 x n + 1000 ms after it began when nothing came, or
// 1000 ms after the last byte that did.
int TotalTimeoutMs(std::size_t count) {
    return isp::ReadTotalPerByteMs * static_cast<int>(count) + isp::ReadTotalConstantMs;
}
}  // namespace

long long BytesOfGoodUpdate(const TestDevice& device, const std::string& scratch) {
    return ReplayUpdate(device, -1, scratch).BytesReceived;
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
        want.MinWaitMs = r.Last.Got == 0 ? want.MaxWaitMs : isp::ReadIntervalMs;
    }
    return want;
}
