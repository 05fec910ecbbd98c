#include "IniFile.h"
#include "Startup.h"
#include "TempFolder.h"
#include "UnitFile.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs each test with the variables that name per-user folders saved and cleared.
class DataFolderTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            fSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : fSaved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    // A program folder as a build tree or a portable copy has it: the user's own. Run as
    // root, the folder is given to another, ordinary owner, as root's own would belong to
    // the system.
    std::string UsersOwnFolder(const std::string& name) {
        const std::string folder = fTemp / name;
        fs::create_directory(folder);
        if (geteuid() == 0) {
            EXPECT_EQ(chown(folder.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
        }
        return folder;
    }

    // A "folder" below a regular file: nobody, not even root, can create files in it.
    std::string UnwritableFolder() {
        std::ofstream(fTemp / "plain-file") << "x";
        return fTemp / "plain-file/program";
    }

    static std::vector<std::string> Entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }

    static constexpr uid_t kOrdinaryUser = 65534;
    static constexpr const char* kVariables[] = {"APPDATA", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
    TempFolder fTemp;
};

} // namespace

TEST_F(DataFolderTest, WritableProgramFolderWinsAndLeavesNoTestFile) {
    const std::string program = UsersOwnFolder("program");
    setenv("APPDATA", (fTemp / "appdata").c_str(), 1);

    const TStartupResult result = CheckStartup(program, "station");

    ASSERT_TRUE(result.Ok);
    EXPECT_EQ(result.SettingsFileName, program + "/station.dat");
    EXPECT_EQ(Entries(program), std::vector<std::string>{"station.dat"});
    EXPECT_FALSE(fs::exists(fTemp / "appdata"));
    EXPECT_EQ(TIniFile(result.SettingsFileName).ReadInteger("APP", "ACCESS", 0), 1);
}

TEST_F(DataFolderTest, UnwritableProgramFolderFallsBackToAppDataCreatingMissingParents) {
    setenv("APPDATA", (fTemp / "a/b").c_str(), 1);

    const TStartupResult result = CheckStartup(UnwritableFolder(), "control7710");

    ASSERT_TRUE(result.Ok);
    const std::string userFolder = fTemp / "a/b/Soft_7710(12)";
    EXPECT_EQ(result.SettingsFileName, userFolder + "/control7710.dat");
    EXPECT_EQ(Entries(userFolder), std::vector<std::string>{"control7710.dat"});
}

TEST_F(DataFolderTest, WithoutAppDataTheConfigFoldersTakeItsPlace) {
    const std::string program = UnwritableFolder();
    std::string folder;

    setenv("APPDATA", "x", 1); // one character counts as unset
    setenv("XDG_CONFIG_HOME", (fTemp / "config").c_str(), 1);
    ASSERT_TRUE(FindDataFolderFrom(program, folder));
    EXPECT_EQ(folder, fTemp / "config/Soft_7710(12)");

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (fTemp / "home").c_str(), 1);
    ASSERT_TRUE(FindDataFolderFrom(program, folder));
    EXPECT_EQ(folder, fTemp / "home/.config/Soft_7710(12)");
}

TEST_F(DataFolderTest, NoWritablePlaceGivesTheFolderError) {
    const std::string program = UnwritableFolder();
    std::string folder = "untouched";
    EXPECT_FALSE(FindDataFolderFrom(program, folder));
    EXPECT_EQ(folder, "untouched");

    setenv("APPDATA", (fTemp / "plain-file").c_str(), 1); // cannot be made a folder
    const TStartupResult result = CheckStartup(program, "control7710");
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.ErrorText, "Application data folder - write access denied");
}

TEST_F(DataFolderTest, UnwritableSettingsFileGivesTheFileErrorNamingIt) {
    const std::string program = UsersOwnFolder("program");
    fs::create_directory(program + "/control7710.dat"); // a folder where the file belongs

    const TStartupResult result = CheckStartup(program, "control7710");

    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.ErrorText,
              "Application data file - write access denied\n" + program + "/control7710.dat");
}

