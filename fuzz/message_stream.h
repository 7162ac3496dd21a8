// Walks bytes as a reader of the built-in transport's sockets does: a header, then the payload it
// announces, message after message, until a header does not parse or a payload is cut short.
// Each payload is handed over as a copy of exactly the announced length, so that a parser
// reading past it is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ndi/builtin/wire.h"

template <typename Handle>
void ForEachMessage(const uint8_t* data, size_t size, Handle&& handle) {
    using namespace velmor::wire;
    while (size >= kHeaderSize) {
        Header h;
        if (!ParseHeader(data, h)) return;
        data += kHeaderSize;
        size -= kHeaderSize;
        if (h.length > size) return;
        const std::vector<uint8_t> payload(data, data + h.length);
        handle(h, payload.data(), payload.size());
        data += h.length;
        size -= h.length;
    }
}
