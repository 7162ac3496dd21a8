#include "platform/air_send_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::ReadBytes;
using testing::TempDir;

// Sets VELMOR_AIRSEND for the life of the object.
class Destination {
public:
    explicit Destination(const std::string& path) { setenv("VELMOR_AIRSEND", path.c_str(), 1); }
    ~Destination() { unsetenv("VELMOR_AIRSEND"); }
};

bool WaitForStats(AirSend_instance_t a, uint64_t written, uint64_t dropped = 0) {
    for (int i = 0; i < 500; ++i) {
        const AirSendStats s = AirSendGetStats(a);
        if (s.framesWritten >= written && s.framesDropped >= dropped) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

TEST(AirSend, WithoutADestinationThereIsNoOutput) {
    unsetenv("VELMOR_AIRSEND");
    EXPECT_EQ(AirSend_Create(64, 36, 25, 1, true, 16.0f / 9.0f, false, 0, 0), nullptr);
}

TEST(AirSend, WritesUyvyAsPlanar422AndBgraAs444WithAlpha) {
    TempDir dir;
    const std::string path = dir.File("out.y4m");
    Destination destination(path);
    AirSend_instance_t a = AirSend_Create(4, 2, 25, 1, true, 2.0f, false, 0, 0);
    ASSERT_NE(a, nullptr);
    // Two lines of two macropixels: U Y0 V Y1.
    const uint8_t uyvy[16] = {10, 20, 30, 21, 11, 22, 31, 23, 12, 24, 32, 25, 13, 26, 33, 27};
    ASSERT_TRUE(AirSend_add_frame_ycbcr(a, uyvy, 0));
    ASSERT_TRUE(WaitForStats(a, 1));
    AirSend_Destroy(a);
    const std::string header = "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C422\nFRAME\n";
    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), header.size() + 16);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
    const std::vector<uint8_t> planes = {20, 21, 22, 23, 24, 25, 26, 27,
                                         10, 11, 12, 13, 30, 31, 32, 33};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + header.size(), bytes.end()), planes);

    a = AirSend_Create(1, 1, 30000, 1001, false, 0.0f, false, 0, 0);
    const uint8_t white[4] = {255, 255, 255, 77};
    ASSERT_TRUE(AirSend_add_frame_bgra(a, white, 0));
    ASSERT_TRUE(WaitForStats(a, 1));
    AirSend_Destroy(a);
    const std::string header444 = "YUV4MPEG2 W1 H1 F30000:1001 It A0:0 C444alpha\nFRAME\n";
    const auto bytes444 = ReadBytes(path);
    ASSERT_EQ(bytes444.size(), header444.size() + 4);
    EXPECT_EQ(std::vector<uint8_t>(bytes444.begin() + header444.size(), bytes444.end()),
              (std::vector<uint8_t>{235, 128, 128, 77}));
}

TEST(AirSend, PaddedRowsAreWrittenWithoutTheirPadding) {
    TempDir dir;
    const std::string path = dir.File("padded.y4m");
    Destination destination(path);
    AirSend_instance_t a = AirSend_Create(2, 2, 25, 1, true, 0.0f, false, 0, 0);
    ASSERT_NE(a, nullptr);
    // One macropixel a line, then four bytes of padding that must not reach the stream.
    const uint8_t uyvy[16] = {10, 20, 30, 21, 99, 99, 99, 99, 11, 22, 31, 23, 99, 99, 99, 99};
    EXPECT_FALSE(AirSend_add_frame_ycbcr(a, uyvy, 3)) << "rows shorter than the picture's";
    ASSERT_TRUE(AirSend_add_frame_ycbcr(a, uyvy, 8));
    ASSERT_TRUE(WaitForStats(a, 1));
    AirSend_Destroy(a);
    const std::string header = "YUV4MPEG2 W2 H2 F25:1 Ip A0:0 C422\nFRAME\n";
    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), header.size() + 8);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + header.size(), bytes.end()),
              (std::vector<uint8_t>{20, 21, 22, 23, 10, 11, 30, 31}));
}

TEST(AirSend, AbsentReaderNeverBlocksTheCaller) {
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Destination destination(fifo);
    AirSend_instance_t a = AirSend_Create(320, 180, 25, 1, true, 16.0f / 9.0f, false, 0, 0);
    ASSERT_NE(a, nullptr);
    std::vector<uint8_t> frame(320 * 180 * 2, 0x80);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        AirSend_add_frame_ycbcr(a, frame.data(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(WaitForStats(a, 0, 1));
    EXPECT_EQ(AirSendGetStats(a).framesWritten, 0u);
    AirSend_Destroy(a);
}

}  // namespace
}  // namespace velmor
