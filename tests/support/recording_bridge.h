// A window bridge that records every call, for engine tests. Thread-safe: the engine's threads
// call it while the test reads it.
#pragma once

#include <atomic>
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
    std::atomic<Lamp> signalLamp{Lamp::Grey};

    void SetSourceCaption(const std::string& t) override { Log("source " + t); }
    void SetVideoCaption(const std::string& t) override { Log("video " + t); }
    void SetAudioCaption(const std::string& t) override { Log("audio " + t); }
    void SetDelayCounter(const std::string& t) override { Log("delay " + t); }
    void SetSignalLamp(Lamp lamp) override {
        signalLamp = lamp;
        Log("lamp " + std::to_string(static_cast<int>(lamp)));
    }
    void SetFreezeLamp(Lamp lamp) override {
        Log("freeze-lamp " + std::to_string(static_cast<int>(lamp)));
    }
    void SetButton(WindowButton b, int colour, const std::string& caption) override {
        Log("button " + std::to_string(static_cast<int>(b)) + " " + std::to_string(colour) +
            (caption.empty() ? "" : " " + caption));
    }
    void EnableOutputButton(bool on) override {
        Log(std::string("output-button ") + (on ? "on" : "off"));
    }
    void ShowKeyFillLabel(bool on) override {
        Log(std::string("keyfill-label ") + (on ? "on" : "off"));
    }
    void ShowEbuMode(bool ebu) override { Log(ebu ? "EBU o/p" : "SMPTE o/p"); }
    void WriteGrab() override {
        grabs++;
        Log("grab");
    }
    void ShowTime(int32_t s) override { Log("time " + std::to_string(s)); }
    void ShowPreview(PreviewTarget, const FrameView&, float) override { previews++; }
    void StartFreezeBlink() override { Log("blink on"); }
    void StopFreezeBlink() override { Log("blink off"); }
    void StartWatchdog() override { Log("watchdog on"); }
    void StopWatchdog() override { Log("watchdog off"); }

private:
    void Log(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace velmor::testing
