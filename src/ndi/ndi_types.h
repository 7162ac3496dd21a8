// The NDI C API value types and constants that Velmor uses, declared from the published facts so
// that frames, sources and settings are byte-compatible with the installed NDI runtime on x86-64.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef void* NDIlib_find_instance_t;
typedef void* NDIlib_recv_instance_t;
typedef void* NDIlib_send_instance_t;

typedef enum NDIlib_frame_type_e {
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    NDIlib_frame_type_error = 4,
    NDIlib_frame_type_status_change = 100,
    NDIlib_frame_type_source_change = 101,
    NDIlib_frame_type_max = 0x7fffffff
} NDIlib_frame_type_e;

typedef enum NDIlib_frame_format_type_e {
    NDIlib_frame_format_type_interleaved = 0,
    NDIlib_frame_format_type_progressive = 1,
    NDIlib_frame_format_type_field_0 = 2,
    NDIlib_frame_format_type_field_1 = 3,
    NDIlib_frame_format_type_max = 0x7fffffff
} NDIlib_frame_format_type_e;

#define VELMOR_NDI_FOURCC(a, b, c, d)                                            \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) |                   \
     ((uint32_t)(uint8_t)(c) << 16) | ((uint32_t)(uint8_t)(d) << 24))

typedef enum NDIlib_FourCC_video_type_e {
    NDIlib_FourCC_video_type_UYVY = VELMOR_NDI_FOURCC('U', 'Y', 'V', 'Y'),
    NDIlib_FourCC_video_type_UYVA = VELMOR_NDI_FOURCC('U', 'Y', 'V', 'A'),
    NDIlib_FourCC_video_type_P216 = VELMOR_NDI_FOURCC('P', '2', '1', '6'),
    NDIlib_FourCC_video_type_PA16 = VELMOR_NDI_FOURCC('P', 'A', '1', '6'),
    NDIlib_FourCC_video_type_YV12 = VELMOR_NDI_FOURCC('Y', 'V', '1', '2'),
    NDIlib_FourCC_video_type_I420 = VELMOR_NDI_FOURCC('I', '4', '2', '0'),
    NDIlib_FourCC_video_type_NV12 = VELMOR_NDI_FOURCC('N', 'V', '1', '2'),
    NDIlib_FourCC_video_type_BGRA = VELMOR_NDI_FOURCC('B', 'G', 'R', 'A'),
    NDIlib_FourCC_video_type_BGRX = VELMOR_NDI_FOURCC('B', 'G', 'R', 'X'),
    NDIlib_FourCC_video_type_RGBA = VELMOR_NDI_FOURCC('R', 'G', 'B', 'A'),
    NDIlib_FourCC_video_type_RGBX = VELMOR_NDI_FOURCC('R', 'G', 'B', 'X'),
    NDIlib_FourCC_video_type_max = 0x7fffffff
} NDIlib_FourCC_video_type_e;

typedef enum NDIlib_recv_color_format_e {
    NDIlib_recv_color_format_BGRX_BGRA = 0,
    NDIlib_recv_color_format_UYVY_BGRA = 1,
    NDIlib_recv_color_format_RGBX_RGBA = 2,
    NDIlib_recv_color_format_UYVY_RGBA = 3,
    NDIlib_recv_color_format_fastest = 100,
    NDIlib_recv_color_format_best = 101,
    NDIlib_recv_color_format_max = 0x7fffffff
} NDIlib_recv_color_format_e;

typedef enum NDIlib_recv_bandwidth_e {
    NDIlib_recv_bandwidth_metadata_only = -10,
    NDIlib_recv_bandwidth_audio_only = 10,
    NDIlib_recv_bandwidth_lowest = 0,
    NDIlib_recv_bandwidth_highest = 100,
    NDIlib_recv_bandwidth_max = 0x7fffffff
} NDIlib_recv_bandwidth_e;

// "Synthesize this timecode" on the sending side, "timestamp undefined" on the receiving side.
#define NDIlib_send_timecode_synthesize INT64_MAX
#define NDIlib_recv_timestamp_undefined INT64_MAX

typedef struct NDIlib_source_t {
    const char* p_ndi_name;
    const char* p_url_address;
} NDIlib_source_t;

typedef struct NDIlib_find_create_t {
    bool show_local_sources;
    const char* p_groups;
    const char* p_extra_ips;
} NDIlib_find_create_t;

typedef struct NDIlib_recv_create_v3_t {
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_color_format_e color_format;
    NDIlib_recv_bandwidth_e bandwidth;
    bool allow_video_fields;
    const char* p_ndi_recv_name;
} NDIlib_recv_create_v3_t;

