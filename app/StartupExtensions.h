// The named points of the main window's flow at which further steps join:
// window creation, start, stop and destruction each pass through them. Steps
// run in the order they were added; with none added the flow goes straight
// on. A step at a point that may end its flow returns false to end it (the
// creation, or the start attempt); at the other points the result is ignored.
// Used on the window thread only.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

enum class ExtensionPoint {
    OnCreateEarly,
    OnCreateServices,
    OnCreateViews,
    OnCreateChecks,   // may end the creation
    OnCreateLink,
    OnStartLink,      // may end the start attempt
    OnStartRun,
    OnStartViews,
    OnStopLink,
    OnStopRelease,
    OnDestroyViews,
    OnDestroyLink,
};

inline constexpr int kExtensionPointCount = static_cast<int>(ExtensionPoint::OnDestroyLink) + 1;

class StartupExtensions {
public:
    using Step = std::function<bool()>;

    void Add(ExtensionPoint point, Step step);
    // Runs the point's steps in order. False when a step ended the flow; only
    // points that may end a flow stop at such a step.
    bool Run(ExtensionPoint point) const;
    int Count(ExtensionPoint point) const;

    static bool MayEnd(ExtensionPoint point);
    static const char* Name(ExtensionPoint point);

private:
    std::array<std::vector<Step>, kExtensionPointCount> m_Steps;
};
