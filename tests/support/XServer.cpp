#include "tests/support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {
constexpr char XvfbPath[] = "/usr/bin/Xvfb";
constexpr int XvfbStartMs = 20000;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Own(T* reply) {
    return Reply<T>(reply, &std::free);
}
}  // namespace

// Xvfb writes its display number to -displayfd once it accepts clients.
Xvfb::Xvfb() {
    if (!std::filesystem::exists(XvfbPath)) {
        Why = "Xvfb is not installed (scripts/setup installs it)";
        return;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        Why = "no pipe";
        return;
    }
    Pid = fork();
    if (Pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(fds[1], 3);  // dup2 clears close-on-exec
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(XvfbPath, XvfbPath, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
              "1024x768x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, XvfbStartMs) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty())
        Why = "Xvfb did not start";
    else
        DisplayName = ":" + number;
}

Xvfb::~Xvfb() {
    if (Pid > 0) {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }
}

XClient::XClient(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    Connection = c;
    Root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

XClient::~XClient() {
    if (Connection) xcb_disconnect(Connection);
}

uint32_t XClient::Atom(const char* name) {
    auto reply = Own(xcb_intern_atom_reply(
        Connection, xcb_intern_atom(Connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<uint32_t>(XCB_ATOM_NONE);
}

std::string XClient::Property(uint32_t window, const char* name, uint32_t type) {
    auto reply = Own(xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, window, Atom(name), type, 0, 4096), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

std::string XClient::NetWmName(uint32_t window) {
    return Property(window, "_NET_WM_NAME", Atom("UTF8_STRING"));
}

std::string XClient::WmName(uint32_t window) {
    return Property(window, "WM_NAME", XCB_ATOM_ANY);
}

std::vector<XClient::Window> XClient::MappedTopLevels() {
    std::vector<Window> found;
    auto tree = Own(xcb_query_tree_reply(Connection, xcb_query_tree(Connection, Root), nullptr));
    if (!tree) return found;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        auto attributes = Own(xcb_get_window_attributes_reply(
            Connection, xcb_get_window_attributes(Connection, children[i]), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        found.push_back({children[i], NetWmName(children[i]), WmName(children[i])});
    }
    return found;
}

void XClient::RequestClose(uint32_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom("WM_PROTOCOLS");
    event.data.data32[0] = Atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(Connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    Sync();
}

uint8_t XClient::KeycodeOf(uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(Connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto map = Own(xcb_get_keyboard_mapping_reply(
        Connection,
        xcb_get_keyboard_mapping(Connection, setup->min_keycode, static_cast<uint8_t>(count)),
        nullptr));
    if (!map) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    for (int k = 0; k < count; ++k)
        for (int i = 0; i < map->keysyms_per_keycode; ++i)
            if (syms[k * map->keysyms_per_keycode + i] == keysym)
                return static_cast<uint8_t>(setup->min_keycode + k);
    return 0;
}

void XClient::PressKey(uint32_t keysym) {
    const uint8_t code = KeycodeOf(keysym);
    xcb_test_fake_input(Connection, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(Connection, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    Sync();
}

void XClient::TypeText(const std::string& lowerCaseLetters) {
    for (const char c : lowerCaseLetters) PressKey(static_cast<unsigned char>(c));
}

void XClient::Focus(uint32_t window) {
    xcb_set_input_focus(Connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    Sync();
}

void XClient::Sync() {
    Own(xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr));
}
