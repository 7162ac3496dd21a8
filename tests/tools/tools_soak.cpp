// The long run: 1080p60 video with audio and metadata from velmor-testsrc to velmor-sink for ten
// seconds without a dropped frame. It runs on its own (RUN_SERIAL), as on an idle machine.
#include "tools_fixture.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::kSanitized;
using test::Process;
using test::Tools;

TEST_F(Tools, TenSecondsOfVideoAudioAndMetadataWithoutADrop) {
    // 1080p60 on a plain build; sanitizers slow everything several times, so they get a smaller
    // picture through the same path.
    const std::string size = kSanitized ? "640x360" : "1920x1080";
    const std::string rate = kSanitized ? "30/1" : "60/1";
    const int fps = kSanitized ? 30 : 60;
    const std::string name = Name("ten");
    Process src(VELMOR_TESTSRC,
                {"--name", name, "--size", size, "--rate", rate, "--metadata", "--seconds", "14"});
    Process sink(VELMOR_SINK,
                 {"--source", name, "--seconds", "10", "--expect-no-drops", "--print-metadata"});
    ASSERT_EQ(sink.Wait(20s), 0) << sink.Output();
    EXPECT_TRUE(sink.OutputHas("format: " + size + " UYVY " + rate + " progressive"));
    EXPECT_TRUE(sink.OutputHas("audio format: 48000 Hz, 2 channels"));
    EXPECT_TRUE(sink.OutputHas("metadata: <velmor_testsrc second="));
    EXPECT_EQ(Total(sink, "dropped"), 0);
    EXPECT_GE(Total(sink, "frames"), fps * 10 - fps / 2);
    EXPECT_GE(Total(sink, "audio samples"), 48000 * 9);
    src.Kill(SIGTERM);
    EXPECT_EQ(src.Wait(5s), 0);
}

}  // namespace
}  // namespace velmor
