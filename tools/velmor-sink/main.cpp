// velmor-sink: finds an NDI source by name (or address), receives it and reports what arrives:
// format changes, per-second statistics, gaps in the test source's frame counter, tally and
// metadata. It can save frames and audio, and exits with a status that scripts can test.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ndi/ndi_library.h"
#include "probe_list.h"

namespace {

constexpr const char* kUsage = R"USAGE(Usage: velmor-sink [options]
Receives one NDI source and reports what arrives.

  --source NAME            the source to receive: its full name "HOST (name)" or just "name"
  --address IP:PORT        connect to this address instead of looking the name up
  --groups TEXT            groups to search (default: public)
  --extra-ips LIST         comma-separated addresses of other machines to ask for sources
  --hide-local             do not list sources of this machine
  --find-timeout S         give up when the source is not found within S seconds (default 10)
  --list                   print the sources found after --find-timeout seconds and exit
  --probe                  with --list: probe every source found (as Velmor's "NDI Sources
                           Found" window does) and print its resolution, rate, aspect, alpha,
                           audio and address; waits up to --find-timeout for a first source
  --probe-timeout short|long  how long one source may take: 2.5 s (default) or 7.5 s
  --color-format N         0 BGRX/BGRA, 1 UYVY/BGRA (default), 2 RGBX/RGBA, 3 UYVY/RGBA, 100 as sent
  --progressive            ask for progressive frames only
  --tally program|preview|both|none   tally to set on the source once connected
  --connection-metadata T  XML sent to the source on connecting
  --print-metadata         print every metadata frame received
  --print-checksums        print a checksum of every video frame's picture ("frame N: WxH HASH")
  --save-frames N          save the first N video frames as raw files in --save-dir
  --save-audio             save the audio as a 32-bit float WAV file in --save-dir
  --save-dir DIR           folder for saved files (default .)
  --frames N               exit after N video frames
  --seconds S              exit after S seconds
  --expect-no-drops        fail when the frame counter of velmor-testsrc shows a gap
  --delay-log FILE         write a line per video and audio frame: "V counter arrival timecode
                           timestamp" or "A samples arrival timecode timestamp", times in the
                           100 ns units of NDI on the wall clock; arrival minus timecode is a
                           frame's delay behind the source (whose timecodes are its send times)
                           (SIGINT or SIGTERM end the run early, with the closing line)

The closing "total:" line also gives the largest time between two video frames after the
first 30, as they arrived and as their timestamps (the sender's send times) say.
  --help                   show this text

VELMOR_NDI=auto|runtime|builtin chooses the NDI library; the paths tried are printed at start.
With the built-in transport, VELMOR_NDI_MULTICAST=eth0[,eth1] also listens for sources announced
by multicast on those interfaces.

Exit status: 0 success; 1 bad options; 2 no NDI library or source not found; 3 fewer frames
than --frames arrived within --seconds (or none at all); 4 frames were dropped (with
--expect-no-drops).
)USAGE";

bool ParseCount(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end && *end == 0 && out >= 0;
}

// The number in <velmor_frame n="..."/>, or -1.
long long FrameNumber(const char* meta) {
    if (!meta) return -1;
    const char* at = std::strstr(meta, "<velmor_frame n=\"");
    if (!at) return -1;
    char* end = nullptr;
    const long long n = std::strtoll(at + 17, &end, 10);
    return (end && *end == '"') ? n : -1;
}

const char* FourCCText(uint32_t f, char (&buf)[5]) {
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((f >> (8 * i)) & 0xff);
        buf[i] = (c >= 32 && c < 127) ? c : '?';
    }
    buf[4] = 0;
    return buf;
}

// FNV-1a (64 bits) of the picture's visible bytes, row by row (the stride's padding left out).
uint64_t PictureHash(const NDIlib_video_frame_v2_t& v, size_t rowBytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (int y = 0; y < v.yres; ++y) {
        const uint8_t* row = reinterpret_cast<const uint8_t*>(v.p_data) +
                             static_cast<size_t>(y) * v.line_stride_in_bytes;
        for (size_t x = 0; x < rowBytes; ++x)
            h = (h ^ row[x]) * 0x100000001b3ull;
    }
    return h;
}

void WriteWavHeader(std::ofstream& out, int rate, int channels, uint32_t dataBytes) {
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.seekp(0);
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(3);  // IEEE float
    u16(static_cast<uint16_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 4));
    u16(static_cast<uint16_t>(channels * 4));
    u16(32);
    out.write("data", 4);
    u32(dataBytes);
}

}  // namespace

