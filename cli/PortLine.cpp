#include "cli/PortLine.h"

#include <algorithm>

namespace {
const std::string Gap = "  ";
const std::string Cut = "..";

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}
}  // namespace

std::string PortColumn(const std::string& port, std::size_t width) {
    if (port.size() <= width) return Padded(port, width);
    if (width <= Cut.size()) return port.substr(port.size() - width);
    return Cut + port.substr(port.size() - (width - Cut.size()));
}

std::string FitPortLine(const PortLineParts& p, std::size_t portWidth, int columns) {
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    // The port column gives way first to what follows it, down to a third of the line.
    const std::size_t portRoom = std::min(portWidth, std::max<std::size_t>(room / 3, 4));
    std::string head = PortColumn(p.Port, portRoom) + Gap + Padded(p.Chip, ChipColumnWidth);
    if (!p.Counts.empty()) head += Gap + p.Counts;
    head += Gap;
    if (head.size() >= room) return head.substr(0, room);
    const std::size_t rest = room - head.size();
    if (p.InTransfer) return head + FitProgressLine(p.Progress, static_cast<int>(rest + 1));
    return head + p.Text.substr(0, rest);
}
