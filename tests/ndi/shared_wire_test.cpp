// The same-machine path's messages and the slot bookkeeping of both ends: what goes on the Unix
// socket reads back, what a broken peer could say is refused, and a slot is never handed out
// twice, written while the receiver has it, or given back by a receiver that does not hold it.
#include <gtest/gtest.h>

#include <cstring>

#include "ndi/builtin/shared_wire.h"

namespace velmor::wire {
namespace {

// Splits an encoded message into header and payload; `keep` holds the message for `payload`.
bool Split(Message m, Header& h, const uint8_t*& payload, Message& keep) {
    keep = std::move(m);
    if (!keep || keep->size() < kHeaderSize || !ParseHeader(keep->data(), h)) return false;
    payload = keep->data() + kHeaderSize;
    return h.length == keep->size() - kHeaderSize;
}

TEST(SharedWire, EveryMessageRoundTrips) {
    Header h;
    const uint8_t* p;
    Message keep;
    const Token token{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

    SharedOfferView offer;
    ASSERT_TRUE(Split(EncodeSharedOffer(token, "123-4.sock"), h, p, keep));
    EXPECT_EQ(h.type, MessageType::SharedOffer);
    ASSERT_TRUE(ParseSharedOffer(p, h.length, offer));
    EXPECT_EQ(offer.token, token);
    EXPECT_EQ(offer.socketName, "123-4.sock");

    ASSERT_TRUE(Split(EncodeSharedStart(), h, p, keep));
    EXPECT_EQ(h.type, MessageType::SharedStart);
    EXPECT_TRUE(ParseSharedStart(p, h.length));

    Token joined{};
    ASSERT_TRUE(Split(EncodeSharedJoin(token), h, p, keep));
    ASSERT_TRUE(ParseSharedJoin(p, h.length, joined));
    EXPECT_EQ(joined, token);

    SlotsView slots;
    ASSERT_TRUE(Split(EncodeSharedSlots({7, 16, 4149248}), h, p, keep));
    ASSERT_TRUE(ParseSharedSlots(p, h.length, slots));
    EXPECT_EQ(slots.set, 7u);
    EXPECT_EQ(slots.count, 16u);
    EXPECT_EQ(slots.stride, 4149248u);

    std::vector<uint8_t> pixels(1920 * 2 * 1080);
    NDIlib_video_frame_v2_t f{};
    f.xres = 1920;
    f.yres = 1080;
    f.FourCC = NDIlib_FourCC_video_type_UYVY;
    f.frame_rate_N = 60000;
    f.frame_rate_D = 1001;
    f.frame_format_type = NDIlib_frame_format_type_field_1;
    f.p_data = pixels.data();
    f.p_metadata = "<n>1</n>";
    SharedVideoView v;
    auto video = EncodeSharedVideo(f, 11, 12, {7, 15});
    ASSERT_TRUE(Split(video, h, p, keep));
    EXPECT_LT(video->size(), 200u) << "the picture stays in its slot";
    ASSERT_TRUE(ParseSharedVideo(p, h.length, v));
    EXPECT_EQ(v.ref.set, 7u);
    EXPECT_EQ(v.ref.slot, 15u);
    EXPECT_EQ(v.video.xres, 1920);
    EXPECT_EQ(v.video.formatType, NDIlib_frame_format_type_field_1);
    EXPECT_EQ(v.video.timecode, 11);
    EXPECT_EQ(v.video.timestamp, 12);
    EXPECT_EQ(v.video.metadata, "<n>1</n>");
    EXPECT_EQ(v.video.dataSize, pixels.size());
    EXPECT_EQ(v.video.data, nullptr);

    SlotRef ref;
    ASSERT_TRUE(Split(EncodeSharedRelease({7, 15}), h, p, keep));
    ASSERT_TRUE(ParseSharedRelease(p, h.length, ref));
    EXPECT_EQ(ref.set, 7u);
    EXPECT_EQ(ref.slot, 15u);
}

TEST(SharedWire, TheHelloCarriesTheWishAndTheMachine) {
    Header h;
    const uint8_t* p;
    Message keep;
    Hello hello, back;
    hello.shared = true;
    hello.bootId = "0f0e5a3c-1d2b-4c5d-8e9f-001122334455";
    ASSERT_TRUE(Split(EncodeHello(hello), h, p, keep));
    ASSERT_TRUE(ParseHello(p, h.length, back));
    EXPECT_TRUE(back.shared);
    EXPECT_EQ(back.bootId, hello.bootId);

    // A version 1 hello (no wish, no machine) still reads, and asks for nothing.
    hello.version = 1;
    ASSERT_TRUE(Split(EncodeHello(hello), h, p, keep));
    ASSERT_TRUE(ParseHello(p, h.length, back = Hello{}));
    EXPECT_FALSE(back.shared);
    EXPECT_TRUE(back.bootId.empty());
}

TEST(SharedWire, WhatABrokenPeerMightSayIsRefused) {
    Header h;
    const uint8_t* p;
    Message keep;
    const Token token{};
    for (const char* name : {"", ".", "..", "../x.sock", "/tmp/x.sock", "a/b"}) {
        SharedOfferView offer;
        ASSERT_TRUE(Split(EncodeSharedOffer(token, name), h, p, keep));
        EXPECT_FALSE(ParseSharedOffer(p, h.length, offer)) << name;
    }
    auto withNul = EncodeSharedOffer(token, std::string_view("a\0b", 3));
    SharedOfferView offer;
    ASSERT_TRUE(Split(withNul, h, p, keep));
    EXPECT_FALSE(ParseSharedOffer(p, h.length, offer));

    struct Case {
        SlotsView slots;
        const char* why;
    } refused[] = {
        {{1, 0, 4096}, "no slots"},
        {{1, kMaxSlots + 1, 4096}, "more slots than a bitmask of the receiver's"},
        {{1, 4, 0}, "empty slots"},
        {{1, 4, 4096 + 1}, "slots off the page grid"},
        {{1, 8, kMaxSetBytes / 4}, "a set over the limit"},
        {{1, 16, uint64_t(1) << 61}, "a size that overflows when multiplied"},
    };
    for (const auto& c : refused) {
        SlotsView back;
        ASSERT_TRUE(Split(EncodeSharedSlots(c.slots), h, p, keep));
        EXPECT_FALSE(ParseSharedSlots(p, h.length, back)) << c.why;
    }

    // Trailing or missing bytes.
    const uint8_t eight[9] = {};
    SlotRef ref;
    Token t;
    EXPECT_FALSE(ParseSharedRelease(eight, 9, ref));
    EXPECT_FALSE(ParseSharedRelease(eight, 7, ref));
    EXPECT_FALSE(ParseSharedJoin(eight, 9, t));
    EXPECT_FALSE(ParseSharedStart(eight, 1));
    // A header that claims more than any message of its type may hold.
    uint8_t header[kHeaderSize];
    const uint32_t fields[3] = {kMagic, static_cast<uint32_t>(MessageType::SharedRelease), 9};
    std::memcpy(header, fields, sizeof header);
    EXPECT_FALSE(ParseHeader(header, h));
}

TEST(SharedWire, SlotsPerReceiverFollowThePictureSize) {
    struct Case {
        size_t bytes;
        uint32_t slots;
    } cases[] = {
        {64, kMaxSlots},
        {1920 * 1080 * 2, 16},         // 1080p UYVY: 64 MiB of slots
        {1920 * 1080 * 4, 8},          // 1080p BGRA
        {3840 * 2160 * 2, kMinSlots},  // 2160p UYVY
        {8192 * 8192 * 4, kMinSlots},  // the largest picture: a 1 GiB set
    };
    for (const auto& c : cases) {
        const uint64_t stride = SlotStride(c.bytes);
        EXPECT_EQ(stride % kSlotAlign, 0u);
        EXPECT_GE(stride, c.bytes);
        EXPECT_LT(stride - c.bytes, kSlotAlign);
        EXPECT_EQ(SlotsFor(stride), c.slots) << c.bytes;
        EXPECT_LE(SlotsFor(stride) * stride, kMaxSetBytes);
    }
}

// The sender's side: of four slots the receiver has at most three; the fourth keeps the newest
// frame until one comes back, and a newer frame takes its place.
TEST(SlotLedger, TheReceiverNeverHasTheSpareAndTheNewestFrameWaitsInIt) {
    SlotLedger l(4);
    for (uint32_t i = 0; i < 3; ++i) {
        auto pick = l.Take();
        ASSERT_TRUE(pick);
        EXPECT_EQ(pick->slot, i) << "the lowest free slot first";
        EXPECT_FALSE(pick->park);
        EXPECT_FALSE(l.Take()) << "one frame is written at a time";
        l.Written(pick->slot);
        l.Sent(pick->slot);
    }
    EXPECT_EQ(l.withReceiver(), 3u);
    auto park = l.Take();
    ASSERT_TRUE(park);
    EXPECT_TRUE(park->park);
    EXPECT_EQ(park->slot, 3u);
    l.Written(3);
    EXPECT_EQ(l.state(3), SlotLedger::Parked);
    EXPECT_FALSE(l.Unpark()) << "no room with the receiver yet";
    auto newer = l.Take();  // the parked frame is overwritten by the newer one
    ASSERT_TRUE(newer);
    EXPECT_TRUE(newer->park);
    EXPECT_EQ(newer->slot, 3u);
    l.Written(3);

    EXPECT_FALSE(l.Release(3)) << "a parked slot was never given";
    EXPECT_FALSE(l.Release(4)) << "outside the set";
    EXPECT_TRUE(l.Release(1));
    EXPECT_FALSE(l.Release(1)) << "given back twice";
    auto out = l.Unpark();
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, 3u);
    EXPECT_EQ(l.state(3), SlotLedger::Pending);

    // Dropped before it was written: the slot is free again. A frame parked when the format
    // changes is discarded; the set is idle once nothing is with the receiver.
    l.Drop(3);
    EXPECT_EQ(l.state(3), SlotLedger::Free);
    EXPECT_TRUE(l.Release(0));
    EXPECT_TRUE(l.Release(2));
    EXPECT_TRUE(l.Idle());
}

TEST(SlotLedger, AFreeSlotForANewFrameTakesOverFromAParkedOne) {
    SlotLedger l(4);
    for (int i = 0; i < 3; ++i) {
        auto pick = l.Take();
        l.Written(pick->slot);
        l.Sent(pick->slot);
    }
    auto park = l.Take();
    l.Written(park->slot);
    ASSERT_TRUE(l.Release(0));
    ASSERT_TRUE(l.Release(1));
    // Room again, and a new frame comes before the parked one was sent: the new one goes, into
    // the lowest free slot, and the parked frame (older) is given up.
    auto pick = l.Take();
    ASSERT_TRUE(pick);
    EXPECT_FALSE(pick->park);
    EXPECT_EQ(pick->slot, 0u);
    EXPECT_EQ(l.state(3), SlotLedger::Free);
    l.Written(0);
    l.Discard();
    EXPECT_FALSE(l.Unpark());
}

// The receiver's side: everything the sender says about slots is checked against what it
// announced, and older sets live on only while the receiver still holds slots of theirs.
TEST(SlotBook, FramesMustNameAFreeSlotOfTheCurrentSetThatTheirPictureFits) {
    SlotBook book;
    SharedVideoView f;
    f.video.dataSize = 4096;
    f.ref = {1, 0};
    EXPECT_FALSE(book.OnVideo(f)) << "no set yet";
    ASSERT_TRUE(book.OnSlots({1, 4, 4096}));
    EXPECT_TRUE(book.OnVideo(f));
    EXPECT_FALSE(book.OnVideo(f)) << "slot 0 is held";
    f.ref = {1, 4};
    EXPECT_FALSE(book.OnVideo(f)) << "outside the set";
    f.ref = {2, 1};
    EXPECT_FALSE(book.OnVideo(f)) << "a set never announced";
    f.ref = {1, 1};
    f.video.dataSize = 4097;
    EXPECT_FALSE(book.OnVideo(f)) << "larger than a slot";
    f.video.dataSize = 100;
    EXPECT_TRUE(book.OnVideo(f));

    EXPECT_FALSE(book.OnSlots({1, 4, 8192})) << "set ids only grow";
    ASSERT_TRUE(book.OnSlots({2, 4, 8192}));
    f.ref = {1, 2};
    EXPECT_FALSE(book.OnVideo(f)) << "the old set takes no new frames";
    EXPECT_EQ(book.liveSets(), 2u);
    EXPECT_TRUE(book.OnRelease({1, 0}));
    EXPECT_FALSE(book.OnRelease({1, 0}));
    EXPECT_FALSE(book.OnRelease({1, 3})) << "never held";
    EXPECT_TRUE(book.OnRelease({1, 1}));
    EXPECT_EQ(book.liveSets(), 1u) << "the old set goes with its last slot";
    EXPECT_FALSE(book.OnRelease({2, 40}));
}

TEST(SlotBook, ASenderCannotMakeTheReceiverKeepSetsWithoutEnd) {
    SlotBook book;
    SharedVideoView f;
    f.video.dataSize = 1;
    uint32_t id = 1;
    // Each set keeps a slot held, so none of them can go.
    for (size_t i = 0; i < kMaxLiveSets; ++i, ++id) {
        ASSERT_TRUE(book.OnSlots({id, 4, 4096}));
        f.ref = {id, 0};
        ASSERT_TRUE(book.OnVideo(f));
    }
    EXPECT_FALSE(book.OnSlots({id, 4, 4096}));
}

}  // namespace
}  // namespace velmor::wire
