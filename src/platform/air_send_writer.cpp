#include "platform/air_send_writer.h"

#include "persist/file_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

struct Format {
    int width = 0, height = 0, rateN = 0, rateD = 1;
    bool progressive = true;
    float aspect = 0.0f;
    bool alpha = false;  // BGRA frames: 4:4:4 with alpha
    bool operator==(const Format&) const = default;
};

// BT.601 studio range, the same coefficients the compositing uses for BGRA pictures.
inline void BgraToYuv(const uint8_t* p, uint8_t& y, uint8_t& u, uint8_t& v) {
    const int b = p[0], g = p[1], r = p[2];
    y = static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
    u = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
    v = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

class Y4mWriter {
public:
    explicit Y4mWriter(std::string path) : path_(std::move(path)), thread_([this] { Run(); }) {}
    ~Y4mWriter() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }

    void SetFormat(const Format& f) {
        std::lock_guard lock(mutex_);
        format_ = f;
    }

    // Copies the frame into the mailbox, or drops it when the writer is still busy.
    bool Add(const uint8_t* data, int stride, bool alpha) {
        std::unique_lock lock(mutex_);
        Format f = format_;
        f.alpha = alpha;
        if (!data || f.width <= 0 || f.height <= 0 || f.width > 16384 || f.height > 16384)
            return false;
        if (pendingFull_) {
            stats_.framesDropped++;
            return false;
        }
        const size_t row = static_cast<size_t>(f.width) * (alpha ? 4 : 2);
        const size_t step = stride > 0 ? static_cast<size_t>(stride) : row;
        if (step < row) return false;
        pending_.resize(row * f.height);
        for (int y = 0; y < f.height; ++y)
            std::memcpy(pending_.data() + row * y, data + step * y, row);
        pendingFormat_ = f;
        pendingFull_ = true;
        lock.unlock();
        wake_.notify_one();
        return true;
    }

    AirSendStats Stats() {
        std::lock_guard lock(mutex_);
        return stats_;
    }

private:
    void Run() {
        // A reader that goes away must not kill the process with SIGPIPE.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        std::vector<uint8_t> frame;
        Format format;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || pendingFull_; });
                if (stop_) return;
                frame.swap(pending_);
                format = pendingFormat_;
                pendingFull_ = false;
            }
            const bool ok = Write(frame, format);
            timespec zero{};
            sigtimedwait(&pipe, nullptr, &zero);  // consume a SIGPIPE raised by the write
            std::lock_guard lock(mutex_);
            (ok ? stats_.framesWritten : stats_.framesDropped)++;
        }
    }

    bool Open() {
        struct stat st {};
        const bool fifo = ::stat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
        if (fifo) {
            // Without a reader, opening fails at once (ENXIO); the frame is dropped and the next
            // one tries again.
            fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        } else {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        }
        return fd_ >= 0;
    }

    bool WriteAll(const void* data, size_t size) { return WriteFully(fd_, data, size); }

    std::string Header(const Format& f) const {
        int an = 0, ad = 0;
        if (f.aspect > 0.0f) {
            // Sample aspect = picture aspect x height / width, as a small fraction.
            an = static_cast<int>(f.aspect * f.height * 1000.0f + 0.5f);
            ad = f.width * 1000;
            const int g = std::gcd(an, ad);
            if (g > 0) an /= g, ad /= g;
        }
        return "YUV4MPEG2 W" + std::to_string(f.width) + " H" + std::to_string(f.height) + " F" +
               std::to_string(f.rateN) + ":" + std::to_string(f.rateD) +
               (f.progressive ? " Ip" : " It") + " A" + std::to_string(an) + ":" +
               std::to_string(ad) + (f.alpha ? " C444alpha" : " C422") + "\n";
    }

    bool Write(const std::vector<uint8_t>& data, const Format& f) {
        // A new format starts a new stream.
        if (fd_ >= 0 && !(f == streamFormat_)) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0) {
            if (!Open()) return false;
            const std::string header = Header(f);
            if (!WriteAll(header.data(), header.size())) return Fail();
            streamFormat_ = f;
        }
        const size_t pixels = static_cast<size_t>(f.width) * f.height;
        planes_.resize(f.alpha ? pixels * 4 : pixels * 2);
        uint8_t* y = planes_.data();
        if (f.alpha) {
            uint8_t* u = y + pixels;
            uint8_t* v = u + pixels;
            uint8_t* a = v + pixels;
            for (size_t i = 0; i < pixels; ++i) {
                BgraToYuv(&data[i * 4], y[i], u[i], v[i]);
                a[i] = data[i * 4 + 3];
            }
        } else {
            uint8_t* u = y + pixels;
            uint8_t* v = u + pixels / 2;
            for (size_t i = 0; i < pixels / 2; ++i) {
                u[i] = data[i * 4 + 0];
                y[2 * i] = data[i * 4 + 1];
                v[i] = data[i * 4 + 2];
                y[2 * i + 1] = data[i * 4 + 3];
            }
        }
        static constexpr char kFrame[] = "FRAME\n";
        if (!WriteAll(kFrame, sizeof kFrame - 1) || !WriteAll(planes_.data(), planes_.size()))
            return Fail();
        return true;
    }

    bool Fail() {
        ::close(fd_);
        fd_ = -1;
        return false;
    }

    std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    Format format_;
    std::vector<uint8_t> pending_;
    Format pendingFormat_;
    bool pendingFull_ = false;
    AirSendStats stats_;
    // Writer thread only.
    int fd_ = -1;
    Format streamFormat_;
    std::vector<uint8_t> planes_;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

