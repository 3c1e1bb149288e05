#include "cli/PortBoard.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "cli/StopSignals.h"
#include "platform/CalendarTime.h"
#include "platform/SystemFiles.h"
#include "programming/ProgressText.h"

namespace {
constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr int TenthsPerTransfer = 10;
const char* const CursorUp = "\x1b[%zuA";
const char* const EraseBelow = "\x1b[J";
const char* const EraseLineEnd = "\x1b[K";

// Writes and empties 'text'; stdout's lines go first, so both streams keep their order.
void Put(FILE* stream, std::string& text) {
    if (text.empty()) return;
    std::fflush(stdout);
    // A closed terminal or pipe loses the text; the update goes on regardless.
    if (std::fwrite(text.data(), 1, text.size(), stream) == text.size()) std::fflush(stream);
    text.clear();
}

}  // namespace

// The failure texts end in a full stop or an exclamation mark; "done" gets one.
std::string OutcomeSentence(const RunOutcome& o) {
    if (o.Success) return "done.";
    const std::string text = "FAILED: " + o.Message;
    return text.back() == '.' || text.back() == '!' || text.back() == '?' ? text : text + ".";
}

PortBoard::PortBoard(const std::vector<std::string>& ports, const StopSignals& stop,
                     std::string notice, std::string again, bool station)
    : Stop(stop), Notice(std::move(notice)), Again(std::move(again)), Station(station) {
    for (const std::string& p : ports) {
        PortState s;
        s.Name = p;
        Ports.push_back(s);
        PortWidth = std::max(PortWidth, p.size());
    }
    if (sysfile::IsTerminal(sysfile::StandardError)) Width.emplace(sysfile::StandardError);
}

void PortBoard::Say(bool toStderr, std::string text) {
    Pending.push_back({toStderr, std::move(text)});
    Wake.notify_one();
}

void PortBoard::Log(std::size_t port, const std::string& line) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    s.Text = line;
    s.InTransfer = false;
    if (OperatorView() && !LogLinesShown) return Wake.notify_one();
    Say(false, s.Name + ": " + line);
}

void PortBoard::ShowLogLines(bool verbose) {
    std::lock_guard<std::mutex> lock(Mutex);
    LogLinesShown = verbose;
}

void PortBoard::Ask(std::size_t port, const std::string& question) {
    std::lock_guard<std::mutex> lock(Mutex);
    Ports[port].Question = question;
    if (OperatorView())
        Wake.notify_one();
    else
        Say(true, Ports[port].Name + ": " + question);
}

void PortBoard::Answered(std::size_t port) {
    std::lock_guard<std::mutex> lock(Mutex);
    Ports[port].Question.clear();
    Wake.notify_one();
}

void PortBoard::Event(const std::string& text) {
    char stamp[16] = "";
    const std::time_t now = std::time(nullptr);
    const std::tm local = LocalCalendar(now);
    std::strftime(stamp, sizeof stamp, "%H:%M:%S ", &local);
    Events.push_back(stamp + text);
    while (Events.size() > StationEventsShown) Events.pop_front();
}

void PortBoard::LogLines(std::size_t port, const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        Log(port, text.substr(at, end - at));
        at = end + 1;
    }
}

void PortBoard::Warn(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (OperatorView()) Event(Ports[port].Name + ": warning: " + text);
    Say(true, "q40prog-cli: " + Ports[port].Name + ": warning: " + text);
}

void PortBoard::Chip(std::size_t port, const std::string& name) {
    std::lock_guard<std::mutex> lock(Mutex);
    Ports[port].Chip = name;
}

// The last board's outcome stays on a station's board until the next is put on.
void PortBoard::PutOn(std::size_t port, const std::string& chip) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    s.Chip = chip;
    s.Last = {};
    if (OperatorView()) Event(s.Name + ": board put on (" + chip + ")");
    Wake.notify_one();
}

void PortBoard::Progress(std::size_t port, int32_t position, int32_t total, int32_t phase) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    if (phase != s.Phase || !s.InTransfer) {
        s.Phase = phase;
        s.PhaseStart = std::chrono::steady_clock::now();
        s.LastTenth = -1;
    }
    s.InTransfer = true;
    s.Position = position;
    s.Total = total;
    if (Width) return;  // drawn at the next redraw
    const int tenth = total > 0 ? static_cast<int>(int64_t{position} * TenthsPerTransfer / total)
                                : TenthsPerTransfer;
    if (IsFinishedPhase(phase) || tenth != s.LastTenth) {
        Say(true, s.Name + ": " + StatusText(position, total, phase, s.StopWaits));
        s.LastTenth = tenth;
    }
}

