// A relay record, a fake NDI library, a recording window bridge and an engine, wired together.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/engine.h"
#include "relay/text_fields.h"
#include "support/fake_ndi.h"
#include "support/recording_bridge.h"
#include "support/recording_fakes.h"

namespace velmor::testing {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        record.ApplyStartupDefaults();
        record.groupSetup.BuildSendGroups();
        engine = std::make_unique<Engine>(record, ndi.api(), bridge, notifier);
    }
    void TearDown() override { engine->StopAndWait(); }

    bool Connect() { return engine->ConnectTo(source); }

    // Queues one frame for the probe and the three that the video thread skips.
    void QueueLeadIn(const NDIlib_video_frame_v2_t& format) {
        for (int i = 0; i < 4; ++i)
            ndi.QueueVideo(format, Pattern(format, 100 + i));
    }

    // A meter built for width x height pictures, with its separate output on.
    void PrepareMeter(int width, int height) {
        record.meterSettings.meterSeparateOutput = 1;
        record.ppmMeter = std::make_unique<PpmMeter>();
        record.ppmMeter->SetOverlayEnabled(true);
        record.ppmMeter->MeterTick(MeterTimer::OverlayBars, record.meterSettings, width, height);
    }
    // The window's meter timer: the next overlay picture, for the output as it is set up.
    void BuildMeterPicture() {
        record.ppmMeter->MeterTick(MeterTimer::OverlayBars, record.meterSettings,
                                   record.outputFormat.width(), record.outputFormat.height());
    }
    // After connecting: the meter is drawn from the next frame on.
    void StartMeter() {
        BuildMeterPicture();
        record.ppmOverlayOn = 1;
    }

    // Waits until every queued video frame was captured and released.
    bool Drain() {
        return ndi.WaitFor([&] { return ndi.videoFreed.load() >= ndi.videoQueued.load(); });
    }

    FakeNdi ndi;
    RecordingBridge bridge;
    RecordingNotifier notifier;
    RelayRecord record;
    std::unique_ptr<Engine> engine;
    NDIlib_source_t source{"HOST (Camera 1)", "127.0.0.1:5961"};
};

}  // namespace velmor::testing
