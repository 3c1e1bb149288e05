#pragma once
// A real X server for the tests that need what only a desktop shows: titles as the window
// manager reads them, keys and frame closes that come through the server.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct xcb_connection_t;

// An Xvfb of the test's own; it picks a free display number itself.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N", or empty when Xvfb is not installed or did not start (Problem() tells).
    const std::string& Display() const { return DisplayName; }
    const std::string& Problem() const { return Why; }

private:
    pid_t Pid = -1;
    std::string DisplayName;
    std::string Why;
};

// A client of the server that reads and does what a window manager would.
class XClient {
public:
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool Connected() const { return Connection != nullptr; }

    struct Window {
        uint32_t Id;
        std::string NetWmName;  // _NET_WM_NAME (UTF-8)
        std::string WmName;     // WM_NAME
    };
    // The mapped top-level windows, bottom to top.
    std::vector<Window> MappedTopLevels();
    std::string NetWmName(uint32_t window);
    std::string WmName(uint32_t window);

    // What a window manager sends for the close box or Alt+F4.
    void RequestClose(uint32_t window);
    // A key press and release through the XTEST extension, as a keyboard would make it; the
    // key goes where the server's input focus is.
    void PressKey(uint32_t keysym);
    void TypeText(const std::string& lowerCaseLetters);
    void Focus(uint32_t window);
    void Sync();

private:
    std::string Property(uint32_t window, const char* name, uint32_t type);
    uint32_t Atom(const char* name);
    uint8_t KeycodeOf(uint32_t keysym);

    xcb_connection_t* Connection = nullptr;
    uint32_t Root = 0;
};

// Keysyms the tests press.
namespace keysym {
constexpr uint32_t Escape = 0xff1b;
constexpr uint32_t Return = 0xff0d;
}  // namespace keysym
