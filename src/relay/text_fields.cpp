#include "relay/text_fields.h"

#include <algorithm>
#include <cstring>

namespace velmor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; advances i past it (or past one byte when malformed).
char32_t DecodeUtf8(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + extra >= text.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += extra + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = DecodeUtf8(text, i);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

size_t Utf8PrefixLength(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text.size();
    size_t n = limit;
    // Step back over continuation bytes so that the cut falls before a lead byte.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

size_t CopyToField(char* field, size_t capacity, std::string_view text) {
    if (capacity == 0) return 0;
    const size_t cut = text.find('\0');
    if (cut != std::string_view::npos) text = text.substr(0, cut);
    const size_t n = Utf8PrefixLength(text, capacity - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, capacity - n);
    return n;
}

size_t CopyToField(char16_t* field, size_t capacity, std::u16string_view text) {
    if (capacity == 0) return 0;
    const size_t cut = text.find(u'\0');
    if (cut != std::u16string_view::npos) text = text.substr(0, cut);
    size_t n = std::min(text.size(), capacity - 1);
    // Never keep the high half of a surrogate pair without its low half.
    if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    std::copy_n(text.data(), n, field);
    std::fill(field + n, field + capacity, u'\0');
    return n;
}

std::string FieldText(const char* field, size_t capacity) {
    const void* end = std::memchr(field, 0, capacity);
    const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - field) : capacity;
    return std::string(field, n);
}

std::u16string FieldText(const char16_t* field, size_t capacity) {
    size_t n = 0;
    while (n < capacity && field[n] != u'\0')
        ++n;
    return std::u16string(field, n);
}

}  // namespace velmor
