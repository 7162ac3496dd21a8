#include "video/publisher.h"
#include "video/snapshot_publisher.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
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

TEST(MultiReaderBuffer, TwoReadersNeverSeeAHalfWrittenValue) {
    // As the triple buffer's test, with two readers at once that hold their values for different
    // lengths of time.
    MultiReaderBuffer<std::array<int, 1024>, 2> buffer;
    for (int i = 0; i < 4; ++i)
        buffer.Slot(i).fill(0);
    constexpr int kValues = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int v = 1; v <= kValues; ++v) {
            buffer.Back().fill(v);
            buffer.Publish();
        }
        done = true;
    });
    auto read = [&](int reader, bool slow, bool& torn, bool& backwards) {
        int last = 0;
        while (!done.load() || last < kValues) {
            const std::array<int, 1024>& seen = *buffer.Acquire(reader);
            const int v = seen[0];
            if (slow) std::this_thread::yield();
            for (int e : seen)
                torn |= e != v;
            backwards |= v < last;
            last = v;
            if (torn || backwards) break;
        }
    };
    bool torn0 = false, back0 = false, torn1 = false, back1 = false;
    std::thread second([&] { read(1, true, torn1, back1); });
    read(0, false, torn0, back0);
    second.join();
    writer.join();
    EXPECT_FALSE(torn0 || torn1);
    EXPECT_FALSE(back0 || back1);
}

TEST(MultiReaderBuffer, HeldValuesStayWhileTheWriterGoesOn) {
    MultiReaderBuffer<int, 2> b;
    b.Back() = 1;
    b.Publish();
    const int* first = b.Acquire(0);
    b.Back() = 2;
    b.Publish();
    const int* second = b.Acquire(1);
    for (int v = 3; v < 100; ++v) {
        b.Back() = v;  // never one of the held slots, and never waits
        b.Publish();
    }
    EXPECT_EQ(*first, 1);
    EXPECT_EQ(*second, 2);
    EXPECT_EQ(*b.Acquire(0), 99);
    EXPECT_EQ(*b.Acquire(1), 99);
    EXPECT_EQ(b.LastPublished(), 99);
}

// Counts live values, so a test sees exactly when the writer frees one.
struct Counted {
    explicit Counted(int v, std::atomic<int>& live) : value(v), live_(live) { ++live_; }
    ~Counted() { --live_; }
    int value;
    std::atomic<int>& live_;
};

TEST(SnapshotPublisher, AReplacedValueIsFreedOnceTheReaderHasLetGoOfIt) {
    std::atomic<int> live{0};
    {
        SnapshotPublisher<Counted> p;
        EXPECT_EQ(p.Acquire(), nullptr) << "nothing published yet";
        p.Release();
        p.Publish(std::make_unique<Counted>(1, live));
        const Counted* held = p.Acquire();
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->value, 1);
        p.Publish(std::make_unique<Counted>(2, live));
        EXPECT_EQ(live, 2) << "the reader still draws value 1";
        EXPECT_EQ(held->value, 1);
        EXPECT_EQ(p.Latest()->value, 2);
        p.Publish(std::make_unique<Counted>(3, live));
        EXPECT_EQ(live, 2) << "value 2 was never taken: freed at once, value 1 kept";
        p.Release();
        EXPECT_EQ(p.Collect(), 0u);
        EXPECT_EQ(live, 1);
        EXPECT_EQ(p.Acquire()->value, 3);
        p.Publish(nullptr);
        EXPECT_EQ(live, 1) << "value 3 is in use";
        p.Release();
    }
    EXPECT_EQ(live, 0) << "the publisher frees what it still holds";
}

TEST(SnapshotPublisher, TheReaderNeverSeesAFreedValue) {
    // The writer publishes and frees values as fast as it can; a value freed while the reader
    // uses it would show a cleared or changed number.
    struct Value {
        std::array<int, 256> numbers;
        ~Value() { numbers.fill(-1); }
    };
    SnapshotPublisher<Value> p;
    constexpr int kValues = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int v = 1; v <= kValues; ++v) {
            auto value = std::make_unique<Value>();
            value->numbers.fill(v);
            p.Publish(std::move(value));
        }
        done = true;
    });
    bool changed = false;
    int last = 0;
    while (!done.load() && !changed) {
        const Value* seen = p.Acquire();
        if (seen) {
            const int v = seen->numbers[0];
            for (int k = 0; k < 50 && !changed; ++k)
                for (int e : seen->numbers)
                    changed |= e != v;
            changed |= v < last;
            last = v;
        }
        p.Release();
    }
    writer.join();
    EXPECT_FALSE(changed);
    EXPECT_EQ(p.Acquire()->numbers[0], kValues);
    p.Release();
}

}  // namespace
}  // namespace velmor
