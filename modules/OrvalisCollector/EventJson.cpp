#include "modules/OrvalisCollector/EventJson.h"

#include <cstdio>
#include <ctime>

namespace orvalis {
namespace {

void AppendEscapedByte(std::string& out, unsigned char c) {
    char escaped[8];
    std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
    out += escaped;
}

// Length of the valid UTF-8 sequence at text[at] (2 to 4), 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and points past U+10FFFF are not text.
    if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000)) return 0;
    if (point >= 0xD800 && point <= 0xDFFF) return 0;
    if (point > 0x10FFFF) return 0;
    return length;
}

void AppendField(std::string& line, const char* name, std::string_view value) {
    line += ",\"";
    line += name;
    line += "\":";
    line += JsonString(value);
}

std::tm LocalTm(int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                AppendEscapedByte(out, c);
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    AppendEscapedByte(out, c);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string EventLine(const std::string& stamp, const EventFields& fields) {
    std::string line = "{\"time\":" + JsonString(stamp);
    AppendField(line, "appId", fields.appId);
    AppendField(line, "sessionId", fields.sessionId);
    AppendField(line, "productId", fields.productId);
    AppendField(line, "zoneName", fields.zoneName);
    AppendField(line, "operatorId", fields.operatorId);
    line += ",\"eventId\":" + std::to_string(fields.eventId);
    AppendField(line, "content", fields.content);
    line += "}\n";
    return line;
}

std::string LocalStamp(int64_t unixMs) {
    const std::tm local = LocalTm(unixMs);
    char date[32];
    std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char stamp[64];
    std::snprintf(stamp, sizeof(stamp), "%s.%03d%c%02ld:%02ld", date, static_cast<int>(unixMs % 1000),
                  offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return stamp;
}

std::string LocalDate(int64_t unixMs) {
    const std::tm local = LocalTm(unixMs);
    char date[16];
    std::strftime(date, sizeof(date), "%Y-%m-%d", &local);
    return date;
}

}  // namespace orvalis
