#include "FileSizeLimit.h"
#include "IniFile.h"
#include "TempFolder.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

std::size_t FilesIn(const std::filesystem::path& folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// About 100 MB: the window section first, the address list last, and between them
// comment lines holding every byte value but the line end.
std::string HugeSettingsText() {
    std::string line = ";";
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\n')
            line += static_cast<char>(byte);
    }
    line += '\n';
    std::string text = "[WINDOW]\nLEFT=120\n";
    text.reserve((100U << 20) + 2 * line.size());
    while (text.size() < (100U << 20))
        text += line;
    return text + "[SECMRU]\nADDR0=10.0.0.5\n";
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

TEST(IniFile, EmptyAndBlankFilesReadAsDefaultsAndTakeTheFirstSection) {
    TempFolder temp;
    const std::string file = temp / "s.dat";
    for (const std::string text : {"", "\n\n", "\r\n \t\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(text));
        WriteAll(file, text);
        TIniFile ini(file);
        EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 100);
        EXPECT_EQ(ini.ReadString("SECMRU", "ADDR0", "none"), "none");
        EXPECT_EQ(ReadAll(file), text) << "loading writes nothing";
        ini.WriteInteger("APP", "ACCESS", 1);
        ASSERT_TRUE(ini.UpdateFile());
        EXPECT_EQ(TIniFile(file).ReadInteger("app", "access", 0), 1);
    }
    EXPECT_EQ(ReadAll(file), "\n \t\n[APP]\nACCESS=1\n")
        << "blank lines kept, line ends made plain";
}

TEST(IniFile, RepeatedSectionsAndKeysInAnyCaseTheFirstCountsTheRestAreKept) {
    TempFolder temp;
    const std::string file = temp / "s.dat";
    const std::string tail = "[SECMRU]\nADDR0=10.0.0.1\n[window]\nLEFT=3\nTOP=4\n";
    WriteAll(file, " [ wInDoW ] \nlEfT\t=\t1\nLEFT=2\n" + tail);
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 1) << "first key of the first section";
    EXPECT_EQ(ini.ReadInteger("WINDOW", "TOP", 100), 100) << "a repeated section is not read";

    ini.WriteInteger("WINDOW", "LEFT", 7);
    ini.WriteInteger("WINDOW", "TOP", 8);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(ReadAll(file), " [ wInDoW ] \nlEfT=7\nLEFT=2\nTOP=8\n" + tail);
    const TIniFile again(file);
    EXPECT_EQ(again.ReadInteger("Window", "Left", 100), 7);
    EXPECT_EQ(again.ReadInteger("Window", "Top", 100), 8);
}

// Needs about 200 MB of temporary disk space and 500 MB of memory.
TEST(IniFile, AHundredMegabyteFileLoadsInTimeAndAnUpdateKeepsEveryOtherByte) {
    TempFolder temp;
    const std::string file = temp / "huge.dat";
    std::string text = HugeSettingsText();
    WriteAll(file, text);

    const auto start = std::chrono::steady_clock::now();
    TIniFile ini(file);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 120);
    EXPECT_EQ(ini.ReadString("SECMRU", "ADDR0", ""), "10.0.0.5");
    EXPECT_TRUE(ReadAll(file) == text) << "loading changed the file";

    ini.WriteInteger("WINDOW", "LEFT", 7);
    ASSERT_TRUE(ini.UpdateFile());
    text.replace(text.find("LEFT=120"), 8, "LEFT=7");
    EXPECT_TRUE(ReadAll(file) == text) << "the update changed more than its key";
    EXPECT_EQ(FilesIn(temp.Path()), 1U);
}

TEST(IniFile, FullDiskFailsTheUpdateAndKeepsTheOldFileWhole) {
    TempFolder temp;
    const std::string file = temp / "s.dat";
    std::string original = "[WINDOW]\nLEFT=120\n";
    for (int i = 0; i < 100; ++i)
        original += "; a comment line to make the file outgrow the disk\n";
    WriteAll(file, original);
    TIniFile ini(file);
    ini.WriteInteger("WINDOW", "LEFT", 7);
    {
        const FileSizeLimit full(1024);
        EXPECT_FALSE(ini.UpdateFile());
    }
    EXPECT_EQ(ReadAll(file), original);
    EXPECT_EQ(FilesIn(temp.Path()), 1U) << "no temporary file left behind";

    ASSERT_TRUE(ini.UpdateFile()) << "the same update succeeds once there is room";
    EXPECT_EQ(TIniFile(file).ReadInteger("WINDOW", "LEFT", 100), 7);
}

// Permission bits do not stop root, so this runs for other users only.
TEST(IniFile, ReadOnlyFileOrFolderIsReadButNeverReplaced) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write read-only files and folders";
    TempFolder temp;
    const std::string original = "[WINDOW]\nLEFT=120\n";
    std::filesystem::create_directory(temp / "locked");
    const std::string readOnlyFile = temp / "s.dat";
    const std::string inLockedFolder = temp / "locked/s.dat";
    WriteAll(readOnlyFile, original);
    WriteAll(inLockedFolder, original);
    chmod(readOnlyFile.c_str(), 0444);
    chmod((temp / "locked").c_str(), 0555);

    for (const std::string& file : {readOnlyFile, inLockedFolder}) {
        SCOPED_TRACE(file);
        TIniFile ini(file);
        EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 120);
        ini.WriteInteger("WINDOW", "LEFT", 7);
        EXPECT_FALSE(ini.UpdateFile());
        EXPECT_EQ(ReadAll(file), original);
    }
    EXPECT_EQ(FilesIn(temp / "locked"), 1U);
    chmod((temp / "locked").c_str(), 0755);
}
