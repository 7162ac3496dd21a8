// Frame grab writing; see grab_writer.h.
#include "platform/grab_writer.h"

#include <string>

#include "platform/image_files.h"

namespace velmor {

bool WriteGrabFile(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
                   ImageBuffer& outputImage, std::time_t now, std::string* path) {
    std::tm date{};
    std::tm time{};
    // Date and time are read separately for their two parts of the name.
    if (localtime_r(&now, &date) == nullptr || localtime_r(&now, &time) == nullptr) return false;
    const std::string file = GrabFilePath(naming, instanceIndex, date, time);
    if (path) *path = file;
    return FrameToImage(grabImage, outputImage) && EncodeImageFile(file, outputImage);
}

bool WriteGrab(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
               ImageBuffer& outputImage, IGrabLamps& lamps, std::time_t now) {
    const bool ok = WriteGrabFile(naming, instanceIndex, grabImage, outputImage, now);
    if (ok) {
        lamps.ShowSignalLamp(Lamp::Green);
        lamps.StartGrabBlink();
    } else {
        lamps.ShowSignalLamp(Lamp::Red);
    }
    return ok;
}

}  // namespace velmor
