// The settings file loader fed arbitrary file content.
//
// Each input becomes a settings file in a private folder (in memory under /dev/shm where
// there is one, so the flush to disk costs nothing). Loading and reading the station's
// keys must leave the file exactly as it was; writing two keys and updating the file must
// succeed, the keys must read back from a fresh load, and a key that was not written must
// keep its value.

#include "FuzzCheck.h"
#include "IniFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>

namespace {

std::filesystem::path folder;

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::filesystem::path TemporaryRoot() {
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error)
               ? "/dev/shm"
               : std::filesystem::temp_directory_path();
}

std::string ReadAll(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& fileName, const std::string& text) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out << text;
    Expect(out.good(), "cannot write the input file");
}

std::size_t FilesInFolder() {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// The station's own reads, as it makes them at start-up.
void ReadStationKeys(const TIniFile& ini) {
    ini.ReadInteger("WINDOW", "LEFT", 100);
    ini.ReadInteger("WINDOW", "TOP", 100);
    for (int i = 0; i < 10; ++i)
        ini.ReadString("SECMRU", "ADDR" + std::to_string(i), "");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (TemporaryRoot() / "control7710-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        Fail("cannot make a temporary folder");
    folder = pattern;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fileName = (folder / "s.dat").string();
    const std::string content(reinterpret_cast<const char*>(data), size);
    WriteAll(fileName, content);

    TIniFile ini(fileName);
    ReadStationKeys(ini);
    const std::string access = ini.ReadString("APP", "ACCESS", "(none)");
    Expect(ReadAll(fileName) == content, "loading changed the file");

    ini.WriteInteger("WINDOW", "LEFT", -123);
    ini.WriteString("SECMRU", "ADDR0", "10.0.0.5");
    Expect(ini.UpdateFile(), "the update failed");
    Expect(FilesInFolder() == 1, "the update left its temporary file");

    const TIniFile again(fileName);
    Expect(again.ReadInteger("WINDOW", "LEFT", 100) == -123, "a written integer did not read back");
    Expect(again.ReadString("SECMRU", "ADDR0", "") == "10.0.0.5",
           "a written text did not read back");
    Expect(again.ReadString("APP", "ACCESS", "(none)") == access, "a key not written changed");
    return 0;
}