void PortBoard::StopPending(std::size_t port) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    s.StopWaits = true;
    if (Width)
        Wake.notify_one();
    else if (s.InTransfer)
        Say(true, s.Name + ": " + StatusText(s.Position, s.Total, s.Phase, true));
}

void PortBoard::State(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    if (text == s.Text && !s.InTransfer) return;
    s.Text = text;
    s.InTransfer = false;
    if (Width)
        Wake.notify_one();
    else
        Say(true, s.Name + ": " + text);
}

std::string PortBoard::CountsText(const UpdateCounts& c) const {
    std::string text = std::to_string(c.Done) + " done, " + std::to_string(c.Failed) + " failed";
    if (c.TakenOff > 0) text += ", " + std::to_string(c.TakenOff) + " taken off";
    return text;
}

// A board taken off in the middle of its update is no chip that failed: it is counted on its
// own and leaves the socket's run of failures as it was.
void PortBoard::CountOutcome(PortState& s, const RunOutcome& o) {
    if (o.Success) {
        ++s.Counts.Done;
        s.FailedInARow = 0;
        s.Last = {LastBoard::Pass, {}, {}};
        return;
    }
    const std::string cause = CauseText(o.Cause);
    std::string text = o.Message;
    if (!o.Detail.empty()) text += "\n" + o.Detail;
    if (Station && o.Cause == FailureCause::TargetLost) {
        ++s.Counts.TakenOff;
        s.Last = {LastBoard::TakenOff, text, cause};
        return;
    }
    ++s.Counts.Failed;
    ++s.FailedInARow;
    s.Last = {LastBoard::Fail, text, cause};
}

void PortBoard::Finished(std::size_t port, const RunOutcome& outcome) {
    std::lock_guard<std::mutex> lock(Mutex);
    PortState& s = Ports[port];
    CountOutcome(s, outcome);
    s.Text = OutcomeSentence(outcome);
    s.InTransfer = false;
    s.StopWaits = false;
    if (!Station) return Wake.notify_one();
    UpdateCounts total;
    for (const PortState& p : Ports) {
        total.Done += p.Counts.Done;
        total.Failed += p.Counts.Failed;
        total.TakenOff += p.Counts.TakenOff;
    }
    const std::string taken =
        s.Last.Result == LastBoard::TakenOff ? " The board was taken off." : "";
    const std::string line = s.Name + ": " + OutcomeSentence(outcome) + taken + " This port " +
                             CountsText(s.Counts) + "; all ports " + CountsText(total) + ".";
    const bool alarm = s.Last.Result == LastBoard::Fail && s.FailedInARow == AlarmAfterFailures;
    if (OperatorView()) {
        Event(line);
        if (alarm) Event(AlarmText(s.Name));
        if (LogLinesShown) Say(false, line);
        Wake.notify_one();
    } else {
        Say(false, line);
        if (alarm) Say(false, AlarmText(s.Name));
    }
    if (Width) Bells += alarm ? 3 : 1;
}

void PortBoard::PortDone(std::size_t port) {
    std::lock_guard<std::mutex> lock(Mutex);
    Ports[port].Done = true;
    Wake.notify_one();
}

bool PortBoard::AllDone() const {
    return std::all_of(Ports.begin(), Ports.end(), [](const PortState& s) { return s.Done; });
}

UpdateCounts PortBoard::CountsOf(std::size_t port) const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Ports[port].Counts;
}

UpdateCounts PortBoard::Total() const {
    std::lock_guard<std::mutex> lock(Mutex);
    UpdateCounts total;
    for (const PortState& p : Ports) {
        total.Done += p.Counts.Done;
        total.Failed += p.Counts.Failed;
        total.TakenOff += p.Counts.TakenOff;
    }
    return total;
}

