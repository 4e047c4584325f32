// The C entry points of the module, the only symbols it exports (the rest is
// built with hidden visibility, and exports.map keeps the static libraries'
// symbols private as well).
#include "modules/OrvalisCollector/EventRecorder.h"
#include "modules/OrvalisCollector/OrvalisCollector.h"

#define ORVALIS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

CEventRecorder& Recorder() {
    static CEventRecorder recorder;
    return recorder;
}

std::string_view Text(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

}  // namespace

ORVALIS_EXPORT int EventReportEasyInit() { return Recorder().Init(); }

ORVALIS_EXPORT void EventReportEasyCleanup() { Recorder().Cleanup(); }

ORVALIS_EXPORT int EventReportA(const char* sessionId, const char* productId, const char* zoneName,
                                const char* operatorId, int eventId, const char* content) {
    orvalis::EventFields fields;
    fields.sessionId = Text(sessionId);
    fields.productId = Text(productId);
    fields.zoneName = Text(zoneName);
    fields.operatorId = Text(operatorId);
    fields.eventId = eventId;
    fields.content = Text(content);
    return Recorder().Report(fields);
}

ORVALIS_EXPORT int InstallEventReportA(const char* folder) { return Recorder().Install(folder); }

ORVALIS_EXPORT int SetEventReportParamA(const char* appId, const char* secret) {
    return Recorder().SetParam(appId, secret);
}
