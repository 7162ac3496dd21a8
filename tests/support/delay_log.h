// Reading velmor-sink's --delay-log: every video and audio frame the sink received, with its
// arrival time and the source's timecode (velmor-testsrc stamps each frame with its send time, and
// Velmor passes timecodes through). From it: how late the output is behind the source, the gaps
// between output frames, frames and audio lost, and how far audio and video leave apart.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmor::test {

struct DelayEntry {
    long long number = 0;  // video: the source's frame counter (-1 unknown); audio: samples
    int64_t arrival = 0;   // 100 ns units, wall clock
    int64_t timecode = 0;  // the source's send time, same units
    double DelayMs() const { return static_cast<double>(arrival - timecode) / 1e4; }
};

struct DelayLog {
    std::vector<DelayEntry> video, audio;

    static DelayLog Read(const std::string& path) {
        DelayLog log;
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            char kind = 0;
            DelayEntry e;
            long long timestamp = 0;
            if (!(fields >> kind >> e.number >> e.arrival >> e.timecode >> timestamp)) continue;
            (kind == 'V' ? log.video : log.audio).push_back(e);
        }
        return log;
    }

    // The entries whose arrival lies in [from, to) (100 ns wall-clock units).
    static std::vector<DelayEntry> Between(const std::vector<DelayEntry>& all, int64_t from,
                                           int64_t to) {
        std::vector<DelayEntry> out;
        for (const DelayEntry& e : all)
            if (e.arrival >= from && e.arrival < to) out.push_back(e);
        return out;
    }

    // The q-quantile (0..1) of the entries' delays in milliseconds; 0 when there are none.
    static double DelayQuantile(const std::vector<DelayEntry>& entries, double q) {
        if (entries.empty()) return 0.0;
        std::vector<double> d;
        d.reserve(entries.size());
        for (const DelayEntry& e : entries)
            d.push_back(e.DelayMs());
        std::sort(d.begin(), d.end());
        const size_t i = std::min(d.size() - 1, static_cast<size_t>(q * (d.size() - 1) + 0.5));
        return d[i];
    }

    // The longest time between two consecutive arrivals, in milliseconds.
    static double LargestGapMs(const std::vector<DelayEntry>& entries) {
        double gap = 0.0;
        for (size_t i = 1; i < entries.size(); ++i)
            gap = std::max(gap,
                           static_cast<double>(entries[i].arrival - entries[i - 1].arrival) / 1e4);
        return gap;
    }

    // Video frames of the source that never arrived between the first and the last one seen.
    static long long VideoFramesLost(const std::vector<DelayEntry>& video) {
        long long lost = 0, last = -1;
        for (const DelayEntry& e : video) {
            if (e.number < 0) continue;
            if (last >= 0 && e.number > last + 1) lost += e.number - last - 1;
            last = std::max(last, e.number);
        }
        return lost;
    }

    // The share of the source's audio (in samples at `rate`) between the first and the last block
    // received that never arrived: the timecodes say how much the source sent in that time.
    static double AudioLostShare(const std::vector<DelayEntry>& audio, int rate) {
        if (audio.size() < 2) return 0.0;
        long long received = 0;
        for (size_t i = 0; i + 1 < audio.size(); ++i)
            received += audio[i].number;
        const double sent =
            static_cast<double>(audio.back().timecode - audio.front().timecode) / 1e7 * rate;
        if (sent <= 0.0) return 0.0;
        return std::max(0.0, (sent - static_cast<double>(received)) / sent);
    }
};

}  // namespace velmor::test

namespace velmor::test {

// What a disturbance (a stopped display or sound server, a busy window) did to the output, from
// a delay log that covers [from, to) with the disturbance in [start, end).
struct DisturbanceReport {
    double largestGapMs = 0;    // between consecutive output video frames, over [from, to)
    long long videoFrames = 0;  // output frames seen in [from, to)
    long long videoLost = 0;    // source frames never seen between the first and the last
    double audioLostShare = 0;  // of the source's audio in [from, to)
    double videoDelayBeforeMs = 0, audioDelayBeforeMs = 0;  // medians over [from, start)
    double videoDelayAfterMs = 0, audioDelayAfterMs = 0;    // medians over [end + 1 s, to)
    double worstAvSkewMs = 0;  // largest |video - audio| of the per-second median delays

    double VideoLostShare() const {
        return videoFrames + videoLost > 0
                   ? static_cast<double>(videoLost) / static_cast<double>(videoFrames + videoLost)
                   : 1.0;
    }
    std::string Text() const {
        std::ostringstream s;
        s << "largest gap " << largestGapMs << " ms, " << videoFrames << " frames, " << videoLost
          << " lost, audio lost " << audioLostShare * 100 << " %, video delay "
          << videoDelayBeforeMs << " -> " << videoDelayAfterMs << " ms, audio delay "
          << audioDelayBeforeMs << " -> " << audioDelayAfterMs << " ms, worst A/V skew "
          << worstAvSkewMs << " ms";
        return s.str();
    }
};

inline DisturbanceReport Judge(const DelayLog& log, int64_t from, int64_t start, int64_t end,
                               int64_t to, int sampleRate = 48000) {
    constexpr int64_t kSecond = 10'000'000;
    DisturbanceReport r;
    const auto video = DelayLog::Between(log.video, from, to);
    const auto audio = DelayLog::Between(log.audio, from, to);
    r.largestGapMs = DelayLog::LargestGapMs(video);
    r.videoFrames = static_cast<long long>(video.size());
    r.videoLost = DelayLog::VideoFramesLost(video);
    r.audioLostShare = DelayLog::AudioLostShare(audio, sampleRate);
    r.videoDelayBeforeMs = DelayLog::DelayQuantile(DelayLog::Between(log.video, from, start), 0.5);
    r.audioDelayBeforeMs = DelayLog::DelayQuantile(DelayLog::Between(log.audio, from, start), 0.5);
    r.videoDelayAfterMs =
        DelayLog::DelayQuantile(DelayLog::Between(log.video, end + kSecond, to), 0.5);
    r.audioDelayAfterMs =
        DelayLog::DelayQuantile(DelayLog::Between(log.audio, end + kSecond, to), 0.5);
    for (int64_t t = from; t + kSecond <= to; t += kSecond) {
        const auto v = DelayLog::Between(log.video, t, t + kSecond);
        const auto a = DelayLog::Between(log.audio, t, t + kSecond);
        if (v.empty() || a.empty()) continue;
        r.worstAvSkewMs = std::max(r.worstAvSkewMs, std::abs(DelayLog::DelayQuantile(v, 0.5) -
                                                             DelayLog::DelayQuantile(a, 0.5)));
    }
    return r;
}

// This machine's wall clock in 100 ns units, as the delay log's arrival times.
inline int64_t WallNow100ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() /
           100;
}

}  // namespace velmor::test
