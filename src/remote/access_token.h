// The HTTP front end's access token: made at start-up or read from a file, written where the
// operator's own tools find it, and compared in constant time.
#pragma once

#include <string>
#include <string_view>

namespace velmor {

// A new random token: 32 bytes from the kernel's generator (256 bits), as 43 base64url
// characters. Empty when the kernel gives no random bytes.
std::string MakeAccessToken();

// Reads the token from `path` (--http-token-file): the file's first line without surrounding
// blanks, 16 to 1024 visible ASCII characters, in a file of at most 4 KiB. False with `error`
// saying why otherwise. A file others may read is accepted, with a warning in `warning`.
bool ReadAccessToken(const std::string& path, std::string& token, std::string& error,
                     std::string& warning);

// Writes the token to $XDG_RUNTIME_DIR/velmor/http-token-N (folder 0700, file 0600, written
// under a temporary name and renamed into place) and returns the path, or empty with `error`.
std::string WriteAccessToken(const std::string& token, int copy, std::string& error);

// Whether an Authorization header carries `Bearer TOKEN` for `token` (the scheme in any letter
// case, then one or more spaces). The comparison takes the same time wherever the texts differ.
bool BearerMatches(std::string_view authorization, std::string_view token);

// Constant-time equality of two texts (the time depends only on their lengths).
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace velmor
