// ConfigFile over SimpleIni: the whole file is held in memory from Open to
// Save, keys compared without regard to case as Windows ini files are. Texts
// are 8-bit and passed through unchanged (no code-page conversion). One
// thread at a time per object; the texts it hands out live in the object.
#pragma once

// 8-bit text as it is, and the template's code compiled into this module
// (hidden like the rest) rather than taken from the system's shared library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <string>

#include "modules/VexConfig/ConfigFile.h"

class CIniConfigFile final : public ConfigFile {
public:
    CIniConfigFile();
    ~CIniConfigFile() = default;
    CIniConfigFile(const CIniConfigFile&) = delete;
    CIniConfigFile& operator=(const CIniConfigFile&) = delete;

    bool Open(const char* fileName, const char* section) override;
    bool Save() override;
    bool ReadBool(const char* key, bool defaultValue) override;
    int ReadInt(const char* key, int defaultValue) override;
    const char* ReadString(const char* key, const char* defaultValue) override;
    const char* GetLastError() override { return m_LastError.c_str(); }
    const char* GetFilePath() override { return m_Path.c_str(); }
    bool HasKey(const char* key) override;
    void Reserved8() override {}
    void Reserved9() override {}
    bool WriteBool(const char* key, bool value) override;
    bool WriteInt(const char* key, int value) override;
    bool WriteString(const char* key, const char* value) override;

private:
    // The stored text of the key, nullptr when missing (or before Open).
    const char* Find(const char* key) const;
    // Stores the value unless the key already has one.
    bool Declare(const char* key, const char* value);
    // Records "<file>: [<section>] <key> = "<value>" <problem>".
    void ReportValue(const char* key, const char* value, const char* problem);
    bool Fail(const std::string& why);
    bool WriteFileAtomically(const std::string& text);

    CSimpleIniA m_Ini;
    std::string m_Path;      // Linux path of the bound file
    std::string m_Section;
    bool m_Opened = false;
    bool m_Readable = true;  // false when an existing file could not be loaded
    std::string m_LastError;
    std::string m_Text;      // the last ReadString result
};