std::vector<std::string> PortBoard::StationLines() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<SocketView> sockets;
    for (const PortState& s : Ports) {
        SocketView v;
        v.Port = s.Name;
        v.Chip = s.Chip;
        v.Last = s.Last;
        v.Counts = {s.Counts.Done, s.Counts.Failed, s.Counts.TakenOff};
        v.Alarm = s.FailedInARow >= AlarmAfterFailures;
        v.Now.InTransfer = s.InTransfer;
        if (s.InTransfer)
            v.Now.Progress = MakeProgressParts(
                s.Position, s.Total, s.Phase,
                std::chrono::duration<double>(now - s.PhaseStart).count(), s.StopWaits);
        v.Now.Text = s.Question.empty() ? s.Text : s.Question;
        sockets.push_back(std::move(v));
    }
    return StationViewLines(sockets, Events, Width->Columns());
}

std::vector<std::string> PortBoard::BoardLines() {
    if (Station) return StationLines();
    const int columns = Width->Columns();
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::string> lines;
    UpdateCounts total;
    for (const PortState& s : Ports) {
        PortLineParts parts;
        parts.Port = s.Name;
        parts.Chip = s.Chip;
        if (Station) parts.Counts = CountsText(s.Counts);
        parts.InTransfer = s.InTransfer;
        if (s.InTransfer)
            parts.Progress = MakeProgressParts(
                s.Position, s.Total, s.Phase,
                std::chrono::duration<double>(now - s.PhaseStart).count(), s.StopWaits);
        parts.Text = s.Text;
        lines.push_back(FitPortLine(parts, PortWidth, columns));
        total.Done += s.Counts.Done;
        total.Failed += s.Counts.Failed;
    }
    if (Station) {
        const std::string line = "all ports: " + CountsText(total);
        lines.push_back(line.substr(0, static_cast<std::size_t>(std::max(columns - 1, 1))));
    }
    return lines;
}

void PortBoard::SayStopNotices(std::vector<Output>& out) {
    const int seen = Stop.Count();
    if (seen <= StopsSaid) return;
    out.push_back({true, StopsSaid == 0 ? Notice : Again});
    StopsSaid = seen;
}

// The board's lines may have wrapped since they were drawn, if the terminal has narrowed.
std::string PortBoard::EraseBoard() {
    if (Drawn.empty()) return {};
    const auto columns = static_cast<std::size_t>(std::max(Width->Columns(), 1));
    std::size_t rows = 0;
    for (const std::size_t length : Drawn)
        rows += std::max<std::size_t>(1, (length + columns - 1) / columns);
    Drawn.clear();
    char up[32];
    std::snprintf(up, sizeof up, CursorUp, rows);
    // From the line's start: the terminal may have echoed something (^C) after the board,
    // and cursor-up keeps the column, which would leave the first characters standing.
    return "\r" + std::string(up) + EraseBelow;
}

// stderr is unbuffered: each piece for it is put together first and written at once, so the
// board never shows half drawn.
void PortBoard::Write(const std::vector<Output>& out, const std::vector<std::string>& board,
                      int bells) {
    // A board that shows what it shows already is left alone.
    if (out.empty() && bells == 0 && board == OnScreen) return;
    OnScreen = board;
    std::string err = Width ? EraseBoard() : std::string();
    for (const Output& o : out) {
        const std::string text = o.Text.empty() || o.Text.back() != '\n' ? o.Text + "\n" : o.Text;
        if (o.ToStderr) {
            err += text;
            continue;
        }
        Put(stderr, err);
        std::fputs(text.c_str(), stdout);
    }
    std::fflush(stdout);
    for (const std::string& line : board) {
        err += line + EraseLineEnd + "\n";
        Drawn.push_back(ScreenWidth(line));
    }
    err.append(static_cast<std::size_t>(bells), '\a');
    Put(stderr, err);
}

void PortBoard::Show() {
    for (;;) {
        std::vector<Output> out;
        std::vector<std::string> board;
        int bells = 0;
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(Mutex);
            Wake.wait_for(lock, RedrawInterval, [&] { return !Pending.empty() || AllDone(); });
            out.assign(Pending.begin(), Pending.end());
            Pending.clear();
            std::swap(bells, Bells);
            done = AllDone();
            if (Width) board = BoardLines();
        }
        SayStopNotices(out);
        Write(out, board, bells);
        if (done) return;
    }
}