AirSendStats AirSendGetStats(AirSend_instance_t instance) {
    return instance ? static_cast<Y4mWriter*>(instance)->Stats() : AirSendStats{};
}

}  // namespace velmor

using velmor::Y4mWriter;

extern "C" {

AirSend_instance_t AirSend_Create(int width, int height, int frameRateN, int frameRateD,
                                  bool progressive, float aspect, bool, int, int) {
    const char* path = std::getenv("VELMOR_AIRSEND");
    if (!path || !*path) return nullptr;
    auto* writer = new (std::nothrow) Y4mWriter(path);
    if (writer)
        AirSend_change_video_format(writer, width, height, frameRateN, frameRateD, progressive,
                                    aspect);
    return writer;
}

bool AirSend_change_video_format(AirSend_instance_t instance, int width, int height, int frameRateN,
                                 int frameRateD, bool progressive, float aspect) {
    if (!instance) return false;
    velmor::Format f;
    f.width = width;
    f.height = height;
    f.rateN = frameRateN;
    f.rateD = frameRateD > 0 ? frameRateD : 1;
    f.progressive = progressive;
    f.aspect = aspect;
    static_cast<Y4mWriter*>(instance)->SetFormat(f);
    return true;
}

bool AirSend_add_frame_ycbcr(AirSend_instance_t instance, const uint8_t* data, int stride) {
    return instance && static_cast<Y4mWriter*>(instance)->Add(data, stride, false);
}

bool AirSend_add_frame_bgra(AirSend_instance_t instance, const uint8_t* data, int stride) {
    return instance && static_cast<Y4mWriter*>(instance)->Add(data, stride, true);
}

void AirSend_Destroy(AirSend_instance_t instance) {
    delete static_cast<Y4mWriter*>(instance);
}

}  // extern "C"

namespace velmor {

const AirSendLibrary& Y4mAirSendLibrary() {
    static constexpr AirSendLibrary kLibrary = {AirSend_Create, AirSend_change_video_format,
                                                AirSend_add_frame_ycbcr, AirSend_add_frame_bgra,
                                                AirSend_Destroy};
    return kLibrary;
}

}  // namespace velmor
