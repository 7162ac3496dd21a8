// A stand-in for the vendor's libndi.so.6 that does nothing but exist: enough for the loader to
// find, resolve and name it. The incomplete variant lacks NDIlib_send_capture.
#include "ndi/ndi_types.h"

#define STANDIN extern "C" __attribute__((visibility("default")))

STANDIN bool NDIlib_initialize(void) {
    return true;
}
STANDIN void NDIlib_destroy(void) {}
STANDIN const char* NDIlib_version(void) {
    return "Stand-in NDI SDK LINUX 6.9.1";
}
STANDIN bool NDIlib_is_supported_CPU(void) {
    return true;
}
STANDIN void* NDIlib_find_create_v2(const NDIlib_find_create_t*) {
    return nullptr;
}
STANDIN void NDIlib_find_destroy(void*) {}
STANDIN const NDIlib_source_t* NDIlib_find_get_current_sources(void*, uint32_t* n) {
    if (n) *n = 0;
    return nullptr;
}
STANDIN bool NDIlib_find_wait_for_sources(void*, uint32_t) {
    return false;
}
STANDIN void* NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t*) {
    return nullptr;
}
STANDIN void NDIlib_recv_destroy(void*) {}
STANDIN NDIlib_frame_type_e NDIlib_recv_capture_v2(void*, NDIlib_video_frame_v2_t*,
                                                   NDIlib_audio_frame_v2_t*,
                                                   NDIlib_metadata_frame_t*, uint32_t) {
    return NDIlib_frame_type_none;
}
STANDIN void NDIlib_recv_free_video_v2(void*, const NDIlib_video_frame_v2_t*) {}
STANDIN void NDIlib_recv_free_audio_v2(void*, const NDIlib_audio_frame_v2_t*) {}
STANDIN void NDIlib_recv_free_metadata(void*, const NDIlib_metadata_frame_t*) {}
STANDIN bool NDIlib_recv_set_tally(void*, const NDIlib_tally_t*) {
    return false;
}
STANDIN void NDIlib_recv_add_connection_metadata(void*, const NDIlib_metadata_frame_t*) {}
STANDIN int NDIlib_recv_get_no_connections(void*) {
    return 0;
}
STANDIN void* NDIlib_send_create(const NDIlib_send_create_t*) {
    return nullptr;
}
STANDIN void NDIlib_send_destroy(void*) {}
STANDIN void NDIlib_send_send_video_v2(void*, const NDIlib_video_frame_v2_t*) {}
STANDIN void NDIlib_send_send_video_async_v2(void*, const NDIlib_video_frame_v2_t*) {}
STANDIN void NDIlib_send_send_audio_v2(void*, const NDIlib_audio_frame_v2_t*) {}
STANDIN void NDIlib_send_send_metadata(void*, const NDIlib_metadata_frame_t*) {}
STANDIN void NDIlib_send_add_connection_metadata(void*, const NDIlib_metadata_frame_t*) {}
STANDIN void NDIlib_send_clear_connection_metadata(void*) {}
STANDIN bool NDIlib_send_get_tally(void*, NDIlib_tally_t*, uint32_t) {
    return false;
}
STANDIN int NDIlib_send_get_no_connections(void*, uint32_t) {
    return 0;
}
#ifndef VELMOR_STANDIN_INCOMPLETE
STANDIN NDIlib_frame_type_e NDIlib_send_capture(void*, NDIlib_metadata_frame_t*, uint32_t) {
    return NDIlib_frame_type_none;
}
#endif
STANDIN void NDIlib_send_free_metadata(void*, const NDIlib_metadata_frame_t*) {}
