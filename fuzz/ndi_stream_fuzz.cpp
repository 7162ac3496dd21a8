// Feeds bytes to the built-in transport's stream parsers as a receiver or sender would read them
// from a socket: header, then payload, message after message, and converts every picture that
// parses into each format a receiver may ask for.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "message_stream.h"
#include "ndi/builtin/convert.h"
#include "ndi/builtin/wire.h"

using namespace velmor::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    ForEachMessage(data, size, [&](const Header& h, const uint8_t* p, size_t n) {
        // The receiver allocates on the strength of the prefix check; a payload that parses must
        // always have passed it.
        const bool prefixOk = PrefixAgrees(h, p);
        switch (h.type) {
            case MessageType::Hello: {
                Hello hello;
                ParseHello(p, n, hello);
                break;
            }
            case MessageType::Video: {
                VideoView v;
                if (!ParseVideo(p, n, v)) break;
                if (!prefixOk) __builtin_trap();
                for (int32_t format : {0, 1, 2, 3, 100}) {
                    const uint32_t to = DeliveredFourCC(format, v.fourCC);
                    if (to != v.fourCC) ConvertPicture(v.fourCC, v.data, v.xres, v.yres, to, out);
                }
                LineDouble(v.fourCC, v.data, v.xres, v.yres, out);
                break;
            }
            case MessageType::Audio: {
                AudioView a;
                if (ParseAudio(p, n, a)) {
                    if (!prefixOk) __builtin_trap();
                    volatile float sink = 0;
                    const size_t floats = static_cast<size_t>(a.channels) * a.samples;
                    for (size_t i = 0; i < floats * 4; ++i)
                        sink = sink + a.data[i];
                }
                break;
            }
            case MessageType::Metadata: {
                MetadataView m;
                ParseMetadata(p, n, m);
                break;
            }
            case MessageType::Tally: {
                TallyView t;
                ParseTally(p, n, t);
                break;
            }
            default:  // the same-machine path's messages: ndi_shared_fuzz
                break;
        }
    });
    return 0;
}
