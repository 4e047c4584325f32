#include "infra/ConfigFileProxy.h"

#include "infra/Log.h"

CConfigFileProxy::CConfigFileProxy() : m_Config(CreateConfig()) {}

CConfigFileProxy::CConfigFileProxy(ConfigFilePtr config) : m_Config(std::move(config)) {}

bool CConfigFileProxy::Open(const std::string& fileName, const std::string& section) {
    if (!m_Config) return false;
    const bool opened = m_Config->Open(fileName.c_str(), section.c_str());
    TakeProblem("CConfigFileProxy::Open");
    return opened;
}

bool CConfigFileProxy::Save() {
    if (!m_Config) return false;
    const bool saved = m_Config->Save();
    TakeProblem("CConfigFileProxy::Save");
    return saved;
}

bool CConfigFileProxy::ReadBool(const std::string& key, bool fallback) {
    bool value = fallback;
    ReadBoolChecked(key, fallback, value);
    return value;
}

int CConfigFileProxy::ReadInt(const std::string& key, int fallback) {
    int value = fallback;
    ReadIntChecked(key, fallback, value);
    return value;
}

std::string CConfigFileProxy::ReadString(const std::string& key, const std::string& fallback) {
    if (!m_Config) return fallback;
    // Copied at once: the module's text lives only until the next call.
    std::string value = m_Config->ReadString(key.c_str(), fallback.c_str());
    TakeProblem("CConfigFileProxy::ReadString");
    return value;
}

bool CConfigFileProxy::ReadIntChecked(const std::string& key, int fallback, int& out) {
    out = fallback;
    if (!m_Config) return NoObject();
    out = m_Config->ReadInt(key.c_str(), fallback);
    return TakeProblem("CConfigFileProxy::ReadInt");
}

bool CConfigFileProxy::ReadBoolChecked(const std::string& key, bool fallback, bool& out) {
    out = fallback;
    if (!m_Config) return NoObject();
    out = m_Config->ReadBool(key.c_str(), fallback);
    return TakeProblem("CConfigFileProxy::ReadBool");
}

bool CConfigFileProxy::WriteBool(const std::string& key, bool value) {
    if (!m_Config) return false;
    const bool written = m_Config->WriteBool(key.c_str(), value);
    TakeProblem("CConfigFileProxy::WriteBool");
    return written;
}

bool CConfigFileProxy::WriteInt(const std::string& key, int value) {
    if (!m_Config) return false;
    const bool written = m_Config->WriteInt(key.c_str(), value);
    TakeProblem("CConfigFileProxy::WriteInt");
    return written;
}

bool CConfigFileProxy::WriteString(const std::string& key, const std::string& value) {
    if (!m_Config) return false;
    const bool written = m_Config->WriteString(key.c_str(), value.c_str());
    TakeProblem("CConfigFileProxy::WriteString");
    return written;
}

bool CConfigFileProxy::NoObject() {
    m_LastProblem = "no configuration object";
    return false;
}

bool CConfigFileProxy::TakeProblem(const char* operation) {
    const char* problem = m_Config->GetLastError();
    m_LastProblem = problem != nullptr ? problem : "";
    if (m_LastProblem.empty()) return true;
    GetLog()->LogWarn("%s  %s", operation, m_LastProblem.c_str());
    return false;
}
