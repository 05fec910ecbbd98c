#include "IniFile.h"
#include "TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string ReadAll(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& fileName, const std::string& text) {
    std::ofstream(fileName, std::ios::binary) << text;
}

} // namespace

TEST(IniFile, LooksUpSectionsAndKeysWithoutRegardToCase) {
    TempFolder temp;
    WriteAll(temp / "s.dat", "[Window]\r\nLeft = 120 \r\ntop=abc\r\n[SECMRU]\r\nADDR0=\r\n");
    const TIniFile ini(temp / "s.dat");

    EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 120);
    EXPECT_EQ(ini.ReadInteger("window", "TOP", 100), 100) << "a value that is no integer";
    EXPECT_EQ(ini.ReadInteger("WINDOW", "RIGHT", 7), 7);
    EXPECT_EQ(ini.ReadString("secmru", "addr0", "default"), "");
    EXPECT_EQ(ini.ReadString("SECMRU", "ADDR1", "default"), "default");
    EXPECT_EQ(ini.ReadString("OTHER", "ADDR0", "default"), "default");
}

TEST(IniFile, WritingReplacesInPlaceAndKeepsEverythingElse) {
    TempFolder temp;
    const std::string file = temp / "s.dat";
    WriteAll(file, "; comment\n[Other]\nKeep=this\n\n[window]\nleft=1\nTop=2\n\n[Tail]\nx=y\n");
    TIniFile ini(file);
    ini.WriteInteger("WINDOW", "LEFT", 120);
    ini.WriteInteger("WINDOW", "WIDTH", 489);
    ini.WriteString("SECMRU", "ADDR0", "10.0.0.5");
    ASSERT_TRUE(ini.UpdateFile());

    EXPECT_EQ(ReadAll(file), "; comment\n[Other]\nKeep=this\n\n[window]\nleft=120\nTop=2\n"
                             "WIDTH=489\n\n[Tail]\nx=y\n\n[SECMRU]\nADDR0=10.0.0.5\n");
}

TEST(IniFile, MissingOrUnreadableFilesReadAsEmptyAndAreNotTouched) {
    TempFolder temp;
    EXPECT_EQ(TIniFile(temp / "missing.dat").ReadInteger("WINDOW", "LEFT", 100), 100);
    EXPECT_FALSE(std::filesystem::exists(temp / "missing.dat"));

    std::filesystem::create_directory(temp / "folder.dat");
    EXPECT_EQ(TIniFile(temp / "folder.dat").ReadString("APP", "ACCESS", "none"), "none");

    const std::string binary("\x7f"
                             "ELF\0\x01\x02[APP\n\xff\xfe",
                             13);
    WriteAll(temp / "binary.dat", binary);
    const TIniFile junk(temp / "binary.dat");
    EXPECT_EQ(junk.ReadString("APP", "ACCESS", "none"), "none");
    EXPECT_EQ(ReadAll(temp / "binary.dat"), binary);
}

TEST(IniFile, FailedUpdateReportsFalseAndLeavesNoTemporaryFile) {
    TempFolder temp;
    std::filesystem::create_directory(temp / "folder.dat");
    TIniFile onFolder(temp / "folder.dat");
    onFolder.WriteInteger("APP", "ACCESS", 1);
    EXPECT_FALSE(onFolder.UpdateFile());
    EXPECT_FALSE(std::filesystem::exists(temp / "folder.dat.new"));

    TIniFile inMissingFolder(temp / "no/such/folder/s.dat");
    inMissingFolder.WriteInteger("APP", "ACCESS", 1);
    EXPECT_FALSE(inMissingFolder.UpdateFile());
}
