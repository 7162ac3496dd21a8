#include "engine/metadata_texts.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "relay/text_fields.h"

namespace velmor {
namespace {

using Attributes = std::initializer_list<std::pair<const char*, const char*>>;

// "<name" then ` key="value"` per attribute with `separator` between them, then "/>".
std::string Element(const char* name, Attributes attributes, const std::string& separator) {
    std::string text = std::string("<") + name;
    bool first = true;
    for (const auto& [key, value] : attributes) {
        text += first ? " " : separator;
        first = false;
        text += std::string(key) + "=\"" + value + "\"";
    }
    return text + "/>";
}

std::string VideoFormat(const char* x, const char* y, const char* aspect) {
    return Element("video_format",
                   {{"xres", x},
                    {"yres", y},
                    {"frame_rate_n", "30000"},
                    {"frame_rate_d", "1200"},
                    {"aspect_ratio", aspect},
                    {"progressive", "true"}},
                   " ");
}

std::string AudioFormat(const char* channels) {
    return Element("audio_format", {{"no_channels", channels}, {"sample_rate", "48000"}}, " ");
}

const std::string kFourteenSpaces(14, ' ');

}  // namespace

const std::string& ReceiverFormatHint() {
    static const std::string text = [] {
        std::string t = "<ndi_format>\n";
        for (const std::string& child :
             {VideoFormat("1920", "1080", "1.77778"), VideoFormat("1280", "720", "1.77778"),
              VideoFormat("720", "576", "1.77778"), VideoFormat("720", "576", "1.33333"),
              AudioFormat("4"), AudioFormat("2")}) {
            t += "   " + child + "\n";
        }
        return t + "</ndi_format>";
    }();
    return text;
}

const std::string& ReceiverProductText() {
    static const std::string text = Element("ndi_product",
                                            {{"long_name", "NDI Receiver-Transmitter."},
                                             {"short_name", "NDI Velmor"},
                                             {"manufacturer", "Korvolabs"},
                                             {"version", "1.0.9.000"},
                                             {"session", "default"},
                                             {"model_name", "S1"},
                                             {"serial", "ABCDEFG"}},
                                            kFourteenSpaces);
    return text;
}

const std::string& SenderProductText() {
    static const std::string text = Element("ndi_product",
                                            {{"long_name", "Korvo Receiver-Transmitter"},
                                             {"short_name", "Korvo Velmor"},
                                             {"manufacturer", "Brelta"},
                                             {"version", "1.07"},
                                             {"session", "default"},
                                             {"model_name", "K1"},
                                             {"serial", "00001"}},
                                            kFourteenSpaces);
    return text;
}

std::string MetadataFrameText(const NDIlib_metadata_frame_t& m) {
    if (!m.p_data) return {};
    const size_t limit = m.length > 0 ? static_cast<size_t>(m.length) : 1u << 20;
    return std::string(m.p_data, strnlen(m.p_data, limit));
}

std::optional<TallyState> TallyEchoState(std::string_view utf8Text) {
    // Compared as UTF-16 texts, as the window's own code compares them.
    const std::u16string text = Utf8ToUtf16(utf8Text);
    static const std::u16string kEcho = u"<ndi_tally_echo ";
    static const std::u16string kProgram = u"<ndi_tally_echo on_program=\"true";
    if (text.compare(0, 12, kEcho, 0, 12) != 0) return std::nullopt;
    if (text.compare(0, 31, kProgram, 0, 31) == 0) return TallyState::Program;
    if (text.find(u"on_preview=\"true") != std::u16string::npos) return TallyState::Preview;
    return TallyState::None;
}

}  // namespace velmor
