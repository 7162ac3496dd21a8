// The one way Velmor reaches NDI: a table of the C API's functions, resolved at run time from
// either the installed NDI runtime or Velmor's built-in transport. Everything above ndi/ calls
// through a `const NdiLibrary&`, so tests can hand the engine a table of fakes instead of a real
// library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ndi/ndi_types.h"

namespace velmor {

// Function pointer types, one per exported NDI function, with the published signatures.
extern "C" {
typedef bool (*NDIlib_initialize_fn)(void);
typedef void (*NDIlib_destroy_fn)(void);
typedef const char* (*NDIlib_version_fn)(void);
typedef bool (*NDIlib_is_supported_CPU_fn)(void);

typedef NDIlib_find_instance_t (*NDIlib_find_create_v2_fn)(const NDIlib_find_create_t*);
typedef void (*NDIlib_find_destroy_fn)(NDIlib_find_instance_t);
typedef const NDIlib_source_t* (*NDIlib_find_get_current_sources_fn)(NDIlib_find_instance_t,
                                                                     uint32_t* no_sources);
typedef bool (*NDIlib_find_wait_for_sources_fn)(NDIlib_find_instance_t, uint32_t timeout_ms);

typedef NDIlib_recv_instance_t (*NDIlib_recv_create_v3_fn)(const NDIlib_recv_create_v3_t*);
typedef void (*NDIlib_recv_destroy_fn)(NDIlib_recv_instance_t);
typedef NDIlib_frame_type_e (*NDIlib_recv_capture_v2_fn)(NDIlib_recv_instance_t,
                                                         NDIlib_video_frame_v2_t*,
                                                         NDIlib_audio_frame_v2_t*,
                                                         NDIlib_metadata_frame_t*,
                                                         uint32_t timeout_ms);
typedef void (*NDIlib_recv_free_video_v2_fn)(NDIlib_recv_instance_t,
                                             const NDIlib_video_frame_v2_t*);
typedef void (*NDIlib_recv_free_audio_v2_fn)(NDIlib_recv_instance_t,
                                             const NDIlib_audio_frame_v2_t*);
typedef void (*NDIlib_recv_free_metadata_fn)(NDIlib_recv_instance_t,
                                             const NDIlib_metadata_frame_t*);
typedef bool (*NDIlib_recv_set_tally_fn)(NDIlib_recv_instance_t, const NDIlib_tally_t*);
typedef void (*NDIlib_recv_add_connection_metadata_fn)(NDIlib_recv_instance_t,
                                                       const NDIlib_metadata_frame_t*);
typedef int (*NDIlib_recv_get_no_connections_fn)(NDIlib_recv_instance_t);

typedef NDIlib_send_instance_t (*NDIlib_send_create_fn)(const NDIlib_send_create_t*);
typedef void (*NDIlib_send_destroy_fn)(NDIlib_send_instance_t);
typedef void (*NDIlib_send_send_video_v2_fn)(NDIlib_send_instance_t,
                                             const NDIlib_video_frame_v2_t*);
typedef void (*NDIlib_send_send_video_async_v2_fn)(NDIlib_send_instance_t,
                                                   const NDIlib_video_frame_v2_t*);
typedef void (*NDIlib_send_send_audio_v2_fn)(NDIlib_send_instance_t,
                                             const NDIlib_audio_frame_v2_t*);
typedef void (*NDIlib_send_send_metadata_fn)(NDIlib_send_instance_t,
                                             const NDIlib_metadata_frame_t*);
typedef void (*NDIlib_send_add_connection_metadata_fn)(NDIlib_send_instance_t,
                                                       const NDIlib_metadata_frame_t*);
typedef void (*NDIlib_send_clear_connection_metadata_fn)(NDIlib_send_instance_t);
typedef bool (*NDIlib_send_get_tally_fn)(NDIlib_send_instance_t, NDIlib_tally_t*,
                                         uint32_t timeout_ms);
typedef int (*NDIlib_send_get_no_connections_fn)(NDIlib_send_instance_t, uint32_t timeout_ms);
typedef NDIlib_frame_type_e (*NDIlib_send_capture_fn)(NDIlib_send_instance_t,
                                                      NDIlib_metadata_frame_t*,
                                                      uint32_t timeout_ms);
typedef void (*NDIlib_send_free_metadata_fn)(NDIlib_send_instance_t,
                                             const NDIlib_metadata_frame_t*);
// Velmor's built-in transport only: memory for the next frame's packed picture, sent without a
// copy by NDIlib_send_send_video_v2 of a frame that points at it (see src/ndi/builtin/api.cpp).
typedef void* (*VelmorNDI_send_lend_video_fn)(NDIlib_send_instance_t,
                                              const NDIlib_video_frame_v2_t* like);
}  // extern "C"

// Every member but the optional one at the end is non-null in a table returned by
// `LoadNdiLibrary`. A fake table for tests may leave members it never expects to be called as null.
struct NdiLibrary {
    NDIlib_initialize_fn initialize = nullptr;
    NDIlib_destroy_fn destroy = nullptr;
    NDIlib_version_fn version = nullptr;
    NDIlib_is_supported_CPU_fn is_supported_CPU = nullptr;

