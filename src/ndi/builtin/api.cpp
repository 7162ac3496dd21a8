// The exported NDI C functions of the built-in transport. Handles are heap boxes around the
// objects' shared pointers, so work still queued on the I/O thread outlives a destroyed handle.
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "ndi/builtin/transport.h"

#define VELMOR_EXPORT extern "C" __attribute__((visibility("default")))

using velmor::builtin::Finder;
using velmor::builtin::Receiver;
using velmor::builtin::Sender;

namespace {

// No exception leaves the C interface: a failure is the function's failure value.
template <typename R, typename F>
R Guard(R failure, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

template <typename F>
void Guard(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

template <typename T>
T* Get(void* handle) {
    return handle ? static_cast<std::shared_ptr<T>*>(handle)->get() : nullptr;
}

template <typename T>
void* Box(std::shared_ptr<T> p) {
    return p ? new std::shared_ptr<T>(std::move(p)) : nullptr;
}

template <typename T>
void Unbox(void* handle) {
    if (!handle) return;
    auto* box = static_cast<std::shared_ptr<T>*>(handle);
    (*box)->Destroy();
    delete box;
}

// Strict asynchronous sends, for tests (VELMOR_NDI_STRICT_ASYNC=1, read once): the NDI runtime may
// read the buffer of an asynchronous frame until the next video call on that sender, so here that
// frame is only read then. A caller that reuses the buffer too early sends what it wrote since.
bool StrictAsync() {
    static const bool strict = [] {
        const char* v = std::getenv("VELMOR_NDI_STRICT_ASYNC");
        return v != nullptr && std::string(v) == "1";
    }();
    return strict;
}

std::mutex g_heldMutex;
std::map<void*, NDIlib_video_frame_v2_t> g_heldAsync;  // sender handle -> the caller's frame

// The next video call on `handle` (or its flush): the held frame is read and sent now.
void SendHeldAsync(void* handle, Sender* sender) {
    if (!StrictAsync()) return;
    NDIlib_video_frame_v2_t held;
    {
        std::lock_guard lock(g_heldMutex);
        auto it = g_heldAsync.find(handle);
        if (it == g_heldAsync.end()) return;
        held = it->second;
        g_heldAsync.erase(it);
    }
    if (sender) sender->SendVideo(held);
}

void DropHeldAsync(void* handle) {
    if (!StrictAsync()) return;
    std::lock_guard lock(g_heldMutex);
    g_heldAsync.erase(handle);  // the caller's buffer may be gone by now
}

}  // namespace

VELMOR_EXPORT bool NDIlib_initialize(void) {
    return Guard(false, [] {
        velmor::builtin::Runtime::Get();
        return true;
    });
}
VELMOR_EXPORT void NDIlib_destroy(void) {}
VELMOR_EXPORT const char* NDIlib_version(void) {
    return "Velmor built-in NDI transport 1.0.0";
}
VELMOR_EXPORT bool NDIlib_is_supported_CPU(void) {
    return true;
}

VELMOR_EXPORT NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* settings) {
    return Guard<void*>(nullptr, [&] { return Box(Finder::Create(settings)); });
}
VELMOR_EXPORT void NDIlib_find_destroy(NDIlib_find_instance_t f) {
    Guard([&] { Unbox<Finder>(f); });
}
VELMOR_EXPORT const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t f,
                                                                     uint32_t* count) {
    if (count) *count = 0;
    return Guard<const NDIlib_source_t*>(nullptr, [&]() -> const NDIlib_source_t* {
        auto* finder = Get<Finder>(f);
        return finder ? finder->Current(count) : nullptr;
    });
}
VELMOR_EXPORT bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t f, uint32_t timeout_ms) {
    return Guard(false, [&] {
        auto* finder = Get<Finder>(f);
        return finder && finder->WaitForSources(timeout_ms);
    });
}

VELMOR_EXPORT NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* s) {
    return Guard<void*>(nullptr,
                        [&]() -> void* { return s ? Box(Receiver::Create(*s)) : nullptr; });
}
VELMOR_EXPORT void NDIlib_recv_destroy(NDIlib_recv_instance_t r) {
    Guard([&] { Unbox<Receiver>(r); });
}
VELMOR_EXPORT NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t r,
                                                         NDIlib_video_frame_v2_t* video,
                                                         NDIlib_audio_frame_v2_t* audio,
                                                         NDIlib_metadata_frame_t* metadata,
                                                         uint32_t timeout_ms) {
    return Guard(NDIlib_frame_type_error, [&] {
        auto* receiver = Get<Receiver>(r);
        return receiver ? receiver->Capture(video, audio, metadata, timeout_ms)
                        : NDIlib_frame_type_error;
    });
}
VELMOR_EXPORT void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t r,
                                             const NDIlib_video_frame_v2_t* v) {
    if (auto* receiver = Get<Receiver>(r); receiver && v) receiver->Free(v->p_data);
}
VELMOR_EXPORT void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t r,
                                             const NDIlib_audio_frame_v2_t* a) {
    if (auto* receiver = Get<Receiver>(r); receiver && a) receiver->Free(a->p_data);
}
VELMOR_EXPORT void NDIlib_recv_free_metadata(NDIlib_recv_instance_t r,
                                             const NDIlib_metadata_frame_t* m) {
    if (auto* receiver = Get<Receiver>(r); receiver && m) receiver->Free(m->p_data);
}
VELMOR_EXPORT bool NDIlib_recv_set_tally(NDIlib_recv_instance_t r, const NDIlib_tally_t* t) {
    return Guard(false, [&] {
        auto* receiver = Get<Receiver>(r);
        return receiver && t && receiver->SetTally(*t);
    });
}
VELMOR_EXPORT void NDIlib_recv_add_connection_metadata(NDIlib_recv_instance_t r,
                                                       const NDIlib_metadata_frame_t* m) {
    Guard([&] {
        if (auto* receiver = Get<Receiver>(r); receiver && m) receiver->AddConnectionMetadata(*m);
    });
}
VELMOR_EXPORT int NDIlib_recv_get_no_connections(NDIlib_recv_instance_t r) {
    auto* receiver = Get<Receiver>(r);
    return receiver ? receiver->Connections() : 0;
}

