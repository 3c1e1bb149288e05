#include "sim/RawImageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {
bool Fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}
std::string Reason() {
    return std::strerror(errno);
}
}  // namespace

bool LoadRawImage(const std::string& path, std::vector<uint8_t>& memory, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(error, "cannot read " + path + ": " + Reason());
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (in.bad()) return Fail(error, "cannot read " + path + ": " + Reason());
    if (bytes.size() > memory.size())
        return Fail(error, path + " holds " + std::to_string(bytes.size()) +
                               " bytes, more than the " + std::to_string(memory.size()) +
                               " of the simulated memory");
    std::memcpy(memory.data(), bytes.data(), bytes.size());
    return true;
}

bool SaveRawImage(const std::string& path, const std::vector<uint8_t>& memory, std::string& error) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(memory.data()),
                  static_cast<std::streamsize>(memory.size()));
        out.close();
        if (!out) return Fail(error, "cannot write " + temporary + ": " + Reason());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = Reason();
        std::remove(temporary.c_str());
        return Fail(error, "cannot write " + path + ": " + reason);
    }
    return true;
}
