// The converter that stands in the program's folder: takes the program's preset command lines,
// runs the system's ffmpeg with the options of today, and reports progress times in seconds.
// Exits with ffmpeg's status; signals sent to it reach ffmpeg. It ends with the program that
// started it, however that ends, and then leaves no output behind.

#include "frontrules.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the kernel sends when the thread that started the front ends; the program's worker
// thread waits for the converter, so that happens only when the program itself has gone.
constexpr int kStarterGone = SIGUSR1;

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_starterGone = 0;

void ForwardSignal(int signal)
{
    if (g_child > 0)
        kill(pid_t(g_child), signal);
}

// Nobody is left to read the output: ffmpeg stops at once.
void OnStarterGone(int)
{
    g_starterGone = 1;
    if (g_child > 0)
        kill(pid_t(g_child), SIGKILL);
}

// Arms the death signal, then makes sure the starter did not go before it was armed: the
// parent must still be the one the front began with, and standard input, a pipe the program
// holds open while the converter runs, must still have a writer. False when the starter has
// gone already.
bool FollowStarter()
{
    const pid_t starter = getppid();
    // When the program ends, the front's output may close before the death signal comes: a
    // write in between must fail, not end the front before it has cleaned up.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction gone {};
    gone.sa_handler = OnStarterGone;
    sigemptyset(&gone.sa_mask);
    sigaction(kStarterGone, &gone, nullptr);
    if (prctl(PR_SET_PDEATHSIG, kStarterGone) != 0)
        return true;
    if (getppid() != starter)
        return false;
    struct stat input {};
    if (fstat(STDIN_FILENO, &input) != 0 || !S_ISFIFO(input.st_mode))
        return true;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return !(poll(&p, 1, 0) == 1 && (p.revents & POLLHUP));
}

// What a path was before ffmpeg ran, to tell whether ffmpeg has written it since.
struct FileState {
    bool exists = false;
    struct stat info {};
};

FileState StateOf(const std::string& path)
{
    FileState state;
    state.exists = !path.empty() && stat(path.c_str(), &state.info) == 0;
    return state;
}

// Removes what ffmpeg wrote to path; a file it has not touched yet stays.
void RemoveOutput(const std::string& path, const FileState& before)
{
    const FileState now = StateOf(path);
    if (!now.exists || !S_ISREG(now.info.st_mode))
        return;
    const bool touched = !before.exists || now.info.st_ino != before.info.st_ino ||
                         now.info.st_size != before.info.st_size ||
                         now.info.st_mtim.tv_sec != before.info.st_mtim.tv_sec ||
                         now.info.st_mtim.tv_nsec != before.info.st_mtim.tv_nsec;
    if (touched)
        unlink(path.c_str());
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The first ffmpeg on PATH that is not this program.
std::string FindSystemFfmpeg()
{
    const std::string self = RealPath("/proc/self/exe");
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/ffmpeg";
        struct stat info {};
        if (access(candidate.c_str(), X_OK) == 0 && stat(candidate.c_str(), &info) == 0 &&
            S_ISREG(info.st_mode) && RealPath(candidate) != self)
            return candidate;
        start = end + 1;
    }
    return {};
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// In a forked child: replaces the process with program, or ends it with 127.
[[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& arguments)
{
    std::signal(SIGPIPE, SIG_DFL);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    _exit(127);
}

// Runs ffmpeg with arguments, returning what it printed on standard output.
std::string Capture(const std::string& ffmpeg, const std::vector<std::string>& arguments)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        if (!freopen("/dev/null", "w", stderr))
            _exit(127);
        Exec(ffmpeg, arguments);
    }
    close(fds[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, size_t(got));
    }
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return output;
}

// Copies ffmpeg's console output to ours, line by line so that a time is never split.
void Relay(int from)
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, size_t(got));
        const size_t end = pending.find_last_of("\r\n");
        if (end == std::string::npos)
            continue;
        const std::string text =
            FrontRules::RewriteTimes(std::string_view(pending).substr(0, end + 1));
        WriteAll(STDERR_FILENO, text.data(), text.size());
        pending.erase(0, end + 1);
    }
    const std::string text = FrontRules::RewriteTimes(pending);
    WriteAll(STDERR_FILENO, text.data(), text.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (!FollowStarter())
        return 1;
    const std::string ffmpeg = FindSystemFfmpeg();
    if (ffmpeg.empty()) {
        std::fputs("ffmpeg not found: install the ffmpeg package\n", stderr);
        return 127;
    }

    const FrontRules::Arguments preset(argv + 1, argv + argc);
    std::string encoders;
    if (FrontRules::NeedsEncoderList(preset))
        encoders = Capture(ffmpeg, {"-hide_banner", "-encoders"});
    const auto hasEncoder = [&encoders](std::string_view name) {
        // Lines read " V..... name   description".
        return encoders.find(" " + std::string(name) + " ") != std::string::npos;
    };
    const FrontRules::Arguments arguments = FrontRules::MapArguments(preset, hasEncoder);

    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        return 126;
    }
    struct sigaction forward {};
    forward.sa_handler = ForwardSignal;
    sigemptyset(&forward.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(signal, &forward, nullptr);

    const std::string output = FrontRules::OutputPath(preset);
    const FileState outputBefore = StateOf(output);
    if (g_starterGone)
        return 1;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 126;
    }
    if (child == 0) {
        // Should the front be killed outright, ffmpeg must not go on alone.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(126);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            std::signal(signal, SIG_DFL);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        Exec(ffmpeg, arguments);
    }
    g_child = child;
    // The starter may have gone between the fork and the line above.
    if (g_starterGone)
        kill(child, SIGKILL);
    close(fds[1]);
    Relay(fds[0]);
    close(fds[0]);

    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (g_starterGone) {
        // No one will ever take the output over: a half-written file must not stay.
        RemoveOutput(output, outputBefore);
        return 1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        std::signal(signal, SIG_DFL);
        raise(signal);
        return 128 + signal;
    }
    return 1;
}
