// Conversions between the program's UTF-8 texts and the fixed-size text fields of stored records.
// A text that does not fit is cut at a character boundary and always keeps its terminating zero.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmor {

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD; nothing is read outside the given range.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Copies `text` into an 8-bit field of `capacity` bytes (terminator included), cutting at a UTF-8
// character boundary. The rest of the field is zero-filled. Returns the number of bytes copied.
size_t CopyToField(char* field, size_t capacity, std::string_view text);

// Copies `text` into a UTF-16 field of `capacity` units (terminator included), never splitting a
// surrogate pair. The rest of the field is zero-filled.
size_t CopyToField(char16_t* field, size_t capacity, std::u16string_view text);

// The text of a NUL-terminated field, never reading past `capacity`.
std::string FieldText(const char* field, size_t capacity);
std::u16string FieldText(const char16_t* field, size_t capacity);

template <size_t N>
size_t CopyToField(char (&field)[N], std::string_view text) {
    return CopyToField(field, N, text);
}
template <size_t N>
size_t CopyToField(char16_t (&field)[N], std::u16string_view text) {
    return CopyToField(field, N, text);
}
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}
template <size_t N>
std::u16string FieldText(const char16_t (&field)[N]) {
    return FieldText(field, N);
}

// Largest prefix length of `text` (at most `limit` bytes) that ends on a UTF-8 character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t limit);

}  // namespace velmor
