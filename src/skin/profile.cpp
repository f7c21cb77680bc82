#include "skin/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <climits>
#include <cstring>
#include <strings.h>

namespace tv {

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "[name]" gives name; anything else is not a section header.
bool SectionName(const std::string& line, std::string* name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') {
        return false;
    }
    const size_t close = t.find(']');
    if (close == std::string::npos) {
        return false;
    }
    *name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyOf(const std::string& line, std::string* key, std::string* value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '[') {
        return false;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    *key = Trim(t.substr(0, eq));
    if (value) {
        *value = Trim(t.substr(eq + 1));
    }
    return true;
}

// A value is one line of the file: line breaks inside it would start new
// lines that the next read takes for other values.
std::string OneLine(const std::string& value) {
    std::string out = value;
    for (char& c : out) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return out;
}

} // namespace

int CProfile::ParseInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        value = INT_MAX;
    }
    return static_cast<int>(value);
}

int CProfile::Load(const std::string& path) {
    m_path = path;
    m_lines.clear();
    QFile file(QString::fromStdString(path));
    if (!file.exists()) {
        return 1;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    SetText(file.readAll().toStdString());
    return 1;
}

void CProfile::SetText(const std::string& text) {
    m_lines.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        m_lines.push_back(line);
        start = end + 1;
    }
}

std::string CProfile::Text() const {
    std::string out;
    for (const std::string& line : m_lines) {
        out += line;
        out += '\n';
    }
    return out;
}

int CProfile::Save() const {
    return SaveAs(m_path);
}

int CProfile::SaveAs(const std::string& path) const {
    if (path.empty()) {
        return 0;
    }
    const QString qpath = QString::fromStdString(path);
    QDir().mkpath(QFileInfo(qpath).absolutePath());
    QSaveFile file(qpath);
    if (!file.open(QIODevice::WriteOnly)) {
        return 0;
    }
    const std::string text = Text();
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
        static_cast<qint64>(text.size())) {
        file.cancelWriting();
        return 0;
    }
    return file.commit() ? 1 : 0;
}

int CProfile::Find(const std::string& section, const std::string& name, int* sectionEnd) const {
    bool inSection = false;
    int found = -1;
    if (sectionEnd) {
        *sectionEnd = -1;
    }
    for (int i = 0; i < static_cast<int>(m_lines.size()); ++i) {
        std::string s;
        if (SectionName(m_lines[i], &s)) {
            if (inSection && found >= 0) {
                return found;
            }
            inSection = SameName(s, section);
            if (inSection && sectionEnd) {
                *sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        std::string key;
        if (KeyOf(m_lines[i], &key, nullptr)) {
            if (found < 0 && SameName(key, name)) {
                found = i;
            }
        }
        if (sectionEnd && !Trim(m_lines[i]).empty()) {
            *sectionEnd = i + 1;
        }
    }
    return found;
}

int CProfile::GetInt(const std::string& section, const std::string& name, int defaultValue) const {
    const int i = Find(section, name, nullptr);
    if (i < 0) {
        return defaultValue;
    }
    std::string key;
    std::string value;
    KeyOf(m_lines[i], &key, &value);
    return ParseInt(value);
}

std::string CProfile::GetString(const std::string& section, const std::string& name,
                                const std::string& defaultValue) const {
    const int i = Find(section, name, nullptr);
    std::string value = defaultValue;
    if (i >= 0) {
        std::string key;
        KeyOf(m_lines[i], &key, &value);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
    }
    if (value.size() > kStringBuffer - 1) {
        value.resize(kStringBuffer - 1);
    }
    return value;
}

void CProfile::WriteInt(const std::string& section, const std::string& name, int value) {
    WriteString(section, name, std::to_string(value));
}

void CProfile::WriteString(const std::string& section, const std::string& name,
                           const std::string& value) {
    const std::string line = name + "=" + OneLine(value);
    int sectionEnd = -1;
    const int i = Find(section, name, &sectionEnd);
    if (i >= 0) {
        m_lines[i] = line;
        return;
    }
    if (sectionEnd < 0) {
        if (!m_lines.empty() && !Trim(m_lines.back()).empty()) {
            m_lines.push_back("");
        }
        m_lines.push_back("[" + section + "]");
        m_lines.push_back(line);
        return;
    }
    m_lines.insert(m_lines.begin() + sectionEnd, line);
}

} // namespace tv