VELMOR_EXPORT NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* s) {
    return Guard<void*>(nullptr, [&]() -> void* { return s ? Box(Sender::Create(*s)) : nullptr; });
}
VELMOR_EXPORT void NDIlib_send_destroy(NDIlib_send_instance_t s) {
    Guard([&] {
        DropHeldAsync(s);
        Unbox<Sender>(s);
    });
}
VELMOR_EXPORT void NDIlib_send_send_video_v2(NDIlib_send_instance_t s,
                                             const NDIlib_video_frame_v2_t* v) {
    Guard([&] {
        auto* sender = Get<Sender>(s);
        SendHeldAsync(s, sender);
        if (sender && v) sender->SendVideo(*v);
    });
}
// Velmor's own extension, not part of the NDI API (the installed runtime has no such function):
// memory to build the next frame's packed picture in, which NDIlib_send_send_video_v2 of a frame
// pointing at it hands to a receiver on this machine without a copy. Null when there is none.
VELMOR_EXPORT void* VelmorNDI_send_lend_video(NDIlib_send_instance_t s,
                                              const NDIlib_video_frame_v2_t* like) {
    return Guard<void*>(nullptr, [&]() -> void* {
        auto* sender = Get<Sender>(s);
        return sender && like ? sender->LendVideo(*like) : nullptr;
    });
}
// The frame is copied before this returns, so the caller's buffer is already free when the next
// call (or a null frame) asks for it back; in strict mode it is read only then (see above).
VELMOR_EXPORT void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t s,
                                                   const NDIlib_video_frame_v2_t* v) {
    Guard([&] {
        auto* sender = Get<Sender>(s);
        SendHeldAsync(s, sender);
        if (!sender || !v) return;
        if (StrictAsync()) {
            std::lock_guard lock(g_heldMutex);
            g_heldAsync[s] = *v;
        } else {
            sender->SendVideo(*v);
        }
    });
}
VELMOR_EXPORT void NDIlib_send_send_audio_v2(NDIlib_send_instance_t s,
                                             const NDIlib_audio_frame_v2_t* a) {
    Guard([&] {
        if (auto* sender = Get<Sender>(s); sender && a) sender->SendAudio(*a);
    });
}
VELMOR_EXPORT void NDIlib_send_send_metadata(NDIlib_send_instance_t s,
                                             const NDIlib_metadata_frame_t* m) {
    Guard([&] {
        if (auto* sender = Get<Sender>(s); sender && m) sender->SendMetadata(*m);
    });
}
VELMOR_EXPORT void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t s,
                                                       const NDIlib_metadata_frame_t* m) {
    Guard([&] {
        if (auto* sender = Get<Sender>(s); sender && m) sender->AddConnectionMetadata(*m);
    });
}
VELMOR_EXPORT void NDIlib_send_clear_connection_metadata(NDIlib_send_instance_t s) {
    if (auto* sender = Get<Sender>(s)) sender->ClearConnectionMetadata();
}
VELMOR_EXPORT bool NDIlib_send_get_tally(NDIlib_send_instance_t s, NDIlib_tally_t* t,
                                         uint32_t timeout_ms) {
    return Guard(false, [&] {
        auto* sender = Get<Sender>(s);
        return sender && sender->GetTally(t, timeout_ms);
    });
}
VELMOR_EXPORT int NDIlib_send_get_no_connections(NDIlib_send_instance_t s, uint32_t timeout_ms) {
    return Guard(0, [&] {
        auto* sender = Get<Sender>(s);
        return sender ? sender->GetConnections(timeout_ms) : 0;
    });
}
VELMOR_EXPORT NDIlib_frame_type_e NDIlib_send_capture(NDIlib_send_instance_t s,
                                                      NDIlib_metadata_frame_t* m,
                                                      uint32_t timeout_ms) {
    return Guard(NDIlib_frame_type_error, [&] {
        auto* sender = Get<Sender>(s);
        return sender ? sender->Capture(m, timeout_ms) : NDIlib_frame_type_error;
    });
}
VELMOR_EXPORT void NDIlib_send_free_metadata(NDIlib_send_instance_t s,
                                             const NDIlib_metadata_frame_t* m) {
    Guard([&] {
        if (auto* sender = Get<Sender>(s)) sender->FreeMetadata(m);
    });
}
