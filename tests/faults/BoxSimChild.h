#pragma once
// q40prog-boxsim as a child that the matrix may kill outright (the box vanishing) or stop
// politely (the box writes its memory dumps on the way out).

#include <sys/types.h>

#include <string>
#include <vector>

class BoxSimChild {
public:
    static constexpr int StartTimeoutMs = 10000;

    explicit BoxSimChild(std::string program) : Program(std::move(program)) {}
    ~BoxSimChild();
    BoxSimChild(const BoxSimChild&) = delete;
    BoxSimChild& operator=(const BoxSimChild&) = delete;

    // False with Error() set when it names no port in time.
    bool Start(const std::vector<std::string>& options);
    const std::string& PortPath() const { return Port; }
    const std::string& Error() const { return ErrorText; }
    bool Running() const { return Pid > 0; }

    // SIGKILL: no dumps, the pseudo-terminal goes away with the process.
    void Kill();
    // SIGTERM and wait; the exit code (0 when the dumps were written), -1 after a kill.
    int Stop();

private:
    bool ReadPortLine();
    int Finish();

    std::string Program;
    pid_t Pid = -1;
    int Output = -1;
    std::string Port;
    std::string ErrorText;
};
