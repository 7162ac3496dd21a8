// The per-copy configuration file: an 8-byte header ("QWVLMXF" and a version byte) and five
// fixed-size blocks, 3776 bytes in all.
#pragma once

#include <cstddef>
#include <string>

#include "relay/notifier.h"
#include "relay/relay_record.h"

namespace velmor {

inline constexpr size_t kConfigHeaderSize = 8;
inline constexpr size_t kConfigReservedSize = 48;
inline constexpr size_t kConfigFileSize = kConfigHeaderSize + sizeof(SettingsRecord) +
                                          kConfigReservedSize + sizeof(MeterSettings) +
                                          6 * sizeof(ProcAmpPreset) + 184;
static_assert(kConfigFileSize == 3776);

// "last.vlm" for index 0, "last%d.vlm" with index + 1 otherwise.
std::string ConfigFileNameFor(int instanceIndex);
// Sets record.configFileName from the instance index.
void SetConfigFileName(RelayRecord& record, int instanceIndex);

// Writes the file; 1 on success, 0 on failure (after the matching message). The previous file is
// replaced only when every block was written.
int SaveConfig(RelayRecord& record, const std::string& path, INotifier& notifier);

// The two menu choices "Load settings on startup" and "Save settings on exit" written into an
// existing file, everything else in it kept byte for byte: how an operator who turned "Save
// settings on exit" off keeps that choice without saving the settings. False (and nothing
// written) when there is no complete configuration file at `path` or the write fails.
bool StoreMenuChoices(const std::string& path, int8_t loadOnStartup, int8_t saveOnExit);

// Reads the file into the record; returns 1 when all five blocks were read. configSectionsRead
// tells how many blocks were read completely; a block read short leaves its member unchanged.
// Every value read is brought into its valid range first (relay/stored_ranges.h); the file itself
// keeps what it holds until the next save.
int LoadConfig(RelayRecord& record, const std::string& path, INotifier& notifier);
// The same from the bytes of a file held in memory (`size` bytes at `data`).
int LoadConfigBytes(RelayRecord& record, const unsigned char* data, size_t size,
                    INotifier& notifier);

}  // namespace velmor
