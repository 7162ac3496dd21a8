// velmor-testsrc: publishes a test source over NDI (the installed runtime or Velmor's built-in
// transport): colour bars, a moving box, the frame number, a tone per audio channel, metadata
// every second, and it reports tally and metadata coming back from receivers.
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ndi/ndi_library.h"
#include "test_pattern.h"

namespace {

constexpr const char* kUsage = R"USAGE(Usage: velmor-testsrc [options]
Publishes an NDI test source: colour bars, a moving box and a burnt-in frame counter.

  --name TEXT              source name (default "Velmor Test Source"); listed as "HOST (TEXT)"
  --groups TEXT            comma-separated NDI groups (default: public)
  --size WxH               picture size (default 1920x1080)
  --rate N/D               frame rate (default 60/1)
  --interlaced             send interleaved frames instead of progressive ones
  --format uyvy|bgra       pixel format; bgra carries an alpha that fades down the picture
  --audio-channels N       audio channels, 0 for none (default 2); channel c is a tone of
                           (c + 1) x 250 Hz
  --sample-rate HZ         audio sample rate (default 48000)
  --tone-swell             the tones swell from -40 to -6 dBFS and fall back, once every two
                           seconds (a meter then moves; the default is a steady -12 dBFS)
  --metadata               send a metadata frame every second
  --connection-metadata T  XML sent to every receiver when it connects
  --print-tally            print tally changes reported by receivers
  --print-metadata         print metadata sent upstream by receivers
  --silent                 publish the source but send nothing (receivers see no frames)
  --frames N               stop after N frames
  --seconds S              stop after S seconds
  --help                   show this text

Every frame carries <velmor_frame n="..."/> metadata with its number, so a sink can count gaps.
VELMOR_NDI=auto|runtime|builtin chooses the NDI library; the paths tried are printed at start.
With the built-in transport, VELMOR_NDI_LAN=1 makes the source reachable from other machines
(they find it with an extra IP); VELMOR_NDI_MULTICAST=eth0[,eth1] also announces it there.
)USAGE";

std::atomic<bool> g_stop{false};

bool ParsePair(const char* text, char sep, int& a, int& b) {
    char* end = nullptr;
    const long x = std::strtol(text, &end, 10);
    if (!end || *end != sep) return false;
    const long y = std::strtol(end + 1, &end, 10);
    if (!end || *end != 0 || x <= 0 || y <= 0 || x > 100000 || y > 100000) return false;
    a = static_cast<int>(x);
    b = static_cast<int>(y);
    return true;
}

bool ParseCount(const char* text, long& out, long max) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end && *end == 0 && out >= 0 && out <= max;
}

}  // namespace

