// The control page's files, built into the program (control_page/, embedded at build time by
// cmake/EmbedFiles.cmake): nothing is fetched from anywhere else.
#pragma once

#include <string_view>

namespace velmor {

struct PageFile {
    std::string_view path;  // "/index.html", "/app.js", ...
    std::string_view contentType;
    std::string_view bytes;
};

// The files, and their count.
const PageFile* ControlPageFiles(size_t& count);

}  // namespace velmor