    NDIlib_find_create_v2_fn find_create_v2 = nullptr;
    NDIlib_find_destroy_fn find_destroy = nullptr;
    NDIlib_find_get_current_sources_fn find_get_current_sources = nullptr;
    NDIlib_find_wait_for_sources_fn find_wait_for_sources = nullptr;

    NDIlib_recv_create_v3_fn recv_create_v3 = nullptr;
    NDIlib_recv_destroy_fn recv_destroy = nullptr;
    NDIlib_recv_capture_v2_fn recv_capture_v2 = nullptr;
    NDIlib_recv_free_video_v2_fn recv_free_video_v2 = nullptr;
    NDIlib_recv_free_audio_v2_fn recv_free_audio_v2 = nullptr;
    NDIlib_recv_free_metadata_fn recv_free_metadata = nullptr;
    NDIlib_recv_set_tally_fn recv_set_tally = nullptr;
    NDIlib_recv_add_connection_metadata_fn recv_add_connection_metadata = nullptr;
    NDIlib_recv_get_no_connections_fn recv_get_no_connections = nullptr;

    NDIlib_send_create_fn send_create = nullptr;
    NDIlib_send_destroy_fn send_destroy = nullptr;
    NDIlib_send_send_video_v2_fn send_send_video_v2 = nullptr;
    NDIlib_send_send_video_async_v2_fn send_send_video_async_v2 = nullptr;
    NDIlib_send_send_audio_v2_fn send_send_audio_v2 = nullptr;
    NDIlib_send_send_metadata_fn send_send_metadata = nullptr;
    NDIlib_send_add_connection_metadata_fn send_add_connection_metadata = nullptr;
    NDIlib_send_clear_connection_metadata_fn send_clear_connection_metadata = nullptr;
    NDIlib_send_get_tally_fn send_get_tally = nullptr;
    NDIlib_send_get_no_connections_fn send_get_no_connections = nullptr;
    NDIlib_send_capture_fn send_capture = nullptr;
    NDIlib_send_free_metadata_fn send_free_metadata = nullptr;

    // Optional: set only with the built-in transport; null otherwise and in most fakes.
    VelmorNDI_send_lend_video_fn send_lend_video = nullptr;
};

// Which library `LoadNdiLibrary` may choose; the environment variable VELMOR_NDI
// ("auto", "runtime" or "builtin") sets it when the caller passes `FromEnvironment`.
enum class NdiChoice { FromEnvironment, Auto, Runtime, Builtin };

enum class NdiKind { None, Runtime, Builtin };

// A loaded library. Keep it alive for as long as any function of `api` may be called: dropping
// the last reference closes the shared library.
struct NdiLoadResult {
    bool ok = false;
    NdiKind kind = NdiKind::None;
    NdiLibrary api;           // all members set when ok
    std::string path;         // the file that was loaded (as dlopen was given it), empty when none
    std::string versionText;  // NDIlib_version() of the loaded library, e.g. "NDI SDK LINUX 6.0.1"
    std::string error;        // when !ok: what was looked for and why nothing was used
    std::vector<std::string> log;  // one line per path tried and the final choice, in order
    std::shared_ptr<void> handle;  // the dlopen handle; closed when the last copy goes
};

// Searches, in order: $NDI_RUNTIME_DIR_V6/libndi.so.6, $NDI_RUNTIME_DIR_V5/libndi.so.5,
// libndi.so.6 and libndi.so.5 through the dynamic linker, then /usr/lib,
// /usr/lib/x86_64-linux-gnu and /usr/local/lib (highest major version first); then the built-in
// transport, which is found through $VELMOR_NDI_BUILTIN (a file path), next to the running
// executable, or next to the library holding this code. A library that lacks any function is
// reported by name in the log and skipped. Never throws.
NdiLoadResult LoadNdiLibrary(NdiChoice choice = NdiChoice::FromEnvironment);

// The version number the About box shows: the text after the last space of NDIlib_version().
std::string NdiVersionNumber(const std::string& versionText);

// The file name of the built-in transport library.
inline constexpr const char* kBuiltinNdiLibraryName = "libvelmor_ndi_builtin.so";

}  // namespace velmor
