// Feeds arbitrary bytes to the overlay's picture loader as a file of each picture kind: the
// header-size refusal, the decode and the conversion to BGRA must survive whatever a file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/image_files.h"

// Pictures up to 8192 x 8192 are allowed, a quarter of a gigabyte each: ASan's quarantine of
// freed blocks, left at its default, would count them against the fuzzer's memory limit long after
// they are gone.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kExtensions[] = {".png", ".gif", ".bmp", ".jpg", ".tif"};
    static const std::string base = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/velmor-picture-fuzz-" +
               std::to_string(::getpid());
    }();
    if (size == 0) return 0;
    // The first byte picks the kind, so one corpus reaches every decoder.
    const std::string path = base + kExtensions[data[0] % 5];
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    velmor::ImageBuffer picture;
    velmor::LoadPictureFile(picture, path);
    std::remove(path.c_str());
    return 0;
}
