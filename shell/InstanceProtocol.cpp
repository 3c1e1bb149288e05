#include "shell/InstanceProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "shell/AppIdentity.h"

namespace {
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits for the socket within the deadline; false on time-out or hang-up.
bool WaitReady(int fd, short events, long long deadline) {
    for (;;) {
        const long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && (p.revents & events);
    }
}

bool SendAll(int fd, const std::vector<uint8_t>& bytes, long long deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitReady(fd, POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<int32_t> ReceiveAnswer(int fd, long long deadline) {
    uint8_t answer[4];
    std::size_t got = 0;
    while (got < sizeof answer) {
        if (!WaitReady(fd, POLLIN, deadline)) return std::nullopt;
        const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    const uint32_t v =
        answer[0] | (answer[1] << 8) | (answer[2] << 16) | (uint32_t{answer[3]} << 24);
    return static_cast<int32_t>(v);
}

enum class Connection { Made, Refused, QueueFull, Failed };

// A connect that never blocks: a copy that is stopped, or busy for long, takes no connections,
// and once its queue is full a blocking connect would wait for it without any limit.
Connection Connect(int fd, const sockaddr_un& addr, long long deadline) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return Connection::Made;
    switch (errno) {
        case EAGAIN:
            return Connection::QueueFull;
        case ECONNREFUSED:
        case ENOENT:
            return Connection::Refused;
        case EINPROGRESS:
        case EINTR: {
            if (!WaitReady(fd, POLLOUT, deadline)) return Connection::Failed;
            int err = 0;
            socklen_t size = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0) return Connection::Failed;
            return err == 0 ? Connection::Made : Connection::Failed;
        }
        default:
            return Connection::Failed;
    }
}
}  // namespace

std::string InstanceEndpointPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = (runtime && *runtime == '/') ? runtime : "/tmp";
    return dir + "/" + InstanceEndpointName();
}

std::vector<uint8_t> EncodeActivate() {
    return {instance::RequestActivate};
}

std::vector<uint8_t> EncodeCopyData(uint32_t kind, const std::string& data) {
    std::vector<uint8_t> out{instance::RequestCopyData};
    PutU32(out, kind);
    PutU32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::optional<int32_t> SendInstanceRequest(const std::vector<uint8_t>& request,
                                           const std::string& endpoint, int waitMs,
                                           bool retryConnect) {
    sockaddr_un addr{};
    if (endpoint.size() >= sizeof addr.sun_path) return std::nullopt;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, endpoint.c_str(), endpoint.size() + 1);
    const long long deadline = NowMs() + waitMs;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return std::nullopt;
        const Connection c = Connect(fd, addr, deadline);
        std::optional<int32_t> answer;
        if (c == Connection::Made && SendAll(fd, request, deadline))
            answer = ReceiveAnswer(fd, deadline);
        ::close(fd);
        // A full queue means a copy listens there: it may take connections again in time.
        const bool again = c == Connection::QueueFull || (c == Connection::Refused && retryConnect);
        const long long left = deadline - NowMs();
        if (!again || left <= 0) return answer;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<long long>(instance::ConnectRetryMs, left)));
    }
}

bool EndpointPathFits(const std::string& endpoint) {
    return endpoint.size() < sizeof(sockaddr_un::sun_path);
}
