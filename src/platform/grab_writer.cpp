// Frame grab writing; see grab_writer.h.
#include "platform/grab_writer.h"

#include <algorithm>
#include <cstdio>

#include "platform/image_files.h"

namespace velmor {

std::string GrabPath(const GrabSetup& setup, int instanceIndex, const std::tm& localTime) {
    if (setup.formatIndex < 0 || setup.formatIndex >= static_cast<int>(kGrabExtensions.size()))
        return {};
    std::string name = setup.useBaseName ? setup.baseName : std::string("VelmorGrab");
    std::replace(name.begin(), name.end(), '/', '_');
    name += "-" + std::to_string(instanceIndex + 1);
    char part[32];
    if (setup.addDate && std::strftime(part, sizeof part, "-%Y%m%d", &localTime) > 0) name += part;
    if (setup.addTime && std::strftime(part, sizeof part, "-%H%M%S", &localTime) > 0) name += part;
    name += kGrabExtensions[static_cast<size_t>(setup.formatIndex)];
    if (setup.grabFolder.empty()) return name;
    std::string folder = setup.grabFolder;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/" + name;
}

bool WriteGrab(const GrabSetup& setup, int instanceIndex, const ImageBuffer& outputImage,
               IGrabLamps& lamps, std::time_t now) {
    std::tm local{};
    const bool haveTime = localtime_r(&now, &local) != nullptr;
    const std::string path = haveTime ? GrabPath(setup, instanceIndex, local) : std::string();
    const bool ok = !path.empty() && EncodeImageFile(path, outputImage);
    if (ok) {
        lamps.ShowSignalLamp(Lamp::Green);
        lamps.StartGrabBlink();
    } else {
        lamps.ShowSignalLamp(Lamp::Red);
    }
    return ok;
}

}  // namespace velmor
