#include "modules/Lognest/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace lognest {
namespace {

std::tm LocalTm(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

// Start of the local day that contains t. Worked out from localtime_r alone:
// mktime re-reads the time zone on every call (with TZ unset glibc frees and
// copies its zone name each time), which is slow on the logging thread and,
// as glibc's lock is invisible to ThreadSanitizer, reported as a race.
std::time_t LocalMidnightOf(std::time_t t) {
    const std::tm local = LocalTm(t);
    const std::time_t sinceMidnight = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const std::time_t candidate = t - sinceMidnight;
    // When the clocks changed between midnight and t, midnight had the other offset.
    return candidate + (local.tm_gmtoff - LocalTm(candidate).tm_gmtoff);
}

}  // namespace

std::string FormatStamp(LogTime time) {
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    auto seconds = duration_cast<std::chrono::seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - seconds).count();
    if (millis < 0) {  // before 1970: keep the milliseconds positive
        seconds -= std::chrono::seconds(1);
        millis += 1000;
    }
    const std::tm local = LocalTm(static_cast<std::time_t>(seconds.count()));
    char text[96];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return text;
}

LocalDay LocalDayOf(LogTime time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const std::tm local = LocalTm(seconds);
    // Days last 23 to 25 hours: 36 hours after midnight is always the next day.
    constexpr std::time_t kIntoNextDay = 36 * 3600;
    const std::time_t start = LocalMidnightOf(seconds);
    LocalDay day;
    day.start = std::chrono::system_clock::from_time_t(start);
    day.end = std::chrono::system_clock::from_time_t(LocalMidnightOf(start + kIntoNextDay));
    char date[40];
    std::snprintf(date, sizeof(date), "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    day.date = date;
    return day;
}

}  // namespace lognest
