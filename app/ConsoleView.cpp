#include "app/ConsoleView.h"

#include <sys/time.h>

#include <ctime>

#include "platform/ServiceNotify.h"

void ConsoleView::Print(const std::string& what, const std::string& text) {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(m_Out, "%s.%03d %s: %s\n", stamp, static_cast<int>(now.tv_usec / 1000), what.c_str(), text.c_str());
    std::fflush(m_Out);
}

void ConsoleView::SetCaption(const std::string& caption) { Print("caption", caption); }

void ConsoleView::SetStatusText(const std::string& text) {
    // The start loop shows the same stages again and again; a console only
    // needs a line when the text changes.
    if (text == m_LastStatus) return;
    m_LastStatus = text;
    Print("status", text);
    plat::service::NotifyStatus(text);
}

void ConsoleView::SetStartStopButton(const std::string& caption, bool visible, bool enabled) {
    Print("button", caption + (visible ? "" : " (hidden)") + (enabled ? "" : " (disabled)"));
}

void ConsoleView::SetStartTimeLabel(const std::string& text, bool visible) {
    if (visible) Print("start time", text);
}

void ConsoleView::SetCloseWarnLabel(const std::string& text, bool visible) {
    if (visible) Print("note", text);
}

void ConsoleView::SetStatusLightRunning() { Print("light", "running"); }

void ConsoleView::SetMutexSignText(const std::string& text) { Print("instance sign", text.empty() ? "(none)" : text); }

void ConsoleView::ShowMessage(const std::string& caption, const std::string& text) { Print(caption, text); }

bool ConsoleView::AskYesNo(const std::string& caption, const std::string& text) {
    Print(caption, text + " -> yes");
    return true;
}

void ConsoleView::ProcessPendingMessages(int waitMs) {
    if (m_Pump) m_Pump(waitMs);
}

void ConsoleView::BringToFront() { Print("window", "asked to come to the front by a second instance"); }