int main(int argc, char** argv) {
    std::string name = "Velmor Test Source", groups, connectionMetadata;
    int width = 1920, height = 1080, rateN = 60, rateD = 1;
    bool interlaced = false, bgra = false, metadata = false, printTally = false,
         printMetadata = false, silent = false, swell = false;
    long channels = 2, sampleRate = 48000, maxFrames = -1, maxSeconds = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmor-testsrc: %s needs a value\n", arg.c_str());
                std::exit(1);
            }
            return argv[++i];
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--name") {
            name = value();
        } else if (arg == "--groups") {
            groups = value();
        } else if (arg == "--size") {
            ok = ParsePair(value(), 'x', width, height) && width % 2 == 0 && width <= 8192 &&
                 height <= 8192;
        } else if (arg == "--rate") {
            ok = ParsePair(value(), '/', rateN, rateD);
        } else if (arg == "--interlaced") {
            interlaced = true;
        } else if (arg == "--format") {
            const std::string f = value();
            ok = f == "uyvy" || f == "bgra";
            bgra = f == "bgra";
        } else if (arg == "--audio-channels") {
            ok = ParseCount(value(), channels, 64);
        } else if (arg == "--sample-rate") {
            ok = ParseCount(value(), sampleRate, 384000) && sampleRate >= 8000;
        } else if (arg == "--tone-swell") {
            swell = true;
        } else if (arg == "--metadata") {
            metadata = true;
        } else if (arg == "--connection-metadata") {
            connectionMetadata = value();
        } else if (arg == "--print-tally") {
            printTally = true;
        } else if (arg == "--print-metadata") {
            printMetadata = true;
        } else if (arg == "--silent") {
            silent = true;
        } else if (arg == "--frames") {
            ok = ParseCount(value(), maxFrames, 1L << 40);
        } else if (arg == "--seconds") {
            ok = ParseCount(value(), maxSeconds, 1L << 30);
        } else {
            std::fprintf(stderr, "velmor-testsrc: unknown option %s (see --help)\n", arg.c_str());
            return 1;
        }
        if (!ok) {
            std::fprintf(stderr, "velmor-testsrc: bad value for %s (see --help)\n", arg.c_str());
            return 1;
        }
    }

    auto lib = velmor::LoadNdiLibrary();
    for (const auto& line : lib.log)
        std::fprintf(stderr, "%s\n", line.c_str());
    if (!lib.ok) {
        std::fprintf(stderr, "velmor-testsrc: %s\n", lib.error.c_str());
        return 2;
    }
    const velmor::NdiLibrary& ndi = lib.api;
    if (!ndi.initialize()) {
        std::fprintf(stderr, "velmor-testsrc: the NDI library cannot start on this CPU\n");
        return 2;
    }
    std::signal(SIGINT, [](int) { g_stop = true; });
    std::signal(SIGTERM, [](int) { g_stop = true; });

    NDIlib_send_create_t create{name.c_str(), groups.empty() ? nullptr : groups.c_str(), true,
                                false};
    NDIlib_send_instance_t sender = ndi.send_create(&create);
    if (!sender) {
        std::fprintf(stderr, "velmor-testsrc: cannot create the source \"%s\"\n", name.c_str());
        return 2;
    }
    if (!connectionMetadata.empty()) {
        NDIlib_metadata_frame_t m{0, 0, connectionMetadata.data()};
        ndi.send_add_connection_metadata(sender, &m);
    }
    std::printf("publishing \"%s\" %dx%d %s %d/%d %s, %ld audio channels at %ld Hz\n", name.c_str(),
                width, height, bgra ? "BGRA" : "UYVY", rateN, rateD,
                interlaced ? "interlaced" : "progressive", channels, sampleRate);
    std::fflush(stdout);

    if (silent) {
        const auto start = std::chrono::steady_clock::now();
        while (!g_stop && (maxSeconds < 0 || std::chrono::steady_clock::now() - start <
                                                 std::chrono::seconds(maxSeconds)))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ndi.send_destroy(sender);
        ndi.destroy();
        std::printf("sent 0 frames\n");
        return 0;
    }

    const velmor::testsrc::TestPattern pattern(width, height, bgra);
    std::vector<uint8_t> buffers[2];
    std::vector<float> audio;
    double audioPhase = 0;
    int64_t samplesSent = 0;
    NDIlib_tally_t lastTally{};
    const auto start = std::chrono::steady_clock::now();
    uint64_t frame = 0;
    std::string frameMetas[2];
    for (; !g_stop; ++frame) {
        if (maxFrames >= 0 && frame >= static_cast<uint64_t>(maxFrames)) break;
        if (maxSeconds >= 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::seconds(maxSeconds))
            break;
        // Two buffers: the async send keeps the previous one until this call returns, and with it
        // the previous frame's metadata text.
        auto& buf = buffers[frame % 2];
        pattern.Render(frame, buf);
        std::string& frameMeta = frameMetas[frame % 2];
        frameMeta = "<velmor_frame n=\"" + std::to_string(frame) + "\"/>";
        NDIlib_video_frame_v2_t v{};
        v.xres = width;
        v.yres = height;
        v.FourCC = bgra ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_UYVY;
        v.frame_rate_N = rateN;
        v.frame_rate_D = rateD;
        v.picture_aspect_ratio = static_cast<float>(width) / static_cast<float>(height);
        v.frame_format_type = interlaced ? NDIlib_frame_format_type_interleaved
                                         : NDIlib_frame_format_type_progressive;
        v.timecode = NDIlib_send_timecode_synthesize;
        v.p_data = buf.data();
        v.line_stride_in_bytes = pattern.stride();
        v.p_metadata = frameMeta.c_str();

        if (channels > 0) {
            // Exactly as many samples as the frames so far call for, so audio never drifts.
            const int64_t due = static_cast<int64_t>(frame + 1) * sampleRate * rateD / rateN;
            const int samples = static_cast<int>(due - samplesSent);
            audio.assign(static_cast<size_t>(samples) * channels, 0.0f);
            // A swell: the level in dB follows a triangle of two seconds.
            double level = 0.25;
            if (swell) {
                const double t = std::fmod(static_cast<double>(audioPhase) / sampleRate, 2.0);
                level = std::pow(10.0, (-40.0 + 34.0 * (t < 1.0 ? t : 2.0 - t)) / 20.0);
            }
            for (long c = 0; c < channels; ++c)
                for (int s = 0; s < samples; ++s)
                    audio[c * samples + s] = static_cast<float>(
                        level * std::sin(2 * M_PI * 250.0 * (c + 1) * (audioPhase + s) /
                                         static_cast<double>(sampleRate)));
            audioPhase += samples;
            samplesSent = due;
            if (samples > 0) {
                NDIlib_audio_frame_v2_t a{static_cast<int>(sampleRate),
                                          static_cast<int>(channels),
                                          samples,
                                          NDIlib_send_timecode_synthesize,
                                          audio.data(),
                                          samples * 4,
                                          nullptr,
                                          0};
                ndi.send_send_audio_v2(sender, &a);
            }
        }
        if (metadata && frame % std::max(1, rateN / rateD) == 0) {
            std::string text = "<velmor_testsrc second=\"" +
                               std::to_string(frame / std::max(1, rateN / rateD)) + "\"/>";
            NDIlib_metadata_frame_t m{static_cast<int>(text.size() + 1),
                                      NDIlib_send_timecode_synthesize, text.data()};
            ndi.send_send_metadata(sender, &m);
        }
        ndi.send_send_video_async_v2(sender, &v);  // paced to the frame rate

        NDIlib_tally_t tally{};
        if (ndi.send_get_tally(sender, &tally, 0) && printTally &&
            (tally.on_program != lastTally.on_program ||
             tally.on_preview != lastTally.on_preview)) {
            std::printf("tally: program=%d preview=%d\n", tally.on_program, tally.on_preview);
            std::fflush(stdout);
            lastTally = tally;
        }
        NDIlib_metadata_frame_t up{};
        while (ndi.send_capture(sender, &up, 0) == NDIlib_frame_type_metadata) {
            if (printMetadata && up.p_data) {
                std::printf("metadata from receiver: %s\n", up.p_data);
                std::fflush(stdout);
            }
            ndi.send_free_metadata(sender, &up);
        }
    }
    ndi.send_send_video_async_v2(sender, nullptr);  // the last buffer comes back first
    ndi.send_destroy(sender);
    ndi.destroy();
    std::printf("sent %llu frames\n", static_cast<unsigned long long>(frame));
    return 0;
}