// The --delay-log file: one line per frame, written by the video and the audio thread.
class DelayLog {
public:
    ~DelayLog() {
        if (file_) std::fclose(file_);
    }
    bool Open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "w");
        return file_ != nullptr;
    }
    void Add(char kind, long long number, int64_t timecode, int64_t timestamp) {
        if (!file_) return;
        const int64_t arrival = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count() /
                                100;
        std::lock_guard lock(mu_);
        std::fprintf(file_, "%c %lld %lld %lld %lld\n", kind, number,
                     static_cast<long long>(arrival), static_cast<long long>(timecode),
                     static_cast<long long>(timestamp));
        // Flushed every line: the tests read it while the sink runs and after SIGTERM.
        std::fflush(file_);
    }

private:
    std::mutex mu_;
    std::FILE* file_ = nullptr;
};

// SIGINT and SIGTERM end the run as --frames and --seconds do, with the closing line.
std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

int main(int argc, char** argv) {
    std::string source, address, groups, extraIps, tallyText = "none", connectionMetadata,
                                                   saveDir = ".", delayLogPath;
    bool hideLocal = false, list = false, progressive = false, printMetadata = false,
         printChecksums = false, saveAudio = false, expectNoDrops = false, probe = false,
         longProbe = false;
    long findTimeout = 10, colorFormat = 1, saveFrames = 0, maxFrames = -1, maxSeconds = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmor-sink: %s needs a value\n", arg.c_str());
                std::exit(1);
            }
            return argv[++i];
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--source") {
            source = value();
        } else if (arg == "--address") {
            address = value();
        } else if (arg == "--groups") {
            groups = value();
        } else if (arg == "--extra-ips") {
            extraIps = value();
        } else if (arg == "--hide-local") {
            hideLocal = true;
        } else if (arg == "--find-timeout") {
            ok = ParseCount(value(), findTimeout);
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--probe") {
            probe = true;
        } else if (arg == "--probe-timeout") {
            const std::string t = value();
            ok = t == "short" || t == "long";
            longProbe = t == "long";
        } else if (arg == "--color-format") {
            ok = ParseCount(value(), colorFormat) &&
                 (colorFormat <= 3 || colorFormat == 100 || colorFormat == 101);
        } else if (arg == "--progressive") {
            progressive = true;
        } else if (arg == "--tally") {
            tallyText = value();
            ok = tallyText == "program" || tallyText == "preview" || tallyText == "both" ||
                 tallyText == "none";
        } else if (arg == "--connection-metadata") {
            connectionMetadata = value();
        } else if (arg == "--print-metadata") {
            printMetadata = true;
        } else if (arg == "--print-checksums") {
            printChecksums = true;
        } else if (arg == "--save-frames") {
            ok = ParseCount(value(), saveFrames);
        } else if (arg == "--save-audio") {
            saveAudio = true;
        } else if (arg == "--save-dir") {
            saveDir = value();
        } else if (arg == "--frames") {
            ok = ParseCount(value(), maxFrames);
        } else if (arg == "--seconds") {
            ok = ParseCount(value(), maxSeconds);
        } else if (arg == "--expect-no-drops") {
            expectNoDrops = true;
        } else if (arg == "--delay-log") {
            delayLogPath = value();
        } else {
            std::fprintf(stderr, "velmor-sink: unknown option %s (see --help)\n", arg.c_str());
            return 1;
        }
        if (!ok) {
            std::fprintf(stderr, "velmor-sink: bad value for %s (see --help)\n", arg.c_str());
            return 1;
        }
    }
    if (probe && !list) {
        std::fprintf(stderr, "velmor-sink: --probe goes with --list\n");
        return 1;
    }
    if (source.empty() && address.empty() && !list) {
        std::fprintf(stderr, "velmor-sink: give --source NAME, --address IP:PORT or --list\n");
        return 1;
    }

    auto lib = velmor::LoadNdiLibrary();
    for (const auto& line : lib.log)
        std::fprintf(stderr, "%s\n", line.c_str());
    if (!lib.ok) {
        std::fprintf(stderr, "velmor-sink: %s\n", lib.error.c_str());
        return 2;
    }
    const velmor::NdiLibrary& ndi = lib.api;
    if (!ndi.initialize()) return 2;
    if (probe) {
        const velmor::sink::ProbeListOptions options{groups, extraIps, hideLocal, longProbe,
                                                     findTimeout};
        const int status = velmor::sink::PrintProbedSources(ndi, options);
        ndi.destroy();
        return status;
    }

    // Find the source: by full name, or by the part in parentheses.
    std::string foundName, foundUrl = address;
    if (!source.empty() || list) {
        NDIlib_find_create_t fc{!hideLocal, groups.empty() ? nullptr : groups.c_str(),
                                extraIps.empty() ? nullptr : extraIps.c_str()};
        NDIlib_find_instance_t finder = ndi.find_create_v2(&fc);
        if (!finder) return 2;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(findTimeout);
        while (true) {
            uint32_t n = 0;
            const NDIlib_source_t* s = ndi.find_get_current_sources(finder, &n);
            for (uint32_t i = 0; i < n && !list; ++i) {
                const std::string name = s[i].p_ndi_name ? s[i].p_ndi_name : "";
                const bool match =
                    name == source ||
                    (name.size() > source.size() + 3 &&
                     name.compare(name.size() - source.size() - 1, source.size(), source) == 0 &&
                     name.compare(name.size() - source.size() - 3, 2, " (") == 0 &&
                     name.back() == ')');
                if (match) {
                    foundName = name;
                    foundUrl = s[i].p_url_address ? s[i].p_url_address : "";
                }
            }
            if (!foundName.empty() || std::chrono::steady_clock::now() >= deadline) {
                if (list) {
                    for (uint32_t i = 0; i < n; ++i)
                        std::printf("source: %s at %s\n", s[i].p_ndi_name,
                                    s[i].p_url_address ? s[i].p_url_address : "");
                }
                break;
            }
            ndi.find_wait_for_sources(finder, 100);
        }
        ndi.find_destroy(finder);
        if (list) return 0;
        if (foundName.empty()) {
            std::fprintf(stderr, "velmor-sink: source \"%s\" not found within %ld s\n",
                         source.c_str(), findTimeout);
            return 2;
        }
    }
    std::printf("found \"%s\" at %s\n", foundName.c_str(), foundUrl.c_str());
    std::fflush(stdout);

    NDIlib_recv_create_v3_t rc{};
    rc.source_to_connect_to.p_ndi_name = foundName.empty() ? nullptr : foundName.c_str();
    rc.source_to_connect_to.p_url_address = foundUrl.empty() ? nullptr : foundUrl.c_str();
    rc.color_format = static_cast<NDIlib_recv_color_format_e>(colorFormat);
    rc.bandwidth = NDIlib_recv_bandwidth_highest;
    rc.allow_video_fields = !progressive;
    rc.p_ndi_recv_name = "velmor-sink";
    NDIlib_recv_instance_t recv = ndi.recv_create_v3(&rc);
    if (!recv) {
        std::fprintf(stderr, "velmor-sink: cannot create a receiver\n");
        return 2;
    }
    if (!connectionMetadata.empty()) {
        NDIlib_metadata_frame_t m{0, 0, connectionMetadata.data()};
        ndi.recv_add_connection_metadata(recv, &m);
    }
    if (tallyText != "none") {
        NDIlib_tally_t t{tallyText == "program" || tallyText == "both",
                         tallyText == "preview" || tallyText == "both"};
        ndi.recv_set_tally(recv, &t);
    }

    std::error_code ec;
    if (saveFrames > 0 || saveAudio) std::filesystem::create_directories(saveDir, ec);

    // Audio on its own thread, as Velmor captures it.
    std::atomic<bool> stop{false};
    std::atomic<long long> audioSamples{0};
    std::mutex printMu;
    DelayLog delayLog;
    if (!delayLogPath.empty() && !delayLog.Open(delayLogPath)) {
        std::fprintf(stderr, "velmor-sink: cannot write %s\n", delayLogPath.c_str());
        ndi.recv_destroy(recv);
        ndi.destroy();
        return 1;
    }
    std::thread audioThread([&] {
        std::ofstream wav;
        uint32_t wavBytes = 0;
        int wavRate = 0, wavChannels = 0;
        int lastRate = 0, lastChannels = 0;
        std::vector<float> interleaved;
        while (!stop) {
            NDIlib_audio_frame_v2_t a{};
            if (ndi.recv_capture_v2(recv, nullptr, &a, nullptr, 100) != NDIlib_frame_type_audio)
                continue;
            if (a.sample_rate != lastRate || a.no_channels != lastChannels) {
                std::lock_guard lock(printMu);
                std::printf("audio format: %d Hz, %d channels\n", a.sample_rate, a.no_channels);
                std::fflush(stdout);
                lastRate = a.sample_rate;
                lastChannels = a.no_channels;
            }
            delayLog.Add('A', a.no_samples, a.timecode, a.timestamp);
            audioSamples += a.no_samples;
            if (saveAudio && a.p_data) {
                if (!wav.is_open()) {
                    wav.open(saveDir + "/audio.wav", std::ios::binary | std::ios::trunc);
                    wavRate = a.sample_rate;
                    wavChannels = a.no_channels;
                    WriteWavHeader(wav, wavRate, wavChannels, 0);
                }
                if (a.no_channels == wavChannels && wavBytes < 0x7fff0000u) {
                    interleaved.resize(static_cast<size_t>(a.no_samples) * a.no_channels);
                    for (int s = 0; s < a.no_samples; ++s)
                        for (int c = 0; c < a.no_channels; ++c)
                            interleaved[static_cast<size_t>(s) * a.no_channels + c] =
                                *reinterpret_cast<const float*>(
                                    reinterpret_cast<const uint8_t*>(a.p_data) +
                                    static_cast<size_t>(c) * a.channel_stride_in_bytes +
                                    static_cast<size_t>(s) * 4);
                    wav.write(reinterpret_cast<const char*>(interleaved.data()),
                              static_cast<std::streamsize>(interleaved.size() * 4));
                    wavBytes += static_cast<uint32_t>(interleaved.size() * 4);
                }
            }
            ndi.recv_free_audio_v2(recv, &a);
        }
        if (wav.is_open()) WriteWavHeader(wav, wavRate, wavChannels, wavBytes);
    });

    const auto start = std::chrono::steady_clock::now();
    auto secondStart = start;
    long long frames = 0, secondFrames = 0, secondMeta = 0, lastAudio = 0;
    long long lastCounter = -1, drops = 0, gaps = 0, secondDrops = 0, secondGaps = 0;
    // The longest time between two video frames, once the first frames (connection set-up) are in.
    constexpr long long kGapSettleFrames = 30;
    std::chrono::steady_clock::time_point lastArrival{};
    double largestGapMs = 0.0;
    // The same between the frames' timestamps, the times the sender sent them: what the sender
    // did, without this program's own scheduling or the network in between.
    int64_t lastTimestamp = 0;
    double largestSendGapMs = 0.0;
    int lastW = 0, lastH = 0, lastN = 0, lastD = 0, lastType = -1;
    uint32_t lastFourCC = 0;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (g_interrupted) break;
        if (maxFrames >= 0 && frames >= maxFrames) break;
        if (maxSeconds >= 0 && now - start >= std::chrono::seconds(maxSeconds)) break;
        if (now - secondStart >= std::chrono::seconds(1)) {
            const long long samples = audioSamples.load();
            std::lock_guard lock(printMu);
            std::printf(
                "stats: %lld frames, %lld dropped, %lld gaps, %lld audio samples, "
                "%lld metadata\n",
                secondFrames, secondDrops, secondGaps, samples - lastAudio, secondMeta);
            std::fflush(stdout);
            lastAudio = samples;
            secondFrames = secondDrops = secondGaps = secondMeta = 0;
            secondStart += std::chrono::seconds(1);
        }
        NDIlib_video_frame_v2_t v{};
        NDIlib_metadata_frame_t m{};
        const auto type = ndi.recv_capture_v2(recv, &v, nullptr, &m, 100);
        if (type == NDIlib_frame_type_metadata) {
            ++secondMeta;
            if (printMetadata && m.p_data) {
                std::lock_guard lock(printMu);
                std::printf("metadata: %s\n", m.p_data);
                std::fflush(stdout);
            }
            ndi.recv_free_metadata(recv, &m);
            continue;
        }
        if (type != NDIlib_frame_type_video) continue;
        ++frames;
        ++secondFrames;
        const auto arrival = std::chrono::steady_clock::now();
        if (frames > kGapSettleFrames) {
            largestGapMs =
                std::max(largestGapMs,
                         std::chrono::duration<double, std::milli>(arrival - lastArrival).count());
        }
        lastArrival = arrival;
        if (frames > kGapSettleFrames && v.timestamp > lastTimestamp)
            largestSendGapMs =
                std::max(largestSendGapMs, static_cast<double>(v.timestamp - lastTimestamp) / 1e4);
        lastTimestamp = v.timestamp;
        if (v.xres != lastW || v.yres != lastH || static_cast<uint32_t>(v.FourCC) != lastFourCC ||
            v.frame_rate_N != lastN || v.frame_rate_D != lastD || v.frame_format_type != lastType) {
            char fourCC[5];
            std::lock_guard lock(printMu);
            std::printf("format: %dx%d %s %d/%d %s\n", v.xres, v.yres,
                        FourCCText(static_cast<uint32_t>(v.FourCC), fourCC), v.frame_rate_N,
                        v.frame_rate_D,
                        v.frame_format_type == NDIlib_frame_format_type_progressive ? "progressive"
                                                                                    : "interlaced");
            std::fflush(stdout);
            lastW = v.xres, lastH = v.yres, lastN = v.frame_rate_N, lastD = v.frame_rate_D;
            lastFourCC = static_cast<uint32_t>(v.FourCC);
            lastType = v.frame_format_type;
        }
        const long long counter = FrameNumber(v.p_metadata);
        delayLog.Add('V', counter, v.timecode, v.timestamp);
        if (counter >= 0) {
            // A restarted source counts from 0 again: a new run, not a gap.
            if (lastCounter >= 0 && counter > lastCounter + 1) {
                drops += counter - lastCounter - 1;
                secondDrops += counter - lastCounter - 1;
                ++gaps;
                ++secondGaps;
            }
            lastCounter = counter;
        }
        const bool yuv =
            v.FourCC == NDIlib_FourCC_video_type_UYVY || v.FourCC == NDIlib_FourCC_video_type_UYVA;
        const size_t row = static_cast<size_t>(v.xres) * (yuv ? 2 : 4);
        if (printChecksums && v.p_data) {
            std::lock_guard lock(printMu);
            std::printf("frame %lld: %dx%d %016llx\n", frames, v.xres, v.yres,
                        static_cast<unsigned long long>(PictureHash(v, row)));
            std::fflush(stdout);
        }
        if (frames <= saveFrames && v.p_data) {
            char fourCC[5];
            FourCCText(static_cast<uint32_t>(v.FourCC), fourCC);
            const std::string file = saveDir + "/frame_" + std::to_string(frames) + "_" +
                                     std::to_string(v.xres) + "x" + std::to_string(v.yres) + "." +
                                     fourCC;
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            for (int y = 0; y < v.yres; ++y)
                out.write(reinterpret_cast<const char*>(v.p_data) +
                              static_cast<size_t>(y) * v.line_stride_in_bytes,
                          static_cast<std::streamsize>(row));
        }
        ndi.recv_free_video_v2(recv, &v);
    }
    stop = true;
    audioThread.join();
    ndi.recv_destroy(recv);
    ndi.destroy();

    std::printf(
        "total: %lld frames, %lld dropped, %lld gaps, %lld audio samples, largest gap %.1f ms "
        "(%.1f ms between send times)\n",
        frames, drops, gaps, audioSamples.load(), largestGapMs, largestSendGapMs);
    if (frames == 0 || (maxFrames >= 0 && frames < maxFrames)) return 3;
    if (expectNoDrops && drops > 0) return 4;
    return 0;
}
