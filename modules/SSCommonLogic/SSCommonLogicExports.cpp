// The C entry points of the status-command logic library. The gateway hands
// over its send function once (SetPackSendFunc) and offers every status
// request its own handlers leave (OnStatusRequest). The library answers
// "ListLogFiles" and declines everything else, so those requests reach the
// gateway's scripts. OnStatusRequest runs on the gateway's status request
// thread; SetPackSendFunc on its window thread before that thread runs.
#include <dlfcn.h>

#include <atomic>
#include <string>

#include "SSLogicProcess/StatusRecords.h"
#include "ShareDefine/MMORPGPacket.h"
#include "modules/Lognest/LogService.h"
#include "modules/SSCommonLogic/LogFileList.h"

#define SSCOMMON_EXPORT extern "C" __attribute__((visibility("default")))

using SSPackSendFunc = int (*)(void* context, const char* head, int headLength, const char* content, int contentLength);

namespace {

std::atomic<SSPackSendFunc> s_SendFunction{nullptr};
std::atomic<void*> s_SendContext{nullptr};

std::string OwnFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr) return "";
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The folder the gateway's log module writes to. The log module is already
// loaded from beside this library; it is only looked up, never loaded here.
std::string LogDirectory() {
    void* module = ::dlopen((OwnFolder() + "libLognest.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) return "";
    std::string directory;
    auto getLog = reinterpret_cast<GetLogFunc>(::dlsym(module, "GetLog"));
    if (getLog != nullptr) {
        if (LogService* log = getLog()) directory = log->GetLogDirectory();
    }
    ::dlclose(module);
    return directory;
}

void Reply(const MMORPG::MMORPGPacket& request, const status::tagCSVCommonCmd& command, const std::string& data) {
    const SSPackSendFunc send = s_SendFunction.load();
    if (send == nullptr) return;
    const std::string head = status::EncodeHead(status::StatusHead(request.m_PackHead.DestIndex));
    const std::string record = status::EncodeCommonCmdReply(command, data.data(), static_cast<int>(data.size()));
    send(s_SendContext.load(), head.data(), static_cast<int>(head.size()), record.data(),
         static_cast<int>(record.size()));
}

}  // namespace

SSCOMMON_EXPORT void SetPackSendFunc(SSPackSendFunc sendFunction, void* context) {
    s_SendContext.store(context);
    s_SendFunction.store(sendFunction);
}

SSCOMMON_EXPORT bool OnStatusRequest(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr) return false;
    uint8_t type = 0;
    uint8_t subtype = 0;
    if (!status::ReadRecordKind(packet->GetData(), packet->GetDataLen(), type, subtype)) return false;
    if (type != 3 || subtype != 4) return false;
    status::tagCSVCommonCmd command;
    status::ReadCommonCmd(packet->GetData(), packet->GetDataLen(), command);
    if (command.Name() != "ListLogFiles") return false;
    const std::string directory = LogDirectory();
    Reply(*packet, command, directory.empty() ? std::string() : ListLogFiles(directory));
    return true;
}
