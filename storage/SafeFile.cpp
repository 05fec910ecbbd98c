#include "SafeFile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Linux gives up on a path after this many links, and so do we.
constexpr int MAX_LINKS = 40;
constexpr int TEMPORARY_ATTEMPTS = 16;
constexpr mode_t PERMISSION_BITS = 0777;
// Mode of a new file before the umask; an existing file's own mode is set at once.
constexpr mode_t NEW_FILE_MODE = 0666;
constexpr mode_t PRIVATE_MODE = 0600;

// Sixteen hexadecimal digits from the system's random source.
std::string RandomName() {
    std::random_device source;
    const std::uint64_t value = (std::uint64_t{source()} << 32) | source();
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

// A new file beside target with a random name; the descriptor or -1.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        temporary = target + '.' + RandomName() + ".new";
        const int file = CreateNewFile(temporary, mode);
        if (file >= 0 || errno != EEXIST)
            return file;
    }
    return -1;
}

bool WriteAll(int file, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = write(file, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Sets the mode, writes the text and flushes it to the disk, then closes the file
// whatever happened; true only when every step succeeded.
bool FillAndClose(int file, const std::string& text, bool setMode, mode_t mode) {
    const bool filled =
        (!setMode || fchmod(file, mode) == 0) && WriteAll(file, text) && fsync(file) == 0;
    const bool closed = close(file) == 0;
    return filled && closed;
}

} // namespace

int CreateNewFile(const std::string& path, mode_t mode) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool FollowLinks(const std::string& path, std::string& target) {
    fs::path current(path);
    for (int link = 0; link <= MAX_LINKS; ++link) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 && errno != ENOENT)
            return false;
        if (!S_ISLNK(info.st_mode)) {
            target = current.string();
            return true;
        }
        std::error_code error;
        const fs::path next = fs::read_symlink(current, error);
        if (error)
            return false;
        current = current.parent_path() / next;
    }
    return false;
}

bool ReplaceFileText(const std::string& fileName, const std::string& text) {
    std::string target;
    if (!FollowLinks(fileName, target))
        return false;
    struct stat old {};
    const bool exists = lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return false;
    // Only a plain file is replaced, and only one this user may write: replacing it
    // through its folder would succeed even where writing it would not.
    if (exists && (!S_ISREG(old.st_mode) || access(target.c_str(), W_OK) != 0))
        return false;
    std::string temporary;
    const int file = CreateTemporary(target, exists ? PRIVATE_MODE : NEW_FILE_MODE, temporary);
    if (file < 0)
        return false;
    if (!FillAndClose(file, text, exists, old.st_mode & PERMISSION_BITS) ||
        std::rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
