#pragma once
// Splits what the link wrote into command frames: the letter and the bytes after it.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/BoxModel.h"

struct TraceFrame {
    char Letter;
    std::vector<uint8_t> Tail;
};

inline std::vector<TraceFrame> SplitTrace(const std::vector<uint8_t>& written) {
    std::vector<TraceFrame> frames;
    for (std::size_t i = 0; i < written.size();) {
        TraceFrame f{static_cast<char>(written[i++]), {}};
        while (i < written.size() && f.Tail.size() < CommandTailLength(f.Letter, f.Tail))
            f.Tail.push_back(written[i++]);
        frames.push_back(std::move(f));
    }
    return frames;
}

inline std::string Letters(const std::vector<TraceFrame>& frames) {
    std::string s;
    for (const TraceFrame& f : frames) s += f.Letter;
    return s;
}
