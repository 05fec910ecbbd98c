#include "CliProcess.h"

#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int SMALLEST_PIPE = 4096;

// The program built with the tests, or the one CONTROL7710_CLI names.
const char* CliPath() {
    const char* given = std::getenv("CONTROL7710_CLI");
    return given != nullptr ? given : CLI_PATH;
}

void ExecCli(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(CliPath()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(CliPath(), argv.data());
    ::_exit(127);
}

// Shrinks the pipe and fills it, so that the first write to it blocks.
void FillPipe(int fd) {
    ::fcntl(fd, F_SETPIPE_SZ, SMALLEST_PIPE);
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const char block[SMALLEST_PIPE] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    ::fcntl(fd, F_SETFL, flags);
}

// Appends what fd has to text; false at its end.
bool Drain(int fd, std::string& text) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    text.append(buffer, static_cast<std::size_t>(got));
    return true;
}

} // namespace

TCliProcess::TCliProcess(const std::vector<std::string>& args, bool stalledOutput)
    : fStalled(stalledOutput), fStart(std::chrono::steady_clock::now()) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    if (stalledOutput)
        FillPipe(out[1]);
    fPid = ::fork();
    if (fPid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ExecCli(args);
    }
    ::close(out[1]);
    ::close(err[1]);
    fOut = out[0];
    fErr = err[0];
}

TCliProcess::~TCliProcess() {
    if (fPid > 0) {
        ::kill(fPid, SIGKILL);
        ::waitpid(fPid, nullptr, 0);
    }
    for (int fd : {fOut, fErr}) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::string TCliProcess::FirstLineThenClose() {
    std::string line;
    char c = 0;
    while (::read(fOut, &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fOut);
    fOut = -1;
    return line;
}

TCliResult TCliProcess::Finish(std::chrono::milliseconds timeout) {
    TCliResult result;
    const auto end = fStart + timeout;
    bool outOpen = !fStalled && fOut >= 0;
    bool errOpen = true;
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() >= end)
            ::kill(fPid, SIGKILL);
        std::array<pollfd, 2> fds{pollfd{outOpen ? fOut : -1, POLLIN, 0},
                                  pollfd{errOpen ? fErr : -1, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents != 0)
            outOpen = Drain(fOut, result.Out);
        if (fds[1].revents != 0)
            errOpen = Drain(fErr, result.Err);
    }
    int status = 0;
    ::waitpid(fPid, &status, 0);
    result.Took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - fStart);
    fPid = -1;
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TCliResult RunCli(const std::vector<std::string>& args) {
    return TCliProcess(args).Finish();
}
