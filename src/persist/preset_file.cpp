#include "persist/preset_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "persist/atomic_file.h"
#include "persist/file_io.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

constexpr char kMagic[7] = {'Q', 'W', 'V', 'L', 'M', 'X', 'P'};

}  // namespace

PresetLoadResult LoadPresetFile(ProcAmpState& procAmp, const std::string& path,
                                INotifier& notifier) {
    UniqueFile f(std::fopen(path.c_str(), "rb"));
    if (!f) return PresetLoadResult::NotOpened;
    unsigned char bytes[kPresetFileSize];
    const size_t size = std::fread(bytes, 1, sizeof bytes, f.get());
    f.reset();
    return LoadPresetBytes(procAmp, bytes, size, notifier);
}

PresetLoadResult LoadPresetBytes(ProcAmpState& procAmp, const unsigned char* data, size_t size,
                                 INotifier& notifier) {
    ByteReader in{data, size};
    unsigned char header[8];
    if (!in.Read(header, sizeof header) || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        notifier.Show("Unrecognised file type", "LoadPreset", MessageButtons::Ok);
        return PresetLoadResult::Rejected;
    }
    ProcAmpPreset preset;
    if (!in.Read(&preset, sizeof preset)) {
        notifier.Show("Something went wrong - file too small", "Load Preset", MessageButtons::Ok);
        return PresetLoadResult::Rejected;
    }
    LimitStoredPreset(preset);
    const int slot =
        (procAmp.currentPreset >= 0 && procAmp.currentPreset < 6) ? procAmp.currentPreset : 0;
    procAmp.presets[slot] = preset;
    procAmp.RecallSlot(slot);
    return PresetLoadResult::Loaded;
}

std::string PresetFileName(const std::string& presetName) {
    // The name is typed by the operator but becomes a file in the current folder: no folder
    // separators, no control characters, no leading dot (no hidden file, no "." or ".."), and
    // never an empty base.
    std::string base;
    for (char c : presetName) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ') continue;
        base += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
    }
    if (!base.empty() && base.front() == '.') base.front() = '_';
    if (base.empty()) base = "Preset";
    constexpr size_t kExtension = 4;  // ".pap"
    base.resize(Utf8PrefixLength(base, kPresetPathLimit - kExtension));
    return base + ".pap";
}

bool SavePresetFile(ProcAmpState& procAmp, INotifier& notifier, const std::string& folder) {
    const std::string fileName = PresetFileName(procAmp.presetName);
    const int slot =
        (procAmp.currentPreset >= 0 && procAmp.currentPreset < 6) ? procAmp.currentPreset : 0;
    procAmp.StoreIntoSlot(slot, /*keepStoredFlag=*/true);

    AtomicFile file(folder.empty() ? fileName : folder + "/" + fileName);
    if (!file.Open()) {
        notifier.Show("Problem  occurred\n\nPreset file not opened for writing", "Save File",
                      MessageButtons::Ok);
        return false;
    }
    unsigned char header[8];
    std::memcpy(header, kMagic, sizeof kMagic);
    header[7] = 0x81;
    if (!file.Write(header, sizeof header)) {
        notifier.Show("Problem initiating file save", "Save Preset", MessageButtons::Ok);
        return false;
    }
    if (!file.Write(&procAmp.presets[slot], sizeof(ProcAmpPreset)) || !file.Commit()) {
        notifier.Show("Problem  occurred - Preset file not saved", "Save Preset",
                      MessageButtons::Ok);
        return false;
    }
    notifier.Show(fileName + "\n\nPreset file saved", "Save File", MessageButtons::Ok);
    return true;
}

}  // namespace velmor
