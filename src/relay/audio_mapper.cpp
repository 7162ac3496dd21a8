#include "relay/audio_mapper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmor {

AudioMapLayout LayoutAudioMap(int channels) {
    AudioMapLayout l;
    const int n = std::clamp(channels, 1, NDIAudioMapper::kMaxChannels);
    l.channels = n;
    const int e = n > 6 ? 1 : 0;
    l.headersBelow = e != 0;
    l.width = std::max(220, 30 * (n + 4));
    l.height = 26 * (n + 3 + e) + 67;
    const int y = 26 * (n + 1 + e);
    l.gainText = {70, y + 24};
    l.gainButton = {20, y + 20};
    l.reset = {20, y + 47};
    l.use = {l.width - 141, y + 47};
    l.cancel = {l.width - 83, y + 47};
    l.monoMix = {l.width - 133, 5};
    l.inputsCaption = {24, 4, 84, 24};
    return l;
}

int AudioMapLayout::RowTop(int row) const {
    return 26 * (channels - row) + 20;
}

MapRect AudioMapLayout::Radio(int row, int column) const {
    const int y = RowTop(row);
    return {30 * column + 20, y, 30 * column + 40, y + 20};
}

MapRect AudioMapLayout::RowFrame(int row) const {
    const int y = RowTop(row);
    return {13, y - 1, 30 * channels + 90, y + 21};
}

MapRect AudioMapLayout::RowLabel(int row) const {
    const int y = RowTop(row);
    const int x = 30 * (channels + 1) + 15;
    return {x, y, x + 42, y + 19};
}

MapRect AudioMapLayout::ColumnHeader(int column, bool below) const {
    const int y = below ? 26 * channels + 46 : 25;
    const int right = column == channels ? 30 * column + 86 : 30 * column + 36;
    return {30 * column + 16, y, right, y + 20};
}

bool NDIAudioMapper::RadioClicked(int command) {
    const int n = mapperChannels;
    const int k = command - kFirstRadioCommand;
    if (n <= 0 || n > kMaxChannels || k < 0 || k >= n * (n + 1)) return false;
    mapperMap[static_cast<size_t>(k / (n + 1))] = k % (n + 1);
    return true;
}

double NDIAudioMapper::GainOf(int dB) {
    return std::pow(10.0, static_cast<double>(static_cast<float>(dB) / 20.0f));
}

std::string NDIAudioMapper::GainMenuText(int command) {
    if (command < kFirstGainCommand || command > kLastGainCommand) return {};
    char text[16];
    std::snprintf(text, sizeof text, "\t%+d dB",
                  gainTable[static_cast<size_t>(command - kFirstGainCommand)]);
    return text;
}

bool NDIAudioMapper::ChooseGain(int command) {
    if (command < kFirstGainCommand || command > kLastGainCommand) return false;
    mapperGainItem = command;
    mapperGain = GainOf(gainTable[static_cast<size_t>(command - kFirstGainCommand)]);
    return true;
}

bool NDIAudioMapper::ApplyGainItem() {
    return mapperGainItem != 0 && ChooseGain(mapperGainItem);
}

std::string NDIAudioMapper::GainText() const {
    const std::string text = GainMenuText(mapperGainItem);
    return text.empty() ? "+0 dB" : text.substr(1);
}

}  // namespace velmor
