// One configuration file as the program uses it: owns a ConfigFile of
// VexConfig.dll and reports every problem the module notes (a value of the
// wrong form, a file that cannot be read or written) as one log line naming
// the file, the key and the value. The *Checked reads also tell the caller
// whether the value was usable, so start-up can refuse to run on a bad key
// and name it. Used on one thread at a time (the window thread).
#pragma once

#include <string>

#include "infra/VexConfigProxy.h"

class CConfigFileProxy {
public:
    // Creates the object through CreateConfig(); IsValid() is false when
    // the module could not make one.
    CConfigFileProxy();
    explicit CConfigFileProxy(ConfigFilePtr config);

    bool IsValid() const { return m_Config != nullptr; }
    ConfigFile* Get() const { return m_Config.get(); }

    bool Open(const std::string& fileName, const std::string& section);
    bool Save();

    // A missing key gives the fallback; so does a malformed value, which is
    // also logged at Warn level.
    bool ReadBool(const std::string& key, bool fallback);
    int ReadInt(const std::string& key, int fallback);
    std::string ReadString(const std::string& key, const std::string& fallback);

    // As above, and false when the key holds a malformed value (out is then
    // the fallback). A missing key is not a problem: out is the fallback.
    bool ReadIntChecked(const std::string& key, int fallback, int& out);
    bool ReadBoolChecked(const std::string& key, bool fallback, bool& out);

    // Declare a key; a value already in the file is kept.
    bool WriteBool(const std::string& key, bool value);
    bool WriteInt(const std::string& key, int value);
    bool WriteString(const std::string& key, const std::string& value);

    // The module's text for the last problem of this object ("" after a
    // call that went well), e.g. for a status text.
    const std::string& LastProblem() const { return m_LastProblem; }

private:
    // Takes the module's problem text of the call that just returned; logs
    // it as "<operation>  <text>" at Warn level. True when there was none.
    bool TakeProblem(const char* operation);
    bool NoObject();  // notes that the module made no object; false

    ConfigFilePtr m_Config;
    std::string m_LastProblem;
};