TEST_F(DataFolderTest, StartupKeepsWhatTheSettingsFileHeld) {
    const std::string program = UsersOwnFolder("program");
    std::ofstream(program + "/control7710.dat") << "[WINDOW]\nLEFT=120\n[app]\naccess=0\n";

    ASSERT_TRUE(CheckStartup(program, "control7710").Ok);

    const TIniFile settings(program + "/control7710.dat");
    EXPECT_EQ(settings.ReadInteger("WINDOW", "LEFT", 100), 120);
    EXPECT_EQ(settings.ReadInteger("APP", "ACCESS", 0), 1);
}

// A root-owned folder that this user may write is still the system's: /tmp serves, root's
// and writable by everyone. (Root running the installed program from /usr/bin is checked
// on the installed package by scripts/package-check.sh.)
TEST_F(DataFolderTest, RootOwnedProgramFolderIsNeitherProbedNorChosen) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root's folders outside the install places are root's own";
    const std::string program = "/tmp";
    struct stat info {};
    if (stat(program.c_str(), &info) != 0 || info.st_uid != 0 || access(program.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no folder of root's that this user may write";
    // An old modification time shows any file made and removed there since.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    const bool watched = utimensat(AT_FDCWD, program.c_str(), old, 0) == 0;
    setenv("APPDATA", (fTemp / "appdata").c_str(), 1);

    const TStartupResult result = CheckStartup(program, "control7710");

    ASSERT_TRUE(result.Ok);
    EXPECT_EQ(result.SettingsFileName, fTemp / "appdata/Soft_7710(12)/control7710.dat");
    if (watched) {
        EXPECT_TRUE(Entries(program).empty());
        ASSERT_EQ(stat(program.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtim.tv_sec, old[1].tv_sec) << "a probe file was made there";
    }
}

// Root running a build tree it owns outside the install places keeps the program-folder
// rule, as everyone else does with their own copy.
TEST_F(DataFolderTest, RootKeepsItsSettingsBesideItsOwnBuildTree) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root owns a root-owned build tree";
    const std::string program = fTemp / "build";
    fs::create_directory(program);
    setenv("APPDATA", (fTemp / "appdata").c_str(), 1);

    const TStartupResult result = CheckStartup(program, "control7710");

    ASSERT_TRUE(result.Ok);
    EXPECT_EQ(result.SettingsFileName, program + "/control7710.dat");
}

TEST(DataFolderRule, RootsFoldersBelongToTheSystemUnlessRootRunsItsOwnCopy) {
    // Another user's program in a root-owned folder: the system's.
    EXPECT_TRUE(IsSystemFolder("/usr/bin", 0, 1000));
    EXPECT_TRUE(IsSystemFolder("/tmp", 0, 65534));
    // Root running the installed program: the system's, whatever the spelling.
    EXPECT_TRUE(IsSystemFolder("/usr/bin", 0, 0));
    EXPECT_TRUE(IsSystemFolder("/usr/local/bin/", 0, 0));
    EXPECT_TRUE(IsSystemFolder("/opt/control7710", 0, 0));
    EXPECT_TRUE(IsSystemFolder("/bin", 0, 0));
    EXPECT_TRUE(IsSystemFolder("/usr/../usr/bin", 0, 0));
    // Root running a build tree or a portable copy it owns: root's own.
    EXPECT_FALSE(IsSystemFolder("/root/control7710/build", 0, 0));
    EXPECT_FALSE(IsSystemFolder("/work/main/build", 0, 0));
    EXPECT_FALSE(IsSystemFolder("/usrlocal/build", 0, 0));
    // A user's own folder, whoever runs the program.
    EXPECT_FALSE(IsSystemFolder("/home/op/bin", 1000, 1000));
    EXPECT_FALSE(IsSystemFolder("/usr/bin", 1000, 0));
}

TEST(ProgramFile, NameAndFolderComeFromTheRunningExecutable) {
    EXPECT_EQ(ProgramName(), "test_unitfile");
    EXPECT_TRUE(fs::is_directory(ProgramFolder()));
    EXPECT_FALSE(ProgramFolder().ends_with('/'));
    EXPECT_FALSE(CanWriteFolder(ProgramFolder() + "/no-such-folder"));
}
