#include "SSLogicProcess/StatusCommandHandlers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "SSLogicProcess/SSLogicProcess.h"
#include "SSLogicProcess/StatusRecords.h"
#include "infra/HexDump.h"
#include "infra/Log.h"
#include "platform/MappedFile.h"

namespace {

// The log directory and the file name together stay within the classic path
// limit; a longer name is cut to fit.
constexpr size_t kMaxPathLength = 259;
// A frame may carry at most 100 MiB; the reply's fixed fields, the head and
// the parameter need the rest.
constexpr size_t kMaxReplyData = 104857600 - 512;

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

bool IsAbsoluteName(const std::string& name) {
    if (name.empty()) return false;
    if (name[0] == '/' || name[0] == '\\') return true;
    return name.size() >= 2 && name[1] == ':';
}

bool InsideDirectory(const std::string& realPath, const std::string& realDirectory) {
    if (realPath == realDirectory) return true;
    return realPath.size() > realDirectory.size() && realPath.compare(0, realDirectory.size(), realDirectory) == 0 &&
           realPath[realDirectory.size()] == '/';
}

// Compresses the whole file at level 9; empty when any step fails (each
// failure is logged as the gateway's operators know it).
std::vector<unsigned char> CompressLogFile(const std::string& path) {
    std::vector<unsigned char> compressed;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        GetLog()->LogNote("Can't find file:%s", path.c_str());
        return compressed;
    }
    // Non-blocking, so that a FIFO someone left in the folder cannot hold
    // the request thread in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
        ::close(fd);
        errno = S_ISDIR(opened.st_mode) ? EISDIR : EINVAL;
        GetLog()->LogAlarm("Create file failed: errno = %d, file = %s", errno, path.c_str());
        return compressed;
    }
    if (fd < 0) {
        GetLog()->LogAlarm("Create file failed: errno = %d, file = %s", errno, path.c_str());
        return compressed;
    }
    const size_t size = static_cast<size_t>(opened.st_size);
    if (size == 0) {
        GetLog()->LogNote("file size is zero : %s", path.c_str());
        ::close(fd);
        return compressed;
    }
    plat::MappedFile view;
    if (!view.Map(fd, size)) {
        GetLog()->LogAlarm("Create file map failed, last err = %d", errno);
        ::close(fd);
        return compressed;
    }
    uLongf compressedLength = compressBound(static_cast<uLong>(size));
    compressed.resize(compressedLength);
    const int result = compress2(compressed.data(), &compressedLength,
                                 reinterpret_cast<const Bytef*>(view.Data()), static_cast<uLong>(size), 9);
    ::close(fd);
    if (result != Z_OK) {
        compressed.clear();
        return compressed;
    }
    compressed.resize(compressedLength);
    if (compressed.size() > kMaxReplyData) {
        GetLog()->LogNote("file too large to send : %s", path.c_str());
        compressed.clear();
    }
    return compressed;
}

}  // namespace

int ReadCommonCmdLogged(const MMORPG::MMORPGPacket* packet, status::tagCSVCommonCmd& command) {
    // ReadCommonCmd takes a length of 0 as the caller's promise that the
    // fixed part is there; an empty payload makes no such promise.
    if (packet->GetDataLen() <= 0) {
        command = status::tagCSVCommonCmd{};
        return 0;
    }
    status::CommonCmdRead outcome = status::CommonCmdRead::Ok;
    const int consumed = status::ReadCommonCmd(packet->GetData(), packet->GetDataLen(), command, &outcome);
    if (outcome == status::CommonCmdRead::LengthMismatch) {
        const std::string dump = HexDump(packet->GetData(), packet->GetDataLen());
        GetLog()->LogWarn("Error in tagCSVCommonCmd : %s ", dump.c_str());
    }
    return consumed;
}

int SendCommonCmdReply(const MMORPG::MMORPGPacket* packet, const char* data, int dataLength) {
    if (packet == nullptr || data == nullptr || dataLength < 0) {
        GetLog()->LogError("Bad data : pData = 0x%p, pPack = 0x%p, dwDataLen = %d", static_cast<const void*>(data),
                           static_cast<const void*>(packet), dataLength);
        return 0;
    }
    status::tagCSVCommonCmd request;
    ReadCommonCmdLogged(packet, request);
    const std::string record = status::EncodeCommonCmdReply(request, data, dataLength);
    const std::string head = status::EncodeHead(status::StatusHead(packet->m_PackHead.DestIndex));
    CSSLogicProcess* link = CSSLogicProcess::GetInstance();
    if (link == nullptr) return 0;
    return link->SendPack(head.data(), static_cast<int>(head.size()), record.data(), static_cast<int>(record.size()));
}

bool OnSVCCommonCmd(MMORPG::MMORPGPacket* packet) {
    status::tagCSVCommonCmd command;
    ReadCommonCmdLogged(packet, command);
    if (command.Name() == "GetErrorLog") return OnSVCCmdGetErrorLog(packet);
    return false;
}

std::string ResolveLogFileName(const std::string& logDirectory, const std::string& name) {
    if (name.find("..\\") != std::string::npos || name.find("../") != std::string::npos) return "";
    if (IsAbsoluteName(name)) return "";
    std::string path = logDirectory;
    if (path.size() < kMaxPathLength) path += name.substr(0, kMaxPathLength - path.size());
    const std::string realPath = RealPath(path);
    if (realPath.empty()) return path;  // missing: reported as such
    const std::string realDirectory = RealPath(logDirectory);
    if (realDirectory.empty() || !InsideDirectory(realPath, realDirectory)) return "";
    return path;
}

bool OnSVCCmdGetErrorLog(MMORPG::MMORPGPacket* packet) {
    try {
        status::tagCSVCommonCmd command;
        ReadCommonCmdLogged(packet, command);
        std::string directory = GetLog()->GetLogDirectory();
        if (directory.size() >= kMaxPathLength + 1) directory.resize(kMaxPathLength);
        const std::string& fileName = command.param;
        const std::string path = ResolveLogFileName(directory, fileName);
        if (path.empty()) {
            GetLog()->LogNote("Invalid filename: %s", fileName.c_str());
            return true;
        }
        const std::vector<unsigned char> compressed = CompressLogFile(path);
        static const char kNoData = 0;
        if (compressed.empty()) {
            SendCommonCmdReply(packet, &kNoData, 0);
        } else {
            SendCommonCmdReply(packet, reinterpret_cast<const char*>(compressed.data()),
                               static_cast<int>(compressed.size()));
        }
    } catch (...) {
        GetLog()->LogAlarm("Throw exception in OnSVCCmdGetErrorLog");
    }
    return true;
}
