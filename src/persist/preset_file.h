// Single proc amp presets as ".pap" files: "QWVLMXP", 0x81, then one 296-byte preset record.
#pragma once

#include <string>

#include "relay/notifier.h"
#include "relay/proc_amp_state.h"

namespace velmor {

inline constexpr size_t kPresetFileSize = 8 + sizeof(ProcAmpPreset);
inline constexpr size_t kPresetPathLimit = 250;  // bytes of the file name

enum class PresetLoadResult { Loaded, NotOpened, Rejected };

// Reads a preset file into the current slot and recalls it into the settings. A file that cannot
// be opened changes nothing silently; a wrong magic or a short record gets its message and changes
// nothing.
// Every value read is brought into its valid range first (relay/stored_ranges.h).
PresetLoadResult LoadPresetFile(ProcAmpState& procAmp, const std::string& path,
                                INotifier& notifier);
// The same from a file's bytes held in memory.
PresetLoadResult LoadPresetBytes(ProcAmpState& procAmp, const unsigned char* data, size_t size,
                                 INotifier& notifier);

// The file name a save uses, always a plain name in the folder: presetName without spaces, with
// "/", "\\" and control characters replaced by "_", a leading "." replaced by "_", "Preset" for an
// empty result, cut at a character boundary to 246 bytes, plus ".pap".
std::string PresetFileName(const std::string& presetName);

// Stores the current settings into the current slot (stored flag unchanged) and writes that slot
// to PresetFileName(presetName) in `folder` (the current folder when empty). Returns true on
// success; every outcome is reported through the notifier.
bool SavePresetFile(ProcAmpState& procAmp, INotifier& notifier, const std::string& folder = "");

}  // namespace velmor
