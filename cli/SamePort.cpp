#include "cli/SamePort.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "link/SerialPort.h"

namespace {
// The device a name opens: links resolved, so every name of one device gives one text.
std::string DeviceOf(const std::string& port) {
    std::error_code error;
    const std::filesystem::path path = SerialDevicePath(port);
    const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
    if (!error) return real.string();
    return std::filesystem::absolute(path, error).lexically_normal().string();
}

// A port that another run of this command holds.
class HeldPort : public ISerialPort {
public:
    HeldPort(std::string port, std::string first)
        : Port(std::move(port)), First(std::move(first)) {}
    bool Open(const std::string&) override { return false; }
    bool IsOpen() const override { return false; }
    void Close() override {}
    bool ConfigureLine() override { return false; }
    bool SetReadTimeouts(const ReadTimeouts&) override { return false; }
    bool SetDtr(bool) override { return false; }
    void PurgeReceive() override {}
    void PurgeTransmit() override {}
    bool Read(uint8_t*, std::size_t, std::size_t& received) override {
        received = 0;
        return false;
    }
    bool Write(const uint8_t*, std::size_t) override { return false; }
    int LastError() const override { return EBUSY; }
    std::string Path() const override { return SerialDevicePath(Port); }
    std::vector<std::string> KnownTroubles(bool) const override {
        if (Port == First) return {Port + " is given twice; its first --port updates the device"};
        return {Port + " names the same port as " + First +
                ", given before it on the command line; that run updates the device"};
    }

private:
    const std::string Port, First;
};
}  // namespace

std::vector<std::optional<std::size_t>> EarlierSamePort(const std::vector<std::string>& ports) {
    std::vector<std::string> devices;
    std::vector<std::optional<std::size_t>> earlier;
    for (const std::string& p : ports) {
        devices.push_back(DeviceOf(p));
        earlier.emplace_back();
        for (std::size_t i = 0; i + 1 < devices.size(); ++i)
            if (devices[i] == devices.back()) {
                earlier.back() = i;
                break;
            }
    }
    return earlier;
}

std::vector<std::string> PortLabels(const std::vector<std::string>& ports) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto times =
            std::count(ports.begin(), ports.begin() + static_cast<long>(i) + 1, ports[i]);
        labels.push_back(times == 1 ? ports[i] : ports[i] + " (" + std::to_string(times) + ")");
    }
    return labels;
}

LinkFactory HeldPortLinks(const std::string& port, const std::string& first) {
    return [port, first] {
        return std::make_unique<TIspLink>(std::make_unique<HeldPort>(port, first), SystemClock());
    };
}
