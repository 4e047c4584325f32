// The launch-protocol line reader on arbitrary connection bytes.
//
// The stream is fed whole, byte by byte and in splits derived from the
// input, each time without taking lines in between (as the controller reads
// all it can before it answers) and once taking the lines after every read.
// What must hold:
//  - fed without taking, every split gives the same lines and the same bad
//    state as feeding it whole;
//  - the lines are exactly the input's lines (a '\r' before the '\n' cut
//    off), each within the protocol's bound, '\n' included; a line over the
//    bound makes the stream bad and no line from it or after it comes out;
//  - taking lines after every read gives a prefix of those lines, all of
//    them when the whole-fed stream stayed good.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "modules/LaunchServerDLL/LaunchLineReader.h"
#include "modules/LaunchServerDLL/LaunchProtocol.h"

namespace {

constexpr size_t kMaxLine = launchproto::kMaxLineBytes;

struct Lines {
    std::vector<std::string> lines;
    bool bad = false;
    bool operator==(const Lines&) const = default;
};

Lines Read(const uint8_t* data, const std::vector<size_t>& chunks, bool takeAfterEachRead) {
    CLaunchLineReader reader(kMaxLine);
    Lines result;
    std::string line;
    fuzzsupport::ForEachRead(data, chunks, [&](const std::vector<char>& read) {
        const bool good = reader.Feed(read.data(), read.size());
        FUZZ_CHECK(good == !reader.IsBad());
        if (!good) return false;
        while (takeAfterEachRead && reader.NextLine(line)) result.lines.push_back(line);
        return true;
    });
    while (reader.NextLine(line)) result.lines.push_back(line);
    result.bad = reader.IsBad();
    FUZZ_CHECK(!reader.HasLine());
    return result;
}

// The complete lines of the stream, cut at '\n' by hand.
std::vector<std::string> ReferenceLines(const uint8_t* data, size_t size, bool& overBound) {
    std::vector<std::string> lines;
    overBound = false;
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        if (i + 1 - start > kMaxLine) overBound = true;
        std::string line(reinterpret_cast<const char*>(data) + start, i - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = i + 1;
    }
    if (size - start >= kMaxLine) overBound = true;  // can only end over the bound
    return lines;
}

void Check(const uint8_t* data, size_t size, bool bytewise) {
    const Lines whole = Read(data, size > 0 ? std::vector<size_t>{size} : std::vector<size_t>{}, false);
    if (bytewise) FUZZ_CHECK(Read(data, fuzzsupport::ByteSplits(size), false) == whole);
    FUZZ_CHECK(Read(data, fuzzsupport::RandomSplits(data, size, size), false) == whole);

    bool overBound = false;
    const std::vector<std::string> expected = ReferenceLines(data, size, overBound);
    if (overBound) FUZZ_CHECK(whole.bad);
    if (whole.bad) {
        FUZZ_CHECK(whole.lines.empty());
    } else {
        FUZZ_CHECK(whole.lines == expected);
    }
    for (const std::string& line : whole.lines) FUZZ_CHECK(line.size() + 1 <= kMaxLine);

    const Lines taken = Read(data, fuzzsupport::RandomSplits(data, size, size, 1), true);
    FUZZ_CHECK(taken.lines.size() <= expected.size());
    for (size_t i = 0; i < taken.lines.size(); ++i) {
        FUZZ_CHECK(taken.lines[i] == expected[i]);
        FUZZ_CHECK(taken.lines[i].size() + 1 <= kMaxLine);
    }
    if (!whole.bad) FUZZ_CHECK(taken == whole);
    if (overBound) FUZZ_CHECK(taken.bad);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(data, size, true);
    // The input repeated past the reader's bound on queued bytes, which
    // inputs of the usual size never reach.
    if (size > 0) {
        std::vector<uint8_t> grown;
        while (grown.size() <= 16 * kMaxLine + 1) grown.insert(grown.end(), data, data + size);
        Check(grown.data(), grown.size(), false);
    }
    return 0;
}
