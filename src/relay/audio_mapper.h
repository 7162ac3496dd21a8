// State of the audio map and gain window, which outlives the window itself, and what its controls
// do: the radio grid (one row per output, one column per input plus "Mute"), the gain steps, the
// mono mix and "Reset", with the window's layout for N channels. The audio thread reads entries 0
// and 1 and the gain while the window is open and rewrites entries on a channel-count change, so
// those members are atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace velmor {

// A rectangle in the window's client pixels: left, top, right, bottom.
struct MapRect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int width() const { return x2 - x1; }
    int height() const { return y2 - y1; }
    bool operator==(const MapRect&) const = default;
};

struct MapPoint {
    int x = 0, y = 0;
    bool operator==(const MapPoint&) const = default;
};

// Where everything of the window goes for N channels (1..32).
struct AudioMapLayout {
    int channels = 0;
    int width = 0, height = 0;
    bool headersBelow = false;  // N > 6: the column numbers again under the grid
    MapPoint gainText, gainButton, reset, use, cancel, monoMix;
    MapRect inputsCaption;
    int RowTop(int row) const;  // output 1 (row 0) is the bottom row
    MapRect Radio(int row, int column) const;
    MapRect RowFrame(int row) const;
    MapRect RowLabel(int row) const;
    MapRect ColumnHeader(int column, bool below) const;  // column N is "Mute"
};
AudioMapLayout LayoutAudioMap(int channels);

class NDIAudioMapper {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kFirstRadioCommand = 1100;
    static constexpr int kFirstGainCommand = 32771;
    // Gain steps in dB for commands 32771..32789 (there is no +-2 dB step).
    static constexpr std::array<int, 19> gainTable = {20, 18, 16, 14,  12,  10,  8,   6,   4,  0,
                                                      -4, -6, -8, -10, -12, -14, -16, -18, -20};
    static constexpr int kLastGainCommand =
        kFirstGainCommand + static_cast<int>(gainTable.size()) - 1;

    NDIAudioMapper() { Reset(); }

    int32_t mapperMonoMix = 0;
    std::atomic<double> mapperGain{1.0};
    int32_t mapperChannels = 0;
    std::array<std::atomic<int32_t>, 33> mapperMap{};
    int32_t mapperGainItem = 0;

    // The "Reset" defaults: the identity routing and no mono mix (the gain is kept).
    void Reset() {
        for (int i = 0; i < 33; ++i)
            mapperMap[i].store(i, std::memory_order_relaxed);
        mapperMonoMix = 0;
    }

    // The command of the radio button of output `row`, input `column` (N: "Mute").
    int RadioCommand(int row, int column) const {
        return kFirstRadioCommand + (mapperChannels + 1) * row + column;
    }
    // A radio button clicked: its row takes its column. False for a command outside the grid.
    bool RadioClicked(int command);
    // A gain step chosen from the menu (0: the menu closed without a choice). False, and nothing
    // changed, for anything but a gain command.
    bool ChooseGain(int command);
    // Window set-up: a stored gain step gives the gain again. False when none (or no valid one)
    // is stored.
    bool ApplyGainItem();
    // "\t%+d dB" of a gain command's step.
    static std::string GainMenuText(int command);
    // What the gain text shows: the chosen step's menu text without its tab, else "+0 dB".
    std::string GainText() const;
    // 10^(dB/20), the exponent computed in 32-bit float.
    static double GainOf(int dB);
};

}  // namespace velmor
