// A program started with stdin, stdout or stderr closed: after OpenClosedStandardDescriptors
// the next file it opens (the serial port) can never get 0, 1 or 2.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "link/StandardDescriptors.h"

namespace {
std::string Target(int fd) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// In a child, so that the test's own descriptors stay as they are: closes 'closed', mends
// them, then opens a file. The child's exit code: 0 when all went as it should, else the
// number of the check that failed.
int ChildWith(const std::vector<int>& closed) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string before = Target(STDOUT_FILENO);
        for (const int fd : closed) close(fd);
        if (!OpenClosedStandardDescriptors()) _exit(10);
        for (int fd = 0; fd <= 2; ++fd) {
            const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
            if (wasClosed && Target(fd) != "/dev/null") _exit(20 + fd);
        }
        // What stayed open is left alone.
        if (std::find(closed.begin(), closed.end(), STDOUT_FILENO) == closed.end() &&
            Target(STDOUT_FILENO) != before)
            _exit(30);
        const int port = open("/dev/null", O_RDONLY | O_CLOEXEC);
        _exit(port > STDERR_FILENO ? 0 : 40);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(StandardDescriptors, EveryClosedOneGetsDevNull) {
    const std::vector<std::vector<int>> cases = {{},
                                                 {STDOUT_FILENO},
                                                 {STDERR_FILENO},
                                                 {STDIN_FILENO},
                                                 {STDOUT_FILENO, STDERR_FILENO},
                                                 {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}};
    for (const std::vector<int>& closed : cases) {
        std::string name;
        for (const int fd : closed) name += std::to_string(fd) + " ";
        SCOPED_TRACE("closed: " + name);
        EXPECT_EQ(ChildWith(closed), 0);
    }
}
