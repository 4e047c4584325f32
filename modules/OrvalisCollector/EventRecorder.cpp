#include "modules/OrvalisCollector/EventRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "modules/OrvalisCollector/OrvalisCollector.h"
#include "platform/WinPath.h"

namespace {

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

int CEventRecorder::Init() {
    std::lock_guard lock(m_Lock);
    m_Folder = ChooseFolder();
    m_Initialised = true;
    return 0;
}

void CEventRecorder::Cleanup() {
    std::lock_guard lock(m_Lock);
    m_Initialised = false;
}

int CEventRecorder::Report(const orvalis::EventFields& given) {
    const int64_t now = NowUnixMs();
    std::lock_guard lock(m_Lock);
    if (!m_Initialised) return -1;
    orvalis::EventFields fields = given;
    fields.appId = m_AppId;
    const std::string line = orvalis::EventLine(orvalis::LocalStamp(now), fields);
    const std::string path = m_Folder + "events_" + orvalis::LocalDate(now) + ".jsonl";
    return AppendLine(path, line) ? 0 : -2;
}

int CEventRecorder::Install(const char* folder) {
    std::lock_guard lock(m_Lock);
    m_InstalledFolder = folder != nullptr ? folder : "";
    if (m_Initialised) m_Folder = ChooseFolder();
    return 0;
}

int CEventRecorder::SetParam(const char* appId, const char* secret) {
    std::lock_guard lock(m_Lock);
    m_AppId = appId != nullptr ? appId : "";
    m_Secret = secret != nullptr ? secret : "";
    return 0;
}

std::string CEventRecorder::Folder() {
    std::lock_guard lock(m_Lock);
    return m_Folder;
}

int64_t CEventRecorder::NowUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string CEventRecorder::ChooseFolder() const {
    if (!m_InstalledFolder.empty()) return WithSlash(plat::TranslatePath(m_InstalledFolder));
    const char* fromEnvironment = std::getenv(kEventDirVariable);
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
        return WithSlash(plat::TranslatePath(fromEnvironment));
    }
    return WithSlash(plat::TranslatePath(kDefaultEventDir));
}

bool CEventRecorder::AppendLine(const std::string& path, const std::string& line) {
    if (!plat::EnsureDirectory(m_Folder)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write per line: with O_APPEND even another process writing the
    // same day file cannot split it.
    size_t done = 0;
    bool written = true;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return written;
}
