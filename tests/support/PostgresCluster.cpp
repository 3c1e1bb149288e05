#include "tests/support/PostgresCluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
// The newest server installed: /usr/lib/postgresql/<version>/bin.
std::string FindBinDir() {
    std::string best;
    int bestVersion = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string name = entry.path().filename().string();
        const int version = std::atoi(name.c_str());
        if (version > bestVersion && fs::exists(entry.path() / "bin" / "initdb")) {
            bestVersion = version;
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
}  // namespace

PostgresCluster::PostgresCluster(bool durable) : Durable(durable) {
    BinDir = FindBinDir();
    if (BinDir.empty()) {
        Trouble = "no PostgreSQL server in /usr/lib/postgresql (scripts/setup installs it)";
        return;
    }
    std::string pattern = (fs::temp_directory_path() / "q40pg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        Trouble = "mkdtemp failed";
        return;
    }
    Base = pattern;
    Data = Base + "/data";
    Socket = Base + "/socket";
    fs::create_directories(Socket);
    if (geteuid() == 0) {
        // The server refuses to run as root; it gets an unprivileged user and the folder.
        ServerUser = getpwnam("postgres") ? "postgres" : "nobody";
        const passwd* pw = getpwnam(ServerUser.c_str());
        for (const std::string& p : {Base, Socket})
            if (!pw || chown(p.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
                Trouble = "cannot give " + p + " to " + ServerUser;
                return;
            }
    }
    StartGuard();
    {
        std::ofstream(Base + "/password") << Password << "\n";
        if (const passwd* pw = ServerUser.empty() ? nullptr : getpwnam(ServerUser.c_str()))
            if (chown((Base + "/password").c_str(), pw->pw_uid, pw->pw_gid) != 0) {
                Trouble = "cannot give the password file to " + ServerUser;
                return;
            }
    }
    std::string out;
    if (!Run({BinDir + "/initdb", "-D", Data, "-U", User, "--pwfile=" + Base + "/password",
              "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C.UTF-8",
              "--no-sync", "--no-instructions"},
             &out)) {
        Trouble = "initdb failed: " + out;
        return;
    }
    for (int attempt = 0; attempt < 5 && !Running; ++attempt) {
        PortNumber = FreePort();
        Trouble.clear();
        Start();
    }
}

PostgresCluster::~PostgresCluster() {
    if (Running) Stop();
    if (GuardPipe >= 0) close(GuardPipe);  // the guard removes the folder
    if (GuardPid > 0) waitpid(GuardPid, nullptr, 0);
}

// sh waits for the end of its standard input, which is this process's pipe: it comes when
// this process closes it or dies. Then the server is stopped and the folder removed.
void PostgresCluster::StartGuard() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::string stop = Quoted(BinDir + "/pg_ctl") + " -D " + Quoted(Data) + " -m immediate -s stop";
    if (!ServerUser.empty()) stop = "runuser -u " + ServerUser + " -- " + stop;
    const std::string script =
        "cat >/dev/null; " + stop + " >/dev/null 2>&1; rm -rf " + Quoted(Base);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    std::vector<std::string> args = {"/bin/sh", "-c", script};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) GuardPid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    GuardPipe = fds[1];
}

bool PostgresCluster::Run(const std::vector<std::string>& command, std::string* output,
                          bool asServerUser) {
    std::vector<std::string> args;
    if (asServerUser && !ServerUser.empty()) args = {"/usr/sbin/runuser", "-u", ServerUser, "--"};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = Base + "/command.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0666);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, Base.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (output) *output = args[0] + ": " + std::strerror(rc);
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) *output = ReadAll(outPath);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PostgresCluster::Start() {
    std::string options =
        "-p " + std::to_string(PortNumber) + " -k " + Socket + " -c listen_addresses=127.0.0.1";
    if (!Durable) options += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    std::string out;
    if (!Run({BinDir + "/pg_ctl", "-D", Data, "-l", Base + "/server.log", "-w", "-t", "60", "-s",
              "-o", options, "start"},
             &out)) {
        Trouble = "the server did not start: " + out + ReadAll(Base + "/server.log");
        return false;
    }
    Running = true;
    return true;
}

bool PostgresCluster::Stop() {
    std::string out;
    if (!Run({BinDir + "/pg_ctl", "-D", Data, "-m", "fast", "-w", "-s", "stop"}, &out)) {
        Trouble = "the server did not stop: " + out;
        return false;
    }
    Running = false;
    return true;
}

std::string PostgresCluster::Url(const std::string& database, const std::string& password) const {
    return "postgresql://" + std::string(User) + ":" + password +
           "@127.0.0.1:" + std::to_string(PortNumber) + "/" + database;
}

std::string PostgresCluster::NewDatabase() {
    const std::string name = "ledger" + std::to_string(++Databases);
    Sql("postgres", "CREATE DATABASE " + name);
    return Url(name);
}

std::string PostgresCluster::Sql(const std::string& database, const std::string& sql) {
    std::string out;
    if (!Run({BinDir + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", Socket, "-p",
              std::to_string(PortNumber), "-U", User, "-d", database, "-c", sql},
             &out, false)) {
        Trouble = "psql failed: " + out;
        return {};
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

PostgresCluster& SharedCluster() {
    static PostgresCluster cluster;
    return cluster;
}
