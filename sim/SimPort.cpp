#include "sim/SimPort.h"

bool SimPort::Open(const std::string& name) {
    Name = name;
    if (OpenErrno != 0) {
        Error = OpenErrno;
        return false;
    }
    Opened = true;
    return true;
}

bool SimPort::SetDtr(bool asserted) {
    if (DtrErrno != 0) {
        Error = DtrErrno;
        return false;
    }
    if (!asserted) Box.Reset();
    return true;
}

bool SimPort::Read(uint8_t* dest, std::size_t count, std::size_t& received) {
    received = 0;
    while (received < count && !Box.Output.empty()) {
        if (FailReadAfter >= 0 && BytesRead >= FailReadAfter) {
            Error = EIO;
            return false;
        }
        dest[received++] = Box.Output.front().Value;
        Box.Output.pop_front();
        ++BytesRead;
    }
    return true;  // fewer than asked: the time-outs ran out
}

bool SimPort::Write(const uint8_t* src, std::size_t count) {
    if (FailWriteAfter >= 0 && Written.size() + count > static_cast<std::size_t>(FailWriteAfter)) {
        Error = EIO;
        return false;
    }
    Written.insert(Written.end(), src, src + count);
    WriteSizes.push_back(count);
    Box.Receive(src, count);
    return true;
}
