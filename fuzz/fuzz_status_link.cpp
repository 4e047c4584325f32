// The status link's receive path and the records it carries.
//
// The input is a received byte stream. CSSFrameCodec cuts it as the link's
// read loop does (append a read, take frames until NeedMore or Bad), fed
// whole, byte by byte and in splits derived from the input. What must hold:
//  - every way of feeding yields the same frames and ends in the same state
//    (Bad, or waiting with the same unfinished tail);
//  - each frame is what the format allows (9 <= L <= 100 MiB) and encodes
//    back to its own bytes;
//  - every record decoder, the gateway's and the console's, reads each frame's
//    record (and the raw input as a record) without reading past its end,
//    and what they decode encodes back to the same record where the format
//    is canonical, or decodes the same again.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SSLogicProcess/StatusRecords.h"
#include "ShareDefine/WireBytes.h"
#include "fuzz/support/FuzzCheck.h"
#include "modules/SSNetCore/SSFrameCodec.h"
#include "tools/varnstatus/BaseInfoReply.h"
#include "tools/varnstatus/StatusRecords.h"

namespace {

struct Received {
    std::vector<std::string> frames;
    bool bad = false;
    bool operator==(const Received&) const = default;
};

// The read loop of CSSNetCore::ReadUntilLoss over the given reads.
Received ReadLoop(const uint8_t* data, const std::vector<size_t>& chunks) {
    Received received;
    CSSFrameCodec codec;
    std::string body;
    fuzzsupport::ForEachRead(data, chunks, [&](const std::vector<char>& read) {
        codec.Append(read.data(), read.size());
        for (;;) {
            const CSSFrameCodec::Result result = codec.Next(body);
            if (result == CSSFrameCodec::Result::Bad) {
                received.bad = true;
                return false;
            }
            if (result == CSSFrameCodec::Result::NeedMore) return true;
            received.frames.push_back(body);
        }
    });
    return received;
}

void CheckGatewayCommand(const std::string& record) {
    // Length 0 is ReadCommonCmd's "trust me, the bytes are there"; the
    // gateway reaches it only after the two kind bytes were read.
    if (record.empty()) return;
    const char* data = record.data();
    const int length = static_cast<int>(record.size());
    status::tagCSVCommonCmd command;
    status::CommonCmdRead outcome = status::CommonCmdRead::Ok;
    const int consumed = status::ReadCommonCmd(data, length, command, &outcome);
    FUZZ_CHECK(command.name[status::kCommandNameSize - 1] == '\0');
    FUZZ_CHECK(command.Name().size() < static_cast<size_t>(status::kCommandNameSize));
    if (record.size() < 36) {
        FUZZ_CHECK(outcome == status::CommonCmdRead::Short && consumed == 0 && command.param.empty());
        return;
    }
    const size_t needed = 36 + static_cast<uint8_t>(record[35]);
    switch (outcome) {
        case status::CommonCmdRead::Ok:
            FUZZ_CHECK(record.size() == needed && consumed == static_cast<int>(needed));
            break;
        case status::CommonCmdRead::LengthMismatch:
            FUZZ_CHECK(record.size() > needed && consumed == 0);
            break;
        case status::CommonCmdRead::Short:
            FUZZ_CHECK(record.size() < needed && consumed == 0 && command.param.empty());
            return;
    }
    FUZZ_CHECK(command.param == record.substr(36, needed - 36));
    // With the whole record there, "no length checks" reads the same.
    status::tagCSVCommonCmd trusted;
    status::ReadCommonCmd(data, 0, trusted);
    FUZZ_CHECK(trusted.Name() == command.Name() && trusted.param == command.param && trusted.flag == command.flag);

    // Encoded again, the command reads back the same; the console encodes
    // it to the very same bytes.
    const std::string again = status::EncodeCommonCmd(command.Name(), command.param, command.flag);
    status::tagCSVCommonCmd reread;
    FUZZ_CHECK(status::ReadCommonCmd(again.data(), static_cast<int>(again.size()), reread) ==
               static_cast<int>(again.size()));
    FUZZ_CHECK(reread.Name() == command.Name() && reread.param == command.param && reread.flag == command.flag);
    if (command.flag == 0) FUZZ_CHECK(varnstatus::EncodeCommonCmd(command.Name(), command.param) == again);
    // A canonical record (right kind, name NUL-padded) is exactly its encoding.
    const std::string nameField = record.substr(3, status::kCommandNameSize);
    const std::string canonicalName = command.Name() + std::string(status::kCommandNameSize - command.Name().size(), '\0');
    if (outcome == status::CommonCmdRead::Ok && command.type == 3 && command.subtype == 4 && nameField == canonicalName) {
        FUZZ_CHECK(again == record);
    }

    // The reply to it, read by the console, gives name, data and parameter back.
    const std::string data2 = record.substr(0, record.size() / 2);
    const std::string reply = status::EncodeCommonCmdReply(command, data2.data(), static_cast<int>(data2.size()));
    varnstatus::CommandReply decoded;
    FUZZ_CHECK(varnstatus::DecodeCommandReply(reply, decoded) == varnstatus::ReplyDecode::Ok);
    FUZZ_CHECK(decoded.name == command.Name() && decoded.data == data2 && decoded.param == command.param);
}

void CheckConsoleDecoders(const std::string& record) {
    varnstatus::RecordKind kind;
    const bool hasKind = varnstatus::ReadRecordKind(record, kind);
    FUZZ_CHECK(hasKind == (record.size() >= 2));
    uint8_t type = 0;
    uint8_t subtype = 0;
    FUZZ_CHECK(status::ReadRecordKind(record.data(), static_cast<int>(record.size()), type, subtype) == hasKind);
    if (hasKind) FUZZ_CHECK(type == kind.type && subtype == kind.subtype);

    varnstatus::LoginRecord login;
    if (varnstatus::DecodeLogin(record, login)) {
        FUZZ_CHECK(kind == varnstatus::kLoginKind && record.size() >= 7);
        FUZZ_CHECK(login.serverName == record.substr(7, static_cast<uint8_t>(record[6])));
        const bool whole = record.size() == 7 + static_cast<size_t>(static_cast<uint8_t>(record[6]));
        if (whole && login.fixedValue == status::kLoginFixedValue && login.reserved == 0) {
            FUZZ_CHECK(status::EncodeServerLogin(login.serverName) == record);
        }
    }

    uint8_t marker = 0;
    if (varnstatus::DecodeKeepAlive(record, marker)) {
        FUZZ_CHECK(record.size() >= 3 && marker == static_cast<uint8_t>(record[2]));
        if (record.size() == 3 && marker == 0xB3) FUZZ_CHECK(status::EncodeKeepAlive() == record);
    }

    varnstatus::CommandReply reply;
    const varnstatus::ReplyDecode replyResult = varnstatus::DecodeCommandReply(record, reply);
    FUZZ_CHECK(reply.data.size() <= record.size() && reply.param.size() <= record.size());
    if (replyResult == varnstatus::ReplyDecode::Ok) {
        FUZZ_CHECK(reply.dataLength >= 0 && reply.data.size() == static_cast<size_t>(reply.dataLength));
        FUZZ_CHECK(39 + reply.data.size() + 1 + reply.param.size() <= record.size());
    }

    varnstatus::BaseInfoReply info;
    if (info.Decode(record)) {
        FUZZ_CHECK(kind == varnstatus::kBaseInfoReplyKind);
        FUZZ_CHECK(info.Numbers().size() <= info.AnnouncedNumbers());
        FUZZ_CHECK(info.Texts().size() <= info.AnnouncedTexts());
        size_t entryBytes = 12 * info.Numbers().size();
        for (const auto& text : info.Texts()) entryBytes += 6 + text.text.size();
        FUZZ_CHECK(entryBytes <= record.size());
        if (!info.Truncated()) {
            const size_t bytes = 5 + entryBytes + 2;
            FUZZ_CHECK(info.Numbers().size() == info.AnnouncedNumbers() && info.Texts().size() == info.AnnouncedTexts());
            FUZZ_CHECK(bytes + info.TrailingBytes() == record.size());
            // What the console read, the gateway's encoder writes byte for byte.
            status::tagSVCBaseInfoReply rebuilt;
            for (const auto& number : info.Numbers()) rebuilt.AddNum(number.key.Encode(), number.value);
            for (const auto& text : info.Texts()) rebuilt.AddText(text.key.Encode(), text.text);
            if (record[2] == 0) FUZZ_CHECK(rebuilt.Encode() == record.substr(0, bytes));
        }
    }
}

void CheckRecord(const std::string& record) {
    CheckGatewayCommand(record);
    CheckConsoleDecoders(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Received whole = ReadLoop(data, size > 0 ? std::vector<size_t>{size} : std::vector<size_t>{});
    FUZZ_CHECK(ReadLoop(data, fuzzsupport::ByteSplits(size)) == whole);
    FUZZ_CHECK(ReadLoop(data, fuzzsupport::RandomSplits(data, size, size)) == whole);

    size_t at = 0;
    for (const std::string& body : whole.frames) {
        FUZZ_CHECK(body.size() >= CSSFrameCodec::kMinBody && body.size() <= CSSFrameCodec::kMaxBody);
        const std::string frame = CSSFrameCodec::Encode(body.data(), MMORPG::kPackHeadSize,
                                                        body.data() + MMORPG::kPackHeadSize,
                                                        body.size() - MMORPG::kPackHeadSize);
        FUZZ_CHECK(at + frame.size() <= size);
        FUZZ_CHECK(std::memcmp(frame.data(), data + at, frame.size()) == 0);
        at += frame.size();
        CheckRecord(body.substr(MMORPG::kPackHeadSize));
    }
    // What follows the last frame is either broken or an unfinished frame.
    if (!whole.bad && at < size) {
        FUZZ_CHECK(data[at] == CSSFrameCodec::kMagic0);
        if (size - at >= CSSFrameCodec::kPrefixSize) {
            const uint32_t length = wire::ReadLE32(reinterpret_cast<const char*>(data) + at + 2);
            FUZZ_CHECK(size - at - CSSFrameCodec::kPrefixSize < length);
        }
    }
    CheckRecord(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
