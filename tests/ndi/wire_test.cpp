// The stream format: what a sender writes, a receiver reads back, and what hostile bytes cannot do.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "ndi/builtin/convert.h"
#include "ndi/builtin/wire.h"

namespace velmor::wire {
namespace {

// Splits an encoded message into header and payload, checking the header on the way.
bool Split(const Message& m, Header& h, const uint8_t*& payload) {
    if (!m || m->size() < kHeaderSize || !ParseHeader(m->data(), h)) return false;
    payload = m->data() + kHeaderSize;
    return h.length == m->size() - kHeaderSize;
}

TEST(Wire, EveryMessageRoundTrips) {
    // UYVA: a UYVY plane (rows padded to 40 bytes) then the alpha plane.
    std::vector<uint8_t> pixels(40 * 3 + 16 * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i);
    NDIlib_video_frame_v2_t f{};
    f.xres = 16;
    f.yres = 3;
    f.FourCC = NDIlib_FourCC_video_type_UYVA;
    f.frame_rate_N = 30000;
    f.frame_rate_D = 1001;
    f.frame_format_type = NDIlib_frame_format_type_interleaved;
    f.p_data = pixels.data();
    f.line_stride_in_bytes = 40;
    f.p_metadata = "<m/>";
    Header h;
    const uint8_t* p;
    auto video = EncodeVideo(f, 123, 456);
    ASSERT_TRUE(Split(video, h, p));
    VideoView v;
    ASSERT_TRUE(ParseVideo(p, h.length, v));
    EXPECT_EQ(v.xres, 16);
    EXPECT_EQ(v.formatType, NDIlib_frame_format_type_interleaved);
    EXPECT_EQ(v.timecode, 123);
    EXPECT_EQ(v.timestamp, 456);
    EXPECT_EQ(v.metadata, "<m/>");
    ASSERT_EQ(v.dataSize, 16u * 2 * 3 + 16 * 3);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(v.data + 32 * y, &pixels[40 * y], 32), 0);
    EXPECT_EQ(std::memcmp(v.data + 96, &pixels[120], 48), 0);  // alpha plane

    std::vector<float> samples = {1, 2, 3, 99, 4, 5, 6, 99};  // stride of 4 floats, 3 used
    NDIlib_audio_frame_v2_t a{48000, 2, 3, 7, samples.data(), 16, nullptr, 0};
    AudioView av;
    auto audio = EncodeAudio(a, 7, 8);
    ASSERT_TRUE(Split(audio, h, p));
    ASSERT_TRUE(ParseAudio(p, h.length, av));
    float got[6];
    std::memcpy(got, av.data, sizeof got);
    EXPECT_EQ(std::vector<float>(got, got + 6), (std::vector<float>{1, 2, 3, 4, 5, 6}));

    MetadataView mv;
    auto meta = EncodeMetadata("<x/>", 9);
    ASSERT_TRUE(Split(meta, h, p));
    ASSERT_TRUE(ParseMetadata(p, h.length, mv));
    EXPECT_EQ(mv.text, "<x/>");

    Hello hello;
    hello.name = "receiver";
    hello.bandwidth = NDIlib_recv_bandwidth_audio_only;
    Hello back;
    auto helloMessage = EncodeHello(hello);
    ASSERT_TRUE(Split(helloMessage, h, p));
    ASSERT_TRUE(ParseHello(p, h.length, back));
    EXPECT_EQ(back.name, "receiver");
    EXPECT_EQ(back.bandwidth, NDIlib_recv_bandwidth_audio_only);

    TallyView t;
    auto tally = EncodeTally(false, true);
    ASSERT_TRUE(Split(tally, h, p));
    ASSERT_TRUE(ParseTally(p, h.length, t));
    EXPECT_TRUE(t.onPreview && !t.onProgram);
}

TEST(Wire, SenderRefusesFramesItCannotCarry) {
    std::vector<uint8_t> pixels(64);
    NDIlib_video_frame_v2_t ok{};
    ok.xres = 4;
    ok.yres = 2;
    ok.FourCC = NDIlib_FourCC_video_type_UYVY;
    ok.frame_rate_N = 25;
    ok.frame_rate_D = 1;
    ok.p_data = pixels.data();
    ASSERT_NE(EncodeVideo(ok, 0, 0), nullptr);
    auto bad = [&](auto change) {
        auto f = ok;
        change(f);
        return EncodeVideo(f, 0, 0) == nullptr;
    };
    EXPECT_TRUE(bad([](auto& f) { f.p_data = nullptr; }));
    EXPECT_TRUE(bad([](auto& f) { f.xres = 3; }));  // splits a UYVY pair
    EXPECT_TRUE(bad([](auto& f) { f.xres = 8194; }));
    EXPECT_TRUE(bad([](auto& f) { f.yres = 0; }));
    EXPECT_TRUE(bad([](auto& f) { f.line_stride_in_bytes = 6; }));  // shorter than a row
    EXPECT_TRUE(bad([](auto& f) { f.FourCC = NDIlib_FourCC_video_type_NV12; }));
    EXPECT_TRUE(bad([](auto& f) { f.frame_rate_D = 0; }));
}

// A valid video message whose fields the cases below then corrupt one at a time.
std::vector<uint8_t> VideoPayload() {
    std::vector<uint8_t> pixels(8 * 2 * 2);
    NDIlib_video_frame_v2_t f{};
    f.xres = 8;
    f.yres = 2;
    f.FourCC = NDIlib_FourCC_video_type_UYVY;
    f.frame_rate_N = 25;
    f.frame_rate_D = 1;
    f.p_data = pixels.data();
    auto m = EncodeVideo(f, 0, 0);
    return std::vector<uint8_t>(m->begin() + kHeaderSize, m->end());
}

template <typename T>
void Put(std::vector<uint8_t>& b, size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v);
}

