#include "IniFile.h"
#include "Startup.h"
#include "TempFolder.h"
#include "UnitFile.h"

#include <fstream>
#include <gtest/gtest.h>

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

    static constexpr const char* kVariables[] = {"APPDATA", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
    TempFolder fTemp;
};

} // namespace

TEST_F(DataFolderTest, WritableProgramFolderWinsAndLeavesNoTestFile) {
    const std::string program = fTemp / "program";
    fs::create_directory(program);
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
    const std::string program = fTemp / "program";
    fs::create_directories(program + "/control7710.dat"); // a folder where the file belongs

    const TStartupResult result = CheckStartup(program, "control7710");

    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.ErrorText,
              "Application data file - write access denied\n" + program + "/control7710.dat");
}

TEST_F(DataFolderTest, StartupKeepsWhatTheSettingsFileHeld) {
    const std::string program = fTemp / "program";
    fs::create_directory(program);
    std::ofstream(program + "/control7710.dat") << "[WINDOW]\nLEFT=120\n[app]\naccess=0\n";

    ASSERT_TRUE(CheckStartup(program, "control7710").Ok);

    const TIniFile settings(program + "/control7710.dat");
    EXPECT_EQ(settings.ReadInteger("WINDOW", "LEFT", 100), 120);
    EXPECT_EQ(settings.ReadInteger("APP", "ACCESS", 0), 1);
}

TEST(ProgramFile, NameAndFolderComeFromTheRunningExecutable) {
    EXPECT_EQ(ProgramName(), "test_unitfile");
    EXPECT_TRUE(fs::is_directory(ProgramFolder()));
    EXPECT_FALSE(ProgramFolder().ends_with('/'));
    EXPECT_FALSE(CanWriteFolder(ProgramFolder() + "/no-such-folder"));
}
