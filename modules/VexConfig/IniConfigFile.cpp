#include "modules/VexConfig/IniConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "modules/VexConfig/IniValueParse.h"
#include "platform/WinPath.h"

namespace {

// A value quoted in a problem text is cut here: the line names the value,
// it does not reproduce whatever a damaged file holds.
constexpr size_t kShownValueBytes = 64;

std::string ShownValue(const char* value) {
    std::string shown;
    for (const char* p = value; *p != '\0'; ++p) {
        if (shown.size() == kShownValueBytes) return shown + "...";
        const unsigned char c = static_cast<unsigned char>(*p);
        shown += (c < 0x20 || c == 0x7F) ? '?' : *p;
    }
    return shown;
}

std::string ErrnoText(int error) { return std::strerror(error); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether text comes back unchanged from a line of the file: the reader ends
// a line at CR or LF and drops the blanks around section names, keys and
// values. A line break in a value would even start a key of its own.
bool FitsOnLine(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos) return false;
    return text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back()));
}

// The problem that keeps a key and value out of the file, or nullptr. A key
// must not hold '=' nor start like a comment or a section line; a section
// name must not hold ']'.
const char* UnwritableProblem(const std::string& section, const std::string& key, const std::string& value) {
    if (!FitsOnLine(section) || section.find(']') != std::string::npos) return "has a section name the file cannot hold";
    if (!FitsOnLine(key) || key.find('=') != std::string::npos || key.find_first_of(";#[") == 0) {
        return "is not a key the file can hold";
    }
    if (!FitsOnLine(value)) return "has a value that would not read back the same (line break or blanks around it)";
    return nullptr;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

CIniConfigFile::CIniConfigFile() : m_Ini(/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false) {
    // "key=value" as Windows writes its ini files.
    m_Ini.SetSpaces(false);
}

bool CIniConfigFile::Open(const char* fileName, const char* section) {
    m_LastError.clear();
    m_Opened = false;
    m_Readable = true;
    m_Ini.Reset();
    if (fileName == nullptr || fileName[0] == '\0' || section == nullptr) {
        return Fail("ConfigFile::Open  no file name or section given");
    }
    m_Path = plat::TranslatePath(fileName);
    m_Section = section;
    m_Opened = true;

    std::error_code error;
    if (!std::filesystem::exists(m_Path, error)) return true;  // Save creates it
    errno = 0;
    const bool isFolder = std::filesystem::is_directory(m_Path, error);
    const SI_Error result = isFolder ? SI_FILE : m_Ini.LoadFile(m_Path.c_str());
    if (result < 0) {
        const int why = isFolder ? EISDIR : errno;
        m_Readable = false;
        m_Ini.Reset();
        return Fail(m_Path + ": cannot be read (" + (why != 0 ? ErrnoText(why) : "not an ini file") +
                    "); it will not be saved over");
    }
    return true;
}

bool CIniConfigFile::Save() {
    m_LastError.clear();
    if (!m_Opened) return Fail("ConfigFile::Save  no file opened");
    if (!m_Readable) return Fail(m_Path + ": was not readable at Open; not saved over");

    std::string text;
    if (m_Ini.Save(text) < 0) return Fail(m_Path + ": the values could not be formatted");
    // The reader skips a UTF-8 signature at the very start of a file; a key
    // of the unnamed section that begins with those bytes would lose them.
    // A blank first line keeps them in the key.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.insert(0, "\n");
    const std::filesystem::path target(m_Path);
    if (target.has_parent_path() && !plat::EnsureDirectory(target.parent_path().string())) {
        return Fail(m_Path + ": its folder cannot be created");
    }
    return WriteFileAtomically(text);
}

bool CIniConfigFile::WriteFileAtomically(const std::string& text) {
    const std::string temp = m_Path + ".tmp" + std::to_string(::getpid());
    // A file that exists keeps its permissions; a new one gets 0644 less the umask.
    struct stat existing {};
    const mode_t mode = ::stat(m_Path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return Fail(m_Path + ": cannot write " + temp + " (" + ErrnoText(errno) + ")");
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        return Fail(m_Path + ": writing " + temp + " failed (" + ErrnoText(writeError) + ")");
    }
    if (::rename(temp.c_str(), m_Path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temp.c_str());
        return Fail(m_Path + ": cannot replace it (" + ErrnoText(renameError) + ")");
    }
    return true;
}

bool CIniConfigFile::ReadBool(const char* key, bool defaultValue) {
    m_LastError.clear();
    const char* value = Find(key);
    if (value == nullptr) return defaultValue;
    if (const auto parsed = vexconfig::ParseIniBool(value)) return *parsed;
    ReportValue(key, value, "is not a bool (true/false, yes/no, 1/0)");
    return defaultValue;
}

int CIniConfigFile::ReadInt(const char* key, int defaultValue) {
    m_LastError.clear();
    const char* value = Find(key);
    if (value == nullptr) return defaultValue;
    if (const auto parsed = vexconfig::ParseIniInt(value)) return *parsed;
    ReportValue(key, value, "is not a decimal int");
    return defaultValue;
}

const char* CIniConfigFile::ReadString(const char* key, const char* defaultValue) {
    m_LastError.clear();
    const char* value = Find(key);
    // Copied even when it is the caller's default: the result is always ours.
    m_Text = value != nullptr ? value : (defaultValue != nullptr ? defaultValue : "");
    return m_Text.c_str();
}

bool CIniConfigFile::HasKey(const char* key) {
    m_LastError.clear();
    return Find(key) != nullptr;
}

bool CIniConfigFile::WriteBool(const char* key, bool value) { return Declare(key, value ? "true" : "false"); }

bool CIniConfigFile::WriteInt(const char* key, int value) { return Declare(key, std::to_string(value).c_str()); }

bool CIniConfigFile::WriteString(const char* key, const char* value) {
    return Declare(key, value != nullptr ? value : "");
}

const char* CIniConfigFile::Find(const char* key) const {
    if (!m_Opened || key == nullptr) return nullptr;
    return m_Ini.GetValue(m_Section.c_str(), key, nullptr);
}

bool CIniConfigFile::Declare(const char* key, const char* value) {
    m_LastError.clear();
    if (!m_Opened) return Fail("ConfigFile::Write  no file opened");
    if (key == nullptr || key[0] == '\0') return Fail(m_Path + ": empty key");
    if (Find(key) != nullptr) return true;  // the file's value wins
    if (const char* problem = UnwritableProblem(m_Section, key, value)) {
        ReportValue(key, value, problem);
        return false;
    }
    if (m_Ini.SetValue(m_Section.c_str(), key, value) < 0) return Fail(m_Path + ": cannot store " + key);
    return true;
}

void CIniConfigFile::ReportValue(const char* key, const char* value, const char* problem) {
    m_LastError = m_Path + ": [" + m_Section + "] " + key + " = \"" + ShownValue(value) + "\" " + problem;
}

bool CIniConfigFile::Fail(const std::string& why) {
    m_LastError = why;
    return false;
}