TEST(Wire, HostileVideoFieldsAreRefused) {
    struct Case {
        const char* what;
        size_t offset;
        int32_t value;
    } cases[] = {
        {"zero width", 0, 0},
        {"negative width", 0, -2},
        {"width above 8192", 0, 8194},
        {"height above 8192", 4, 8193},
        {"width times height overflowing 32 bits", 0, 0x7ffffffe},
        {"unknown FourCC", 8, 0x3231564e},
        {"zero frame rate", 12, 0},
        {"negative denominator", 16, -1},
        {"format type 7", 24, 7},
        {"metadata longer than the message", 44, 1000},
        {"metadata above the limit", 44, int32_t(kMaxMetadata + 1)},
    };
    VideoView v;
    auto good = VideoPayload();
    ASSERT_TRUE(ParseVideo(good.data(), good.size(), v));
    for (const auto& c : cases) {
        auto b = good;
        Put(b, c.offset, c.value);
        EXPECT_FALSE(ParseVideo(b.data(), b.size(), v)) << c.what;
    }
    auto nan = good;
    Put(nan, 20, std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(ParseVideo(nan.data(), nan.size(), v)) << "NaN aspect ratio";
    // Picture bytes must match the announced size exactly.
    for (size_t cut : {size_t(1), good.size() - 40, good.size()})
        EXPECT_FALSE(ParseVideo(good.data(), good.size() - cut, v)) << cut;
    good.push_back(0);
    EXPECT_FALSE(ParseVideo(good.data(), good.size(), v));
}

TEST(Wire, FixedFieldsMustAccountForTheWholeLengthBeforeAnythingIsAllocated) {
    auto good = VideoPayload();
    Header h{MessageType::Video, static_cast<uint32_t>(good.size())};
    ASSERT_EQ(PrefixSize(h), 48u);
    EXPECT_TRUE(PrefixAgrees(h, good.data()));
    // A header that promises more (or less) than the picture it describes.
    for (uint32_t length : {uint32_t(good.size() + 1), uint32_t(good.size() - 1), 256u << 20}) {
        Header lie{MessageType::Video, length};
        EXPECT_FALSE(PrefixAgrees(lie, good.data())) << length;
    }
    auto huge = good;
    Put(huge, 0, int32_t(8192));
    Put(huge, 4, int32_t(8192));  // allowed size, but not what the length says
    EXPECT_FALSE(PrefixAgrees(h, huge.data()));
    Header tally{MessageType::Tally, 2};
    EXPECT_EQ(PrefixSize(tally), 0u);
}

TEST(Wire, HostileHeadersAndSmallMessagesAreRefused) {
    auto header = [](uint32_t magic, uint32_t type, uint32_t length) {
        std::vector<uint8_t> b(kHeaderSize);
        Put(b, 0, magic);
        Put(b, 4, type);
        Put(b, 8, length);
        return b;
    };
    Header h;
    EXPECT_TRUE(ParseHeader(header(kMagic, 2, 1000).data(), h));
    EXPECT_FALSE(ParseHeader(header(kMagic + 1, 2, 10).data(), h));
    EXPECT_FALSE(ParseHeader(header(kMagic, 0, 10).data(), h));
    EXPECT_FALSE(ParseHeader(header(kMagic, kLastMessageType + 1, 10).data(), h));
    EXPECT_FALSE(ParseHeader(header(kMagic, 5, 3).data(), h));  // tally is 2 bytes
    EXPECT_FALSE(ParseHeader(header(kMagic, 4, uint32_t(kMaxMetadata + 13)).data(), h));
    EXPECT_FALSE(ParseHeader(header(kMagic, 2, 0xffffffffu).data(), h));

    AudioView a;
    std::vector<uint8_t> audio(28 + 4 + 8);
    Put(audio, 0, int32_t(48000));
    Put(audio, 4, int32_t(kMaxChannels + 1));
    Put(audio, 8, int32_t(1));
    EXPECT_FALSE(ParseAudio(audio.data(), audio.size(), a)) << "too many channels";
    Put(audio, 4, int32_t(2));
    EXPECT_TRUE(ParseAudio(audio.data(), audio.size(), a));
    Put(audio, 8, int32_t(0x40000000));  // channels x samples x 4 would overflow 32 bits
    EXPECT_FALSE(ParseAudio(audio.data(), audio.size(), a));

    MetadataView m;
    auto meta = EncodeMetadata("ab", 0);
    std::vector<uint8_t> b(meta->begin() + kHeaderSize, meta->end());
    b[12] = 0;  // a NUL inside the text
    EXPECT_FALSE(ParseMetadata(b.data(), b.size(), m));

    TallyView t;
    const uint8_t tally[2] = {2, 0};
    EXPECT_FALSE(ParseTally(tally, 2, t));
}

TEST(Wire, MetadataTextStopsAtLengthOrNul) {
    char text[] = "<abc/>\0tail";
    EXPECT_EQ(MetadataText({0, 0, text}), "<abc/>");
    EXPECT_EQ(MetadataText({4, 0, text}), "<abc");  // no terminator within length
    EXPECT_EQ(MetadataText({100, 0, text}), "<abc/>");
    EXPECT_EQ(MetadataText({5, 0, nullptr}), "");
}

TEST(Convert, DeliveredFourCCFollowsTheColourFormat) {
    using F = NDIlib_recv_color_format_e;
    const uint32_t UYVY = NDIlib_FourCC_video_type_UYVY, UYVA = NDIlib_FourCC_video_type_UYVA,
                   BGRA = NDIlib_FourCC_video_type_BGRA, BGRX = NDIlib_FourCC_video_type_BGRX,
                   RGBA = NDIlib_FourCC_video_type_RGBA, RGBX = NDIlib_FourCC_video_type_RGBX;
    struct Case {
        F format;
        uint32_t sent, got;
    } cases[] = {
        {NDIlib_recv_color_format_UYVY_BGRA, RGBX, UYVY},
        {NDIlib_recv_color_format_UYVY_BGRA, UYVA, BGRA},
        {NDIlib_recv_color_format_BGRX_BGRA, UYVY, BGRX},
        {NDIlib_recv_color_format_RGBX_RGBA, UYVA, RGBA},
        {NDIlib_recv_color_format_UYVY_RGBA, BGRX, UYVY},
        {NDIlib_recv_color_format_UYVY_RGBA, BGRA, RGBA},
        {NDIlib_recv_color_format_best, UYVA, UYVA},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeliveredFourCC(c.format, c.sent), c.got) << c.format;
}

TEST(Convert, Bt601StudioRangeBothWays) {
    // Black, white and saturated red, blue in UYVY (two equal pixels each).
    struct Case {
        uint8_t u, y, v;
        uint8_t r, g, b;
    } cases[] = {
        {128, 16, 128, 0, 0, 0},
        {128, 235, 128, 255, 255, 255},
        {90, 81, 240, 255, 0, 0},
        {240, 41, 110, 0, 0, 255},
    };
    for (const auto& c : cases) {
        const uint8_t uyvy[4] = {c.u, c.y, c.v, c.y};
        std::vector<uint8_t> bgra;
        ASSERT_TRUE(ConvertPicture(NDIlib_FourCC_video_type_UYVY, uyvy, 2, 1,
                                   NDIlib_FourCC_video_type_BGRA, bgra));
        EXPECT_NEAR(bgra[0], c.b, 2);
        EXPECT_NEAR(bgra[1], c.g, 2);
        EXPECT_NEAR(bgra[2], c.r, 2);
        EXPECT_EQ(bgra[3], 255);
        std::vector<uint8_t> back;
        ASSERT_TRUE(ConvertPicture(NDIlib_FourCC_video_type_BGRA, bgra.data(), 2, 1,
                                   NDIlib_FourCC_video_type_UYVY, back));
        EXPECT_NEAR(back[0], c.u, 2);
        EXPECT_NEAR(back[1], c.y, 2);
        EXPECT_NEAR(back[2], c.v, 2);
    }
}

TEST(Convert, AlphaSurvivesAndChannelsSwap) {
    // UYVA: the alpha plane becomes the alpha byte of each pixel.
    const uint8_t uyva[4 + 2] = {128, 235, 128, 16, 10, 200};
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(ConvertPicture(NDIlib_FourCC_video_type_UYVA, uyva, 2, 1,
                               NDIlib_FourCC_video_type_RGBA, rgba));
    EXPECT_EQ(rgba[3], 10);
    EXPECT_EQ(rgba[7], 200);
    EXPECT_EQ(rgba[0], 255);
    EXPECT_EQ(rgba[4], 0);
    const uint8_t bgra[4] = {1, 2, 3, 4};
    std::vector<uint8_t> out;
    ASSERT_TRUE(ConvertPicture(NDIlib_FourCC_video_type_BGRA, bgra, 1, 1,
                               NDIlib_FourCC_video_type_RGBA, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 2, 1, 4}));
    ASSERT_TRUE(ConvertPicture(NDIlib_FourCC_video_type_BGRX, bgra, 1, 1,
                               NDIlib_FourCC_video_type_RGBA, out));
    EXPECT_EQ(out[3], 255);  // X carries no alpha
    EXPECT_FALSE(ConvertPicture(NDIlib_FourCC_video_type_BGRA, bgra, 1, 1,
                                NDIlib_FourCC_video_type_UYVA, out));
}

}  // namespace
}  // namespace velmor::wire
