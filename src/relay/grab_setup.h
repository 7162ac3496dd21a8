// Frame grab naming and format settings of the relay record (the "Frame Grab Settings" window
// edits them): the fields of the grab file naming, kept between windows and saved.
#pragma once

#include "video/frame_grab.h"

namespace velmor {

struct GrabSetup : GrabNaming {
    int grabOnFreeze = 0;  // a freeze also requests one grab
};

}  // namespace velmor
