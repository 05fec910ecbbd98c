#include "ProcessStat.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>

namespace {

// The numeric entries of a folder of /proc, ascending.
std::vector<pid_t> NumericEntries(const char* folder) {
    std::vector<pid_t> ids;
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return ids;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0')
            ids.push_back(static_cast<pid_t>(id));
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

} // namespace

std::int64_t StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string key = std::string(field) + ':';
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(key))
            return std::strtoll(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

std::vector<pid_t> ThreadIds() {
    return NumericEntries("/proc/self/task");
}

std::vector<pid_t> NewThreadIds(const std::vector<pid_t>& before, const std::vector<pid_t>& after) {
    std::vector<pid_t> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    return added;
}

int OpenFileCount() {
    // The folder's own descriptor, open while it is read, is not counted.
    return static_cast<int>(NumericEntries("/proc/self/fd").size()) - 1;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// The first field of schedstat is the time the thread has run, in nanoseconds.
double ThreadCpuSeconds(pid_t thread) {
    std::ifstream schedstat("/proc/self/task/" + std::to_string(thread) + "/schedstat");
    unsigned long long nanoseconds = 0;
    schedstat >> nanoseconds;
    return static_cast<double>(nanoseconds) / 1e9;
}
