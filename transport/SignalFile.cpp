#include "SignalFile.h"

#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

sigset_t SignalSet(std::initializer_list<int> numbers) {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : numbers)
        sigaddset(&set, number);
    return set;
}

void BlockSignals(const sigset_t& set) {
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TSignalFile::TSignalFile(const sigset_t& set) {
    fFile = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fFile < 0)
        throw std::runtime_error(std::string("cannot watch signals: ") + std::strerror(errno));
}

TSignalFile::~TSignalFile() {
    close(fFile);
}

int TSignalFile::Take() const {
    signalfd_siginfo info{};
    if (read(fFile, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}
