#include "video/publisher.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace velmor {
namespace {

TEST(TripleBuffer, ReaderNeverSeesAHalfWrittenValue) {
    // The writer fills every entry of a slot with one number, then publishes; a torn read would
    // show two numbers in one value, or numbers going backwards.
    TripleBuffer<std::array<int, 1024>> buffer;
    for (int i = 0; i < 3; ++i)
        buffer.Slot(i).fill(0);
    constexpr int kValues = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int v = 1; v <= kValues; ++v) {
            std::array<int, 1024>& back = buffer.Back();
            for (int& e : back)
                e = v;
            buffer.Publish();
        }
        done = true;
    });
    int last = 0;
    bool torn = false, backwards = false;
    while (!done.load() || last < kValues) {
        const std::array<int, 1024>& seen = *buffer.Acquire();
        const int v = seen[0];
        for (int e : seen)
            torn |= e != v;
        backwards |= v < last;
        last = v;
        if (torn || backwards) break;
    }
    writer.join();
    EXPECT_FALSE(torn);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(buffer.Acquire()->at(0), kValues);
}

TEST(TripleBuffer, WriterCanReadWhatItPublishedLast) {
    TripleBuffer<int> b;
    b.Back() = 7;
    b.Publish();
    EXPECT_EQ(b.LastPublished(), 7);
    b.Back() = 8;  // a different slot from the published one
    EXPECT_EQ(b.LastPublished(), 7);
    EXPECT_EQ(*b.Acquire(), 7);
    b.Publish();
    EXPECT_EQ(*b.Acquire(), 8);
    EXPECT_EQ(*b.Acquire(), 8) << "no new value: the reader keeps the one it has";
}

}  // namespace
}  // namespace velmor
