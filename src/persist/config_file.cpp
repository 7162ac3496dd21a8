#include "persist/config_file.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "persist/atomic_file.h"
#include "persist/file_io.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

constexpr char kMagic[7] = {'Q', 'W', 'V', 'L', 'M', 'X', 'F'};
constexpr const char* kSaveCaption = "Save File";

}  // namespace

std::string ConfigFileNameFor(int instanceIndex) {
    if (instanceIndex <= 0) return "last.vlm";
    return "last" + std::to_string(instanceIndex + 1) + ".vlm";
}

void SetConfigFileName(RelayRecord& record, int instanceIndex) {
    CopyToField(record.configFileName, ConfigFileNameFor(instanceIndex));
}

int SaveConfig(RelayRecord& record, const std::string& path, INotifier& notifier) {
    record.configVersion = 1;
    AtomicFile file(path);
    if (!file.Open()) {
        notifier.Show("Problem opening file for save", kSaveCaption, MessageButtons::Ok);
        return 0;
    }
    std::array<unsigned char, kConfigHeaderSize> header{};
    std::memcpy(header.data(), kMagic, sizeof kMagic);
    header[7] = static_cast<unsigned char>(0x80 + (record.configVersion & 0xFF));
    const std::array<unsigned char, kConfigReservedSize> reserved{};

    struct Step {
        const void* data;
        size_t size;
        const char* failure;
    };
    const Step steps[] = {
        {header.data(), header.size(), "Problem 1 initiating file save"},
        {&record.settingsRecord, sizeof record.settingsRecord,
         "Problem 2 occurred - file not saved"},
        {reserved.data(), reserved.size(), "Problem 3 occurred - file not saved"},
        {&record.meterSettings, sizeof record.meterSettings, "Problem 4 occurred - file not saved"},
        {record.procAmp.presets.data(), sizeof record.procAmp.presets,
         "Problem 5 occurred - full file not saved"},
        {record.sourceName, sizeof record.sourceName, "Problem 6 occurred - full file not saved"},
    };
    for (const Step& step : steps) {
        if (!file.Write(step.data, step.size)) {
            notifier.Show(step.failure, kSaveCaption, MessageButtons::Ok);
            return 0;
        }
    }
    // The data only counts as saved once it is on disk under the real name.
    if (!file.Commit()) {
        notifier.Show(steps[5].failure, kSaveCaption, MessageButtons::Ok);
        return 0;
    }
    return 1;
}

int LoadConfig(RelayRecord& record, const std::string& path, INotifier& notifier) {
    record.configSectionsRead = 0;
    UniqueFile f(std::fopen(path.c_str(), "rb"));
    if (!f) return 0;  // a first start has no file
    // Only the first kConfigFileSize bytes matter; a longer file loads like a full one.
    std::array<unsigned char, kConfigFileSize> bytes;
    const size_t size = std::fread(bytes.data(), 1, bytes.size(), f.get());
    f.reset();
    return LoadConfigBytes(record, bytes.data(), size, notifier);
}

int LoadConfigBytes(RelayRecord& record, const unsigned char* data, size_t size,
                    INotifier& notifier) {
    record.configSectionsRead = 0;
    ByteReader in{data, size};

    unsigned char header[kConfigHeaderSize];
    if (!in.Read(header, sizeof header) || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        notifier.Show("Unrecognised file type", "Load File", MessageButtons::Ok);
        return 0;
    }

    // Each block is read aside, brought into its valid ranges and copied in only when complete.
    SettingsRecord settings;
    if (!in.Read(&settings, sizeof settings)) {
        notifier.Show(
            "Something went wrong - config file too small\n\n(e.g. from an earlier version)",
            "Load Config File", MessageButtons::Ok);
        return 0;
    }
    LimitStoredSettings(settings);
    record.settingsRecord = settings;
    record.configSectionsRead = 1;

    unsigned char reserved[kConfigReservedSize];
    if (!in.Read(reserved, sizeof reserved)) {
        notifier.Show("Version transition occurred - \nconfig file not fully read", "Load File",
                      MessageButtons::Ok);
        return 0;
    }
    record.configSectionsRead = 2;

    MeterSettings meter;
    if (!in.Read(&meter, sizeof meter)) return 0;
    LimitStoredMeterSettings(meter);
    record.meterSettings = meter;
    record.configSectionsRead = 3;

    std::array<ProcAmpPreset, 6> presets;
    if (!in.Read(presets.data(), sizeof presets)) return 0;
    LimitStoredPresets(presets);
    record.procAmp.presets = presets;
    record.configSectionsRead = 4;

    char name[sizeof record.sourceName];
    if (!in.Read(name, sizeof name)) return 0;
    // A name without its terminator is cut to fit, at a character boundary.
    CopyToField(record.sourceName, FieldText(name));
    record.configSectionsRead = 5;
    return 1;
}

bool StoreMenuChoices(const std::string& path, int8_t loadOnStartup, int8_t saveOnExit) {
    std::vector<uint8_t> bytes(kConfigFileSize);
    {
        UniqueFile f(std::fopen(path.c_str(), "rb"));
        if (!f || std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return false;
        if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
    }
    bytes[kConfigHeaderSize + offsetof(SettingsRecord, loadOnStartupSetting)] =
        static_cast<uint8_t>(loadOnStartup);
    bytes[kConfigHeaderSize + offsetof(SettingsRecord, saveOnExitSetting)] =
        static_cast<uint8_t>(saveOnExit);
    AtomicFile out(path);
    return out.Open() && out.Write(bytes.data(), bytes.size()) && out.Commit();
}

}  // namespace velmor
