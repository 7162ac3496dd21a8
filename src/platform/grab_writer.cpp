// Frame grab writing; see grab_writer.h.
#include "platform/grab_writer.h"

#include <string>

#include "platform/image_files.h"

namespace velmor {

bool WriteGrab(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
               ImageBuffer& outputImage, IGrabLamps& lamps, std::time_t now) {
    bool ok = false;
    std::tm date{};
    std::tm time{};
    // Date and time are read separately for their two parts of the name.
    if (localtime_r(&now, &date) != nullptr && localtime_r(&now, &time) != nullptr) {
        const std::string path = GrabFilePath(naming, instanceIndex, date, time);
        ok = FrameToImage(grabImage, outputImage) && EncodeImageFile(path, outputImage);
    }
    if (ok) {
        lamps.ShowSignalLamp(Lamp::Green);
        lamps.StartGrabBlink();
    } else {
        lamps.ShowSignalLamp(Lamp::Red);
    }
    return ok;
}

}  // namespace velmor
