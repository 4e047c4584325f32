#include "tools/varnstatus/ReplyFormatter.h"

#include <cinttypes>
#include <cstdio>

#include "tools/varnstatus/InfoCatalog.h"

namespace varnstatus {
namespace {

bool IsPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

std::string GroupText(uint32_t group) {
    const std::string name = GroupName(group);
    return std::to_string(group) + " " + (name.empty() ? "?" : name);
}

}  // namespace

std::string FormatInfoRow(const InfoKey& key, const std::string& value) {
    const std::string name = InfoName(key.id, key.group);
    char row[160];
    std::snprintf(row, sizeof(row), "%5u  %-28s %-15s %5u %5u  ", key.id, name.empty() ? "?" : name.c_str(),
                  GroupText(key.group).c_str(), key.itemIndex, key.serverType);
    return row + value;
}

std::string FormatNumericValue(const NumericEntry& entry) {
    char text[32];
    if (IsSignedInfo(entry.key.id)) {
        std::snprintf(text, sizeof(text), "%" PRId64, static_cast<int64_t>(entry.value));
    } else {
        std::snprintf(text, sizeof(text), "%" PRIu64, entry.value);
    }
    return text;
}

std::vector<std::string> FormatBaseInfo(const BaseInfoReply& reply) {
    std::vector<std::string> lines;
    lines.push_back("base information: " + std::to_string(reply.Numbers().size()) + " numbers, " +
                    std::to_string(reply.Texts().size()) + " texts");
    lines.push_back("   id  name                         group            item  type  value");
    for (const auto& entry : reply.Numbers()) lines.push_back(FormatInfoRow(entry.key, FormatNumericValue(entry)));
    for (const auto& entry : reply.Texts()) {
        lines.push_back(FormatInfoRow(entry.key, "\"" + EscapeText(entry.text) + "\""));
    }
    if (reply.Truncated()) {
        const std::string texts = reply.TextCountPresent()
                                      ? std::to_string(reply.Texts().size()) + " of " +
                                            std::to_string(reply.AnnouncedTexts()) + " texts"
                                      : "no texts (their count is cut off)";
        lines.push_back("truncated reply: " + std::to_string(reply.Numbers().size()) + " of " +
                        std::to_string(reply.AnnouncedNumbers()) + " numbers and " + texts + " were whole");
    } else if (reply.TrailingBytes() > 0) {
        lines.push_back("note: " + std::to_string(reply.TrailingBytes()) + " bytes after the last entry ignored");
    }
    return lines;
}

std::vector<std::string> FormatCommandReply(const CommandReply& reply) {
    std::vector<std::string> lines;
    lines.push_back("reply to " + EscapeText(reply.name) + ": " + std::to_string(reply.dataLength) +
                    " data bytes, parameter \"" + EscapeText(reply.param) + "\"");
    if (reply.data.empty()) return lines;
    if (!LooksLikeText(reply.data)) {
        lines.push_back("  " + HexBytes(reply.data));
        return lines;
    }
    size_t start = 0;
    while (start < reply.data.size()) {
        size_t end = reply.data.find('\n', start);
        if (end == std::string::npos) end = reply.data.size();
        std::string line = reply.data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back("  " + EscapeText(line, false));
        start = end + 1;
    }
    return lines;
}

std::string FormatOtherRecord(const MMORPG::tagPackHead& head, const std::string& record) {
    RecordKind kind;
    char text[128];
    std::string prefix = "record ";
    if (ReadRecordKind(record, kind)) {
        std::snprintf(text, sizeof(text), "%u/%u ", kind.type, kind.subtype);
        prefix += text;
    }
    std::snprintf(text, sizeof(text), "(%zu bytes, head ctx=%u idx=%d pack=%u dest=%u src=%u): ", record.size(),
                  head.Context, head.DestIndex, head.packType, head.DestServerType, head.SrcServerType);
    return prefix + text + HexBytes(record);
}

std::string EscapeText(const std::string& bytes, bool quoted) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (quoted && (c == '\\' || c == '"')) {
            text.push_back('\\');
            text.push_back(byte);
        } else if (IsPrintable(c)) {
            text.push_back(byte);
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<unsigned>(c));
            text += escape;
        }
    }
    return text;
}

bool LooksLikeText(const std::string& bytes) {
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') return false;
        if (c == 0x7F) return false;
    }
    return true;
}

}  // namespace varnstatus
