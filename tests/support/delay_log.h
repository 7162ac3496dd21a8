// Reading velmor-sink's --delay-log: every video and audio frame the sink received, with its
// arrival time and the source's timecode (velmor-testsrc stamps each frame with its send time, and
// Velmor passes timecodes through). From it: how late the output is behind the source, the gaps
// between output frames, frames and audio lost, and how far audio and video leave apart.
#pragma once

#include <algorithm>
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
