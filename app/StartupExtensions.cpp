#include "app/StartupExtensions.h"

namespace {

constexpr std::array<const char*, kExtensionPointCount> kNames = {
    "OnCreateEarly", "OnCreateServices", "OnCreateViews", "OnCreateChecks", "OnCreateLink",   "OnStartLink",
    "OnStartRun",    "OnStartViews",     "OnStopLink",    "OnStopRelease",  "OnDestroyViews", "OnDestroyLink",
};

size_t IndexOf(ExtensionPoint point) { return static_cast<size_t>(point); }

}  // namespace

void StartupExtensions::Add(ExtensionPoint point, Step step) { m_Steps[IndexOf(point)].push_back(std::move(step)); }

bool StartupExtensions::Run(ExtensionPoint point) const {
    for (const Step& step : m_Steps[IndexOf(point)]) {
        const bool goOn = step();
        if (!goOn && MayEnd(point)) return false;
    }
    return true;
}

int StartupExtensions::Count(ExtensionPoint point) const { return static_cast<int>(m_Steps[IndexOf(point)].size()); }

bool StartupExtensions::MayEnd(ExtensionPoint point) {
    return point == ExtensionPoint::OnCreateChecks || point == ExtensionPoint::OnStartLink;
}

const char* StartupExtensions::Name(ExtensionPoint point) { return kNames[IndexOf(point)]; }
