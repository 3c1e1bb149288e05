#include "cli/PortLine.h"

#include <algorithm>

namespace {
const std::string Gap = "  ";
const std::string Cut = "..";
const std::string MoreWords = "...";
// A port column narrower than this no longer tells ttyUSB0 from ttyUSB10.
constexpr std::size_t MinPortColumn = 6;

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string Head(const PortLineParts& p, std::size_t portColumn) {
    std::string head = PortColumn(p.Port, portColumn) + Gap + Padded(p.Chip, ChipColumnWidth);
    if (!p.Counts.empty()) head += Gap + p.Counts;
    return head + Gap;
}

// The words of 'text' that fit into 'width', with "..." where words were left off; a word is
// never cut, so no outcome reads as another ("Port not" from "Port not available").
std::string WholeWords(const std::string& text, std::size_t width) {
    if (text.size() <= width) return text;
    if (width < MoreWords.size()) return {};
    const std::size_t room = width - MoreWords.size();
    // The last blank at or before 'room' ends the words that fit.
    std::size_t end = text.rfind(' ', room);
    if (end == std::string::npos) return MoreWords;
    while (end > 0 && text[end - 1] == ' ') --end;
    return text.substr(0, end) + MoreWords;
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
    std::size_t portColumn = std::min(portWidth, std::max<std::size_t>(room / 3, 4));
    std::string head = Head(p, portColumn);
    if (p.InTransfer) {
        if (head.size() >= room) return head.substr(0, room);
        return head + FitProgressLine(p.Progress, static_cast<int>(room - head.size() + 1));
    }
    // A text (an outcome above all) is worth more than the port name's middle: the name
    // shrinks further before a word of the text is left off.
    if (head.size() + p.Text.size() > room && portColumn > MinPortColumn) {
        const std::size_t over = head.size() + p.Text.size() - room;
        portColumn = std::max(MinPortColumn, portColumn > over ? portColumn - over : 0);
        head = Head(p, portColumn);
    }
    if (head.size() >= room) return head.substr(0, room);
    return head + WholeWords(p.Text, room - head.size());
}
