#include "UnitFile.h"

#include "SafeFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* USER_SUBFOLDER = "Soft_7710(12)";
constexpr mode_t PROBE_MODE = 0600;

fs::path RunningProgram() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path("control7710") : path;
}

std::mt19937& RandomGenerator() {
    static std::mt19937 generator(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
    return generator;
}

// Day, month, year, hour, minute, second and milliseconds of now, run together, then
// a random number from 0 to 9999: a name no other test is likely to be using.
std::string TestFileName() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d%m%Y%H%M%S", &local);
    std::uniform_int_distribution<int> pick(0, 9999);
    char name[64];
    std::snprintf(name, sizeof name, "%s%03d%d.tmp", stamp, static_cast<int>(millis.count()),
                  pick(RandomGenerator()));
    return name;
}

std::string WithDelimiter(const std::string& folder) {
    return folder.ends_with('/') ? folder : folder + '/';
}

// True for a folder at or below one of the places programs are installed to.
bool IsInstallFolder(const std::string& folder) {
    static const char* const roots[] = {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib64", "/snap"};
    const std::string normal = fs::path(folder).lexically_normal().string();
    for (const std::string root : roots) {
        if (normal == root || normal.starts_with(root + "/"))
            return true;
    }
    return false;
}

// False for a folder of the system, and for one that cannot be examined.
bool IsUserFolder(const std::string& folder) {
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && !IsSystemFolder(folder, info.st_uid, geteuid());
}

bool EnsureFolder(const std::string& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error))
        return true;
    fs::create_directories(folder, error);
    return !error && fs::is_directory(folder, error);
}

} // namespace

const std::string& ProgramFolder() {
    static const std::string folder = RunningProgram().parent_path().string();
    return folder;
}

const std::string& ProgramName() {
    static const std::string name = RunningProgram().stem().string();
    return name;
}

bool GetEnvVar(const std::string& name, std::string& value) {
    const char* text = std::getenv(name.c_str());
    if (text == nullptr || std::string(text).size() < 2)
        return false;
    value = text;
    return true;
}

bool CanWriteFolder(const std::string& folder) {
    const std::string path = folder + '/' + TestFileName();
    const int file = CreateNewFile(path, PROBE_MODE);
    if (file < 0)
        return false;
    const char probe[4] = {'T', 'E', 'S', 'T'};
    [[maybe_unused]] const ssize_t written = write(file, probe, sizeof probe);
    close(file);
    unlink(path.c_str());
    return true;
}

bool PerUserFolder(std::string& folder) {
    std::string base;
    if (GetEnvVar("APPDATA", base) || GetEnvVar("XDG_CONFIG_HOME", base)) {
        folder = WithDelimiter(base) + USER_SUBFOLDER;
        return true;
    }
    if (GetEnvVar("HOME", base)) {
        folder = WithDelimiter(base) + ".config/" + USER_SUBFOLDER;
        return true;
    }
    return false;
}

bool IsSystemFolder(const std::string& folder, uid_t folderOwner, uid_t user) {
    if (folderOwner != 0)
        return false;
    return user != 0 || IsInstallFolder(folder);
}

bool FindDataFolderFrom(const std::string& programFolder, std::string& folder) {
    if (IsUserFolder(programFolder) && CanWriteFolder(programFolder)) {
        folder = programFolder;
        return true;
    }
    std::string userFolder;
    if (!PerUserFolder(userFolder) || !EnsureFolder(userFolder) || !CanWriteFolder(userFolder))
        return false;
    folder = userFolder;
    return true;
}

bool FindDataFolder(std::string& folder) {
    return FindDataFolderFrom(ProgramFolder(), folder);
}
