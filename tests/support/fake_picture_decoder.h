// A picture decoder for the overlay window's tests: pictures by path, each a solid colour of a
// given size (a path it does not know is unreadable). A path can be held (`gate`): decoding it
// then waits until it is released. Safe to call from workers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "video/picture_decoder.h"

namespace velmor::testing {

// Files whose decoding waits until they are released, as a large picture keeps a worker busy.
class DecodeGate {
public:
    void Hold(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_.insert(path);
    }
    void Release(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_.erase(path);
        changed_.notify_all();
    }
    void ReleaseAll() {
        std::lock_guard lock(mutex_);
        held_.clear();
        changed_.notify_all();
    }
    // Waits until a worker is held at `path`.
    bool WaitUntilBlocked(const std::string& path,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return blocked_.count(path) != 0; });
    }
    // The decoder's side: returns once `path` is not held.
    void Pass(const std::string& path) {
        std::unique_lock lock(mutex_);
        if (!held_.count(path)) return;
        blocked_.insert(path);
        changed_.notify_all();
        changed_.wait(lock, [&] { return held_.count(path) == 0; });
        blocked_.erase(path);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> held_, blocked_;
};

class FakePictureDecoder : public IPictureDecoder {
public:
    struct Picture {
        int w = 64, h = 36;
        uint8_t b = 10, g = 20, r = 30, a = 128;
        int bitDepth = 32;
    };

    void Add(const std::string& path, Picture picture) {
        std::lock_guard lock(mutex_);
        files_[path] = picture;
    }
    void Remove(const std::string& path) {
        std::lock_guard lock(mutex_);
        files_.erase(path);
    }
    // The paths decoded (or being decoded), in order.
    std::vector<std::string> loaded() const {
        std::lock_guard lock(mutex_);
        return loaded_;
    }

    PictureLoad Load(ImageBuffer& p, const std::string& path) override {
        PictureLoad result;
        Picture f;
        {
            std::lock_guard lock(mutex_);
            loaded_.push_back(path);
        }
        gate.Pass(path);
        {
            std::lock_guard lock(mutex_);
            const auto it = files_.find(path);
            if (it == files_.end()) return result;
            f = it->second;
        }
        result.width = f.w;
        result.height = f.h;
        if (f.w > kMaxOverlayPictureSide || f.h > kMaxOverlayPictureSide) {
            result.result = PictureLoad::TooLarge;
            return result;
        }
        p.FillColour(f.w, f.h, f.r, f.g, f.b, f.a);
        p.path = path;
        p.name = std::filesystem::path(path).filename().string();
        p.decodedWidth = f.w;
        p.decodedHeight = f.h;
        p.decodedBitDepth = f.bitDepth;
        result.result = PictureLoad::Loaded;
        return result;
    }
    // The thumbnail: the picture's first pixel over the whole area.
    bool MakeThumbnail(const ImageBuffer& picture, int w, int h, ImageBuffer& thumbnail) override {
        if (picture.empty()) return false;
        const uint8_t* p = picture.pixels();
        return thumbnail.FillColour(w, h, p[2], p[1], p[0], 255);
    }

    DecodeGate gate;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Picture> files_;
    std::vector<std::string> loaded_;
};

}  // namespace velmor::testing
