#include "FileSizeLimit.h"
#include "IniFile.h"
#include "TempFolder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
    // Neither a pipe nor an endless device is read: one would wait, the other never end.
    ASSERT_EQ(mkfifo((temp / "pipe.dat").c_str(), 0600), 0);
    EXPECT_EQ(TIniFile(temp / "pipe.dat").ReadString("APP", "ACCESS", "none"), "none");
    std::filesystem::create_symlink("/dev/zero", temp / "zero.dat");
    EXPECT_EQ(TIniFile(temp / "zero.dat").ReadString("APP", "ACCESS", "none"), "none");

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

namespace {

mode_t ModeOf(const std::string& fileName) {
    struct stat info {};
    stat(fileName.c_str(), &info);
    return info.st_mode & 07777;
}

std::vector<std::string> Entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// The limit lies inside the new text, once for a text of a few hundred bytes and once for
// a megabyte: over an old file and as a new file.
TEST(IniFile, FullDiskWithSmallOrLargeTextKeepsTheOldFileAndLeavesNoNewOne) {
    for (const std::size_t size : {std::size_t{300}, std::size_t{1} << 20}) {
        SCOPED_TRACE(size);
        TempFolder temp;
        const std::string original = "[WINDOW]\nLEFT=120\n";
        WriteAll(temp / "old.dat", original);
        TIniFile overOld(temp / "old.dat");
        TIniFile asNew(temp / "new.dat");
        for (TIniFile* ini : {&overOld, &asNew})
            ini->WriteString("APP", "PAD", std::string(size, 'x'));
        {
            const FileSizeLimit full(size / 2);
            EXPECT_FALSE(overOld.UpdateFile());
            EXPECT_FALSE(asNew.UpdateFile());
        }
        EXPECT_EQ(ReadAll(temp / "old.dat"), original);
        EXPECT_EQ(Entries(temp.Path()), std::vector<std::string>{"old.dat"});
    }
}

TEST(IniFile, UpdateWritesThroughSymbolicLinksToTheirTarget) {
    TempFolder temp;
    namespace fs = std::filesystem;
    fs::create_directory(temp / "real");
    WriteAll(temp / "real/target.dat", "[WINDOW]\nLEFT=120\n");
    fs::create_symlink("real/target.dat", temp / "s.dat");
    fs::create_symlink(temp / "s.dat", temp / "chain.dat");

    TIniFile ini(temp / "chain.dat");
    EXPECT_EQ(ini.ReadInteger("WINDOW", "LEFT", 100), 120);
    ini.WriteInteger("WINDOW", "LEFT", 7);
    ASSERT_TRUE(ini.UpdateFile());

    EXPECT_EQ(ReadAll(temp / "real/target.dat"), "[WINDOW]\nLEFT=7\n");
    EXPECT_TRUE(fs::is_symlink(temp / "s.dat"));
    EXPECT_TRUE(fs::is_symlink(temp / "chain.dat"));
    EXPECT_EQ(Entries(temp / "real"), std::vector<std::string>{"target.dat"});

    // A link whose target does not exist yet gets the target created.
    fs::create_symlink("real/later.dat", temp / "dangling.dat");
    TIniFile later(temp / "dangling.dat");
    later.WriteInteger("APP", "ACCESS", 1);
    ASSERT_TRUE(later.UpdateFile());
    EXPECT_TRUE(fs::is_symlink(temp / "dangling.dat"));
    EXPECT_EQ(ReadAll(temp / "real/later.dat"), "[APP]\nACCESS=1\n");
}

TEST(IniFile, LinkLoopsAndLinksToOtherThanPlainFilesFailAndChangeNothing) {
    TempFolder temp;
    namespace fs = std::filesystem;
    fs::create_symlink("b.dat", temp / "a.dat");
    fs::create_symlink("a.dat", temp / "b.dat");
    ASSERT_EQ(mkfifo((temp / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", temp / "f.dat");

    for (const std::string name : {"a.dat", "f.dat"}) {
        SCOPED_TRACE(name);
        TIniFile ini(temp / name);
        ini.WriteInteger("APP", "ACCESS", 1);
        EXPECT_FALSE(ini.UpdateFile());
    }
    EXPECT_TRUE(fs::is_symlink(temp / "a.dat"));
    EXPECT_TRUE(fs::is_symlink(temp / "b.dat"));
    EXPECT_TRUE(fs::is_fifo(temp / "fifo"));
    EXPECT_EQ(Entries(temp.Path()), (std::vector<std::string>{"a.dat", "b.dat", "f.dat", "fifo"}));
}

TEST(IniFile, UpdateKeepsTheFileModeAndANewFileGetsTheDefault) {
    TempFolder temp;
    const std::string file = temp / "s.dat";
    for (const mode_t mode : {0600, 0640, 0664, 0604}) {
        SCOPED_TRACE(mode);
        WriteAll(file, "[WINDOW]\nLEFT=120\n");
        chmod(file.c_str(), mode);
        TIniFile ini(file);
        ini.WriteInteger("WINDOW", "LEFT", 7);
        ASSERT_TRUE(ini.UpdateFile());
        EXPECT_EQ(ModeOf(file), mode);
    }

    std::filesystem::create_symlink("s.dat", temp / "link.dat");
    TIniFile throughLink(temp / "link.dat");
    throughLink.WriteInteger("WINDOW", "TOP", 8);
    ASSERT_TRUE(throughLink.UpdateFile());
    EXPECT_EQ(ModeOf(file), 0604U);

    for (const mode_t mask : {022, 077, 002}) {
        SCOPED_TRACE(mask);
        const mode_t old = umask(mask);
        const std::string fresh = temp / ("fresh" + std::to_string(mask) + ".dat");
        TIniFile ini(fresh);
        ini.WriteInteger("APP", "ACCESS", 1);
        const bool written = ini.UpdateFile();
        umask(old);
        ASSERT_TRUE(written);
        EXPECT_EQ(ModeOf(fresh), 0666 & ~mask);
    }
}

// Someone who may write the folder plants links, or a file of their own, where a
// temporary file could be expected; none of them is followed, opened or replaced.
TEST(IniFile, PlantedLinksAndFilesAtTemporaryNamesAreLeftAlone) {
    TempFolder temp;
    namespace fs = std::filesystem;
    WriteAll(temp / "victim", "precious\n");
    const std::string file = temp / "s.dat";
    WriteAll(file, "[WINDOW]\nLEFT=120\n");
    const std::vector<std::string> linked = {"s.dat.new", "s.dat.tmp", ".s.dat.new",
                                             "s.dat~",    "s.new",     ".s.dat.swp"};
    for (const std::string& name : linked)
        fs::create_symlink(temp / "victim", temp / name);
    fs::create_symlink(temp / "created-elsewhere", temp / "s.dat.temp");
    WriteAll(temp / "s.dat.bak", "someone's own\n");

    TIniFile ini(file);
    ini.WriteInteger("WINDOW", "LEFT", 7);
    ASSERT_TRUE(ini.UpdateFile());

    EXPECT_EQ(ReadAll(temp / "victim"), "precious\n");
    EXPECT_EQ(ReadAll(temp / "s.dat.bak"), "someone's own\n");
    EXPECT_FALSE(fs::exists(temp / "created-elsewhere"));
    for (const std::string& name : linked)
        EXPECT_TRUE(fs::is_symlink(temp / name)) << name;
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(ReadAll(file), "[WINDOW]\nLEFT=7\n");
    EXPECT_EQ(FilesIn(temp.Path()), linked.size() + 4);
}
