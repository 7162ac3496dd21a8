// The row kernels of DrawOnto: one picture row blended by its alpha onto one destination row.
// Video thread (overlays, meter, timecode) and window thread (pictures drawn into pictures).
#pragma once

#include <cstdint>

#include "video/kernel_level.h"

namespace velmor {

// `n` picture pixels onto a destination row. BGRA: `n` BGRA pixels. UYVY: `n` UYVA picture pixels
// onto the UYVY macropixels from an even destination pixel on (an odd last pixel blends into the
// first half of its macropixel). The integer formula of the reference is exact; every version
// gives its bytes.
using BlendRowFn = void (*)(uint8_t* __restrict dst, const uint8_t* __restrict src, int n);

struct BlendRowKernels {
    BlendRowFn bgra;
    BlendRowFn uyvy;
};

const BlendRowKernels& BlendRowsFor(KernelLevel level);
inline const BlendRowKernels& BestBlendRows() {
    return BlendRowsFor(BestKernelLevel());
}

}  // namespace velmor
