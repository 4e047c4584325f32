// CSendChunkQueue: bytes come out in order across chunk edges, messages are
// counted whole, and the chunks are given back as they are written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/QXNetService/SendChunkQueue.h"

namespace {

constexpr size_t kChunk = CSendChunkQueue::kChunkBytes;

std::string Pattern(size_t len, int seed) {
    std::string bytes(len, '\0');
    for (size_t i = 0; i < len; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
    return bytes;
}

// Writes everything out in gathered pieces of at most `step` bytes.
std::string DrainAll(CSendChunkQueue& queue, size_t step, size_t* completed) {
    std::string out;
    std::vector<asio::const_buffer> buffers;
    while (queue.Bytes() > 0) {
        const size_t total = queue.Gather(buffers, 64, step);
        size_t taken = 0;
        for (const auto& buffer : buffers) {
            const size_t part = std::min(buffer.size(), step - taken);
            out.append(static_cast<const char*>(buffer.data()), part);
            taken += part;
            if (taken == step) break;
        }
        EXPECT_GT(total, 0u);
        *completed += queue.Consume(taken);
    }
    return out;
}

TEST(SendChunkQueueTest, MessagesAcrossChunkEdgesComeOutInOrderAndWhole) {
    CSendChunkQueue queue;
    std::string expected;
    const size_t sizes[] = {4111, kChunk - 5000, 9000, 3 * kChunk + 17, 1};
    int seed = 0;
    for (size_t size : sizes) {
        const std::string message = Pattern(size, seed++);
        ASSERT_TRUE(queue.Append(message.data(), message.size()));
        expected += message;
    }
    EXPECT_EQ(queue.Messages(), 5u);
    EXPECT_EQ(queue.Bytes(), expected.size());
    size_t completed = 0;
    EXPECT_EQ(DrainAll(queue, 10007, &completed), expected);
    EXPECT_EQ(completed, 5u);
    EXPECT_EQ(queue.Messages(), 0u);
}

TEST(SendChunkQueueTest, APartialWriteCompletesNoMessageUntilItsLastByte) {
    CSendChunkQueue queue;
    const std::string message = Pattern(4096, 1);
    ASSERT_TRUE(queue.Append(message.data(), message.size()));
    ASSERT_TRUE(queue.Append(message.data(), message.size()));
    EXPECT_EQ(queue.Consume(4095), 0u);
    EXPECT_EQ(queue.Consume(1), 1u);
    EXPECT_EQ(queue.Consume(4096), 1u);
    EXPECT_EQ(queue.Bytes(), 0u);
}

TEST(SendChunkQueueTest, MemoryIsAboutTheBytesQueuedAndGoesBackAsTheyAreWritten) {
    CSendChunkQueue queue;
    const std::string message = Pattern(4111, 2);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(queue.Append(message.data(), message.size()));
    const uint64_t queued = 1000ull * message.size();
    EXPECT_LE(queue.ReservedBytes(), queued + kChunk);
    queue.Consume(static_cast<size_t>(queued - 100));
    EXPECT_LE(queue.ReservedBytes(), kChunk);  // only the chunk holding the last 100 bytes
    queue.Consume(100);
    EXPECT_EQ(queue.Bytes(), 0u);
}

TEST(SendChunkQueueTest, ADrainedQueueReusesALittleTouchedChunkAndFreesABigOne) {
    CSendChunkQueue queue;
    const std::string small = Pattern(1000, 3);
    ASSERT_TRUE(queue.Append(small.data(), small.size()));
    queue.Consume(small.size());
    EXPECT_EQ(queue.ReservedBytes(), kChunk);  // kept for the next short queue
    ASSERT_TRUE(queue.Append(small.data(), small.size()));
    size_t completed = 0;
    EXPECT_EQ(DrainAll(queue, 300, &completed), small);
    const std::string big = Pattern(200 * 1024, 4);
    ASSERT_TRUE(queue.Append(big.data(), big.size()));
    queue.Consume(big.size());
    EXPECT_EQ(queue.ReservedBytes(), 0u);
}

TEST(SendChunkQueueTest, ClearDropsEverything) {
    CSendChunkQueue queue;
    const std::string message = Pattern(3 * kChunk, 5);
    ASSERT_TRUE(queue.Append(message.data(), message.size()));
    queue.Clear();
    EXPECT_EQ(queue.Bytes(), 0u);
    EXPECT_EQ(queue.Messages(), 0u);
    EXPECT_EQ(queue.ReservedBytes(), 0u);
    ASSERT_TRUE(queue.Append(message.data(), 10));
    EXPECT_EQ(queue.Bytes(), 10u);
}

}  // namespace
