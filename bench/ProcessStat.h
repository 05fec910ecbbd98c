#pragma once

// What the system reports about this process: memory, threads, open files, CPU time.
// Shared by the benchmark and the soak test.

#include <cstdint>
#include <sys/types.h>
#include <vector>

// A field of /proc/self/status in kB (VmRSS, VmHWM, ...); -1 when it is missing.
std::int64_t StatusKb(const char* field);

// The system's ids of this process's threads, ascending.
std::vector<pid_t> ThreadIds();

// The ids in after that are not in before (both ascending).
std::vector<pid_t> NewThreadIds(const std::vector<pid_t>& before, const std::vector<pid_t>& after);

int OpenFileCount();

// User and system CPU time of the whole process so far, in seconds.
double ProcessCpuSeconds();

// CPU time of one thread of this process so far, in seconds; 0 when it has ended.
double ThreadCpuSeconds(pid_t thread);
