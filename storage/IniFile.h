#pragma once

// A small INI-style settings file: "[section]" headers and "key=value" lines, sections
// and keys looked up without regard to letter case. Writing a key replaces its value in
// place; every other line of the file is kept as it was.

#include <string>
#include <vector>

class TIniFile {
public:
    // Reads the file. A missing or unreadable file, or one that is no regular file (a
    // folder, a named pipe, a device), reads as an empty one; loading never writes
    // anything.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fFileName; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // The value as a whole integer (decimal, or hexadecimal after $ or 0x); otherwise
    // defaultValue.
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);

    // Writes the text to disk, replacing the file (a symbolic link's target) only once
    // the new text is complete; the file keeps its permission bits. False when the file
    // cannot be written, and the old file is then kept whole.
    bool UpdateFile() const;

private:
    struct TKeyPlace {
        std::size_t SectionLine;
        std::size_t KeyLine;
        bool SectionFound;
        bool KeyFound;
    };

    TKeyPlace Find(const std::string& section, const std::string& key) const;
    std::size_t SectionEnd(std::size_t headerLine) const;

    std::string fFileName;
    std::vector<std::string> fLines;
};
