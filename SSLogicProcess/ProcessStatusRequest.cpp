#include "SSLogicProcess/ProcessStatusRequest.h"

#include "SSLogicProcess/ProcessMetrics.h"
#include "SSLogicProcess/SSLogicProcess.h"
#include "SSLogicProcess/StatusRecords.h"

void CProcessStatusRequest::SetRequestHandler(StatusRequestHandler handler, void* context) {
    m_Handler = handler;
    m_HandlerContext = context;
}

void CProcessStatusRequest::SetRequestFunction(StatusRequestFunction function) {
    m_Function = function;
    if (function != nullptr) SetRequestHandler(&CProcessStatusRequest::CallRequestFunction, this);
}

bool CProcessStatusRequest::CallRequestFunction(void* context, MMORPG::MMORPGPacket* packet) {
    auto* self = static_cast<CProcessStatusRequest*>(context);
    return self->m_Function != nullptr && self->m_Function(packet);
}

bool CProcessStatusRequest::HandleRequest(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr) return true;
    if (m_Handler != nullptr && m_Handler(m_HandlerContext, packet)) return true;
    uint8_t type = 0;
    uint8_t subtype = 0;
    if (!status::ReadRecordKind(packet->GetData(), packet->GetDataLen(), type, subtype)) return false;
    if (type != 6 || subtype != 1) return false;
    SendDefaultBaseInfo(packet);
    return true;
}

void CProcessStatusRequest::SendDefaultBaseInfo(MMORPG::MMORPGPacket* packet) {
    const ProcessMetrics metrics = GetProcessMetrics();
    const int index = m_Owner->GetServerIndex();
    const int type = m_Owner->GetServerType();
    status::tagSVCBaseInfoReply reply;
    reply.AddSigned(status::MakeInfoKey(56, status::igProcess, index, type), metrics.cpuPercent);
    reply.AddNum(status::MakeInfoKey(57, status::igProcess, index, type), metrics.pageFileBytes);
    MMORPG::tagPackHead head = packet->m_PackHead;
    head.DestServerType = MMORPG::stStatusServer;
    head.SrcServerType = MMORPG::stStatusServer;
    const std::string headBytes = status::EncodeHead(head);
    const std::string record = reply.Encode();
    m_Owner->SendPack(headBytes.data(), static_cast<int>(headBytes.size()), record.data(),
                      static_cast<int>(record.size()));
}
