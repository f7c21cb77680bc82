#pragma once

#include <string>
#include <vector>

namespace tv {

// A private profile (INI) file with the platform's reading rules: section and
// value names compare without case, a missing value reads as the caller's
// default, an integer whose text does not start with a number reads as 0, and
// strings are cut to 4095 characters. Lines it does not understand are kept
// as they are, and the file is replaced atomically on save.
class CProfile {
public:
    static constexpr int kStringBuffer = 4096;

    // Reads the file; a missing file gives an empty profile and 1, an
    // unreadable one 0.
    int Load(const std::string& path);
    // Writes the file through a temporary in the same folder, then renames it
    // over the old one; creates the folder. 0 on failure, the old file intact.
    int Save() const;
    int SaveAs(const std::string& path) const;

    int GetInt(const std::string& section, const std::string& name, int defaultValue) const;
    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& defaultValue) const;
    void WriteInt(const std::string& section, const std::string& name, int value);
    void WriteString(const std::string& section, const std::string& name, const std::string& value);

    const std::string& Path() const { return m_path; }
    std::string Text() const;
    void SetText(const std::string& text);

    // The integer the platform's profile read makes of a value's text.
    static int ParseInt(const std::string& text);

private:
    // Index of the value's line, or -1; sectionEnd is where a new value goes.
    int Find(const std::string& section, const std::string& name, int* sectionEnd) const;

    std::string m_path;
    std::vector<std::string> m_lines;
};

} // namespace tv