typedef struct NDIlib_send_create_t {
    const char* p_ndi_name;
    const char* p_groups;
    bool clock_video;
    bool clock_audio;
} NDIlib_send_create_t;

typedef struct NDIlib_video_frame_v2_t {
    int xres;
    int yres;
    NDIlib_FourCC_video_type_e FourCC;
    int frame_rate_N;
    int frame_rate_D;
    float picture_aspect_ratio;
    NDIlib_frame_format_type_e frame_format_type;
    int64_t timecode;
    uint8_t* p_data;
    int line_stride_in_bytes;  // data_size_in_bytes for compressed FourCCs
    const char* p_metadata;
    int64_t timestamp;
} NDIlib_video_frame_v2_t;

typedef struct NDIlib_audio_frame_v2_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;
    float* p_data;
    int channel_stride_in_bytes;
    const char* p_metadata;
    int64_t timestamp;
} NDIlib_audio_frame_v2_t;

typedef struct NDIlib_metadata_frame_t {
    int length;
    int64_t timecode;
    char* p_data;
} NDIlib_metadata_frame_t;

typedef struct NDIlib_tally_t {
    bool on_program;
    bool on_preview;
} NDIlib_tally_t;

}  // extern "C"

// The layout of the published runtime on x86-64 (LP64).
static_assert(sizeof(NDIlib_frame_type_e) == 4 && sizeof(NDIlib_FourCC_video_type_e) == 4);
static_assert(sizeof(NDIlib_recv_bandwidth_e) == 4 && sizeof(NDIlib_recv_color_format_e) == 4);
static_assert(sizeof(NDIlib_source_t) == 16);
static_assert(offsetof(NDIlib_source_t, p_url_address) == 8);
static_assert(sizeof(NDIlib_find_create_t) == 24);
static_assert(offsetof(NDIlib_find_create_t, p_groups) == 8);
static_assert(offsetof(NDIlib_find_create_t, p_extra_ips) == 16);
static_assert(sizeof(NDIlib_recv_create_v3_t) == 40);
static_assert(offsetof(NDIlib_recv_create_v3_t, color_format) == 16);
static_assert(offsetof(NDIlib_recv_create_v3_t, bandwidth) == 20);
static_assert(offsetof(NDIlib_recv_create_v3_t, allow_video_fields) == 24);
static_assert(offsetof(NDIlib_recv_create_v3_t, p_ndi_recv_name) == 32);
static_assert(sizeof(NDIlib_send_create_t) == 24);
static_assert(offsetof(NDIlib_send_create_t, p_groups) == 8);
static_assert(offsetof(NDIlib_send_create_t, clock_video) == 16);
static_assert(offsetof(NDIlib_send_create_t, clock_audio) == 17);
static_assert(sizeof(NDIlib_video_frame_v2_t) == 72);
static_assert(offsetof(NDIlib_video_frame_v2_t, yres) == 4);
static_assert(offsetof(NDIlib_video_frame_v2_t, FourCC) == 8);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_rate_N) == 12);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_rate_D) == 16);
static_assert(offsetof(NDIlib_video_frame_v2_t, picture_aspect_ratio) == 20);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_format_type) == 24);
static_assert(offsetof(NDIlib_video_frame_v2_t, timecode) == 32);
static_assert(offsetof(NDIlib_video_frame_v2_t, p_data) == 40);
static_assert(offsetof(NDIlib_video_frame_v2_t, line_stride_in_bytes) == 48);
static_assert(offsetof(NDIlib_video_frame_v2_t, p_metadata) == 56);
static_assert(offsetof(NDIlib_video_frame_v2_t, timestamp) == 64);
static_assert(sizeof(NDIlib_audio_frame_v2_t) == 56);
static_assert(offsetof(NDIlib_audio_frame_v2_t, no_channels) == 4);
static_assert(offsetof(NDIlib_audio_frame_v2_t, no_samples) == 8);
static_assert(offsetof(NDIlib_audio_frame_v2_t, timecode) == 16);
static_assert(offsetof(NDIlib_audio_frame_v2_t, p_data) == 24);
static_assert(offsetof(NDIlib_audio_frame_v2_t, channel_stride_in_bytes) == 32);
static_assert(offsetof(NDIlib_audio_frame_v2_t, p_metadata) == 40);
static_assert(offsetof(NDIlib_audio_frame_v2_t, timestamp) == 48);
static_assert(sizeof(NDIlib_metadata_frame_t) == 24);
static_assert(offsetof(NDIlib_metadata_frame_t, timecode) == 8);
static_assert(offsetof(NDIlib_metadata_frame_t, p_data) == 16);
static_assert(sizeof(NDIlib_tally_t) == 2);
