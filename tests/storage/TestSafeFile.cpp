#include "SafeFile.h"
#include "TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(SafeFile, NewFilesAreNeverExistingFilesNorReachedThroughLinks) {
    TempFolder temp;
    std::ofstream(temp / "existing") << "kept\n";
    fs::create_symlink(temp / "existing", temp / "link");
    fs::create_symlink(temp / "nowhere", temp / "dangling");

    for (const std::string name : {"existing", "link", "dangling"}) {
        SCOPED_TRACE(name);
        errno = 0;
        EXPECT_EQ(CreateNewFile(temp / name, 0600), -1);
        EXPECT_EQ(errno, EEXIST);
    }
    EXPECT_EQ(ReadAll(temp / "existing"), "kept\n");
    EXPECT_FALSE(fs::exists(temp / "nowhere"));

    const mode_t old = umask(022);
    const int file = CreateNewFile(temp / "fresh", 0640);
    umask(old);
    ASSERT_GE(file, 0);
    EXPECT_EQ(write(file, "x", 1), 1);
    close(file);
    struct stat info {};
    ASSERT_EQ(stat((temp / "fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
}
