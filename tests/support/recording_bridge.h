// A window bridge that records every call, for engine tests. Thread-safe: the engine's threads
// call it while the test reads it.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/window_bridge.h"

namespace velmor::testing {

class RecordingBridge : public IWindowBridge {
public:
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    bool Saw(const std::string& call) {
        std::lock_guard lock(mutex_);
        for (const auto& c : calls_) {
            if (c == call) return true;
        }
        return false;
    }
    std::atomic<int> grabs{0};
    std::atomic<int> previews{0};
    // The picture of the last grab the engine asked the window to write.
    struct GrabbedPicture {
        int width = 0, height = 0;
        PixelKind kind = PixelKind::None;
        std::vector<uint8_t> pixels;
    };
    GrabbedPicture LastGrab() {
        std::lock_guard lock(mutex_);
        return lastGrab_;
    }
    std::atomic<Lamp> signalLamp{Lamp::Grey};

    // The states the engine reports, one line each; the captions and colours the window makes of
    // them are the presenter's (tests/app).
    void ShowSourceState(SourceState state) override {
        static const char* kNames[] = {"closing", "failed", "disconnecting", "ended"};
        Log(std::string("source ") + kNames[static_cast<int>(state)]);
    }
    void ShowSourceConnected(const std::string& address, const std::string& name) override {
        Log("source connected " + address + " " + name);
    }
    void ShowVideoFormat(const VideoFormatReport& f) override {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f", static_cast<double>(f.rate));
        Log("video " + std::to_string(f.width) + "x" + std::to_string(f.height) + " " + rate +
            (f.progressive ? " progressive" : " fields") + (f.yuv ? " UYVY" : " RGB"));
    }
    void ShowAudioFormat(int channels, int sampleRate) override {
        Log("audio " + std::to_string(channels) + " channels " + std::to_string(sampleRate));
    }
    void ShowFramesSkipped(MediaKind kind, const std::string& problem) override {
        Log(std::string(kind == MediaKind::Video ? "video" : "audio") + " skipped " + problem);
    }
    void ShowMediaEnded(MediaKind kind) override {
        signalLamp = Lamp::Grey;
        Log(std::string(kind == MediaKind::Video ? "video" : "audio") + " ended");
    }
    void ShowSignal(bool video, bool audio) override {
        signalLamp = video && audio ? Lamp::Magenta : (video ? Lamp::Red : Lamp::Blue);
        Log(std::string("signal") + (video ? " video" : "") + (audio ? " audio" : ""));
    }
    void ShowGrabStarted() override {
        signalLamp = Lamp::Amber;
        Log("grab started");
    }
    void ShowDeinterlaceMode(int mode) override { Log("deinterlace " + std::to_string(mode)); }
    void ShowAudioDelayOn(bool on) override { Log(std::string("audio delay ") + OnOff(on)); }
    void ShowAudioDelayFrames(int frames) override { Log("delay " + std::to_string(frames)); }
    void ShowOverlayOn(bool on) override { Log(std::string("overlay ") + OnOff(on)); }
    void ShowAudioMapActive(bool on) override { Log(std::string("audio map ") + OnOff(on)); }
    void ShowFreeze(bool on) override { Log(std::string("freeze ") + OnOff(on)); }
    void EnableOutputButton(bool on) override { Log(std::string("output-button ") + OnOff(on)); }
    void ShowKeyFillLabel(bool on) override { Log(std::string("keyfill-label ") + OnOff(on)); }
    void ShowEbuMode(bool ebu) override { Log(ebu ? "EBU o/p" : "SMPTE o/p"); }
    void WriteGrab(const ImageBuffer& picture) override {
        {
            std::lock_guard lock(mutex_);
            lastGrab_.width = picture.width;
            lastGrab_.height = picture.height;
            lastGrab_.kind = picture.pixelKind;
            lastGrab_.pixels.assign(picture.pixels(),
                                    picture.pixels() + (picture.empty() ? 0 : picture.byteSize));
        }
        grabs++;
        Log("grab");
    }
    void ShowTime(int32_t s) override { Log("time " + std::to_string(s)); }
    void ShowPreview(PreviewTarget, const FrameView&, float) override { previews++; }
    void StartWatchdog() override { Log("watchdog on"); }
    void StopWatchdog() override { Log("watchdog off"); }

private:
    static const char* OnOff(bool on) { return on ? "on" : "off"; }
    void Log(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
    GrabbedPicture lastGrab_;
};

}  // namespace velmor::testing
