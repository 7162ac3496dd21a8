// The freeze and the grab of the held picture as one state machine. The window requests and
// releases a freeze; the video thread holds the requested one and takes the held picture's one
// grab. Every transition is a compare-and-swap of one word, so the window's release can never be
// overwritten by the video thread moving on from a state that no longer holds (which would leave
// the output frozen while the button shows live), and a grab-done mark can never outlive the
// freeze it belongs to.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmor {

// The numbers are those the window and remote commands have always used.
enum class FreezeState : int32_t {
    Live = 0,       // frames go out
    Held = 1,       // nothing is sent; receivers keep the last frame
    Requested = 2,  // the next frame is copied and sent, then the freeze is held
};

class FreezeLatch {
public:
    FreezeState state() const { return StateOf(word_.load(std::memory_order_acquire)); }
    bool live() const { return state() == FreezeState::Live; }
    // Whether the held picture's one grab was taken.
    bool heldGrabDone() const { return (word_.load(std::memory_order_acquire) & kGrabDone) != 0; }

    // Window thread: a freeze from live. False when one is already requested or held.
    bool Request() {
        uint32_t expected = Word(FreezeState::Live);
        return word_.compare_exchange_strong(expected, Word(FreezeState::Requested),
                                             std::memory_order_acq_rel);
    }
    // Window thread: back to live, whatever the video thread is doing.
    void Release() { word_.store(Word(FreezeState::Live), std::memory_order_release); }

    // Video thread: the requested freeze is held now. False when it was released meanwhile.
    bool Hold() {
        uint32_t expected = Word(FreezeState::Requested);
        return word_.compare_exchange_strong(expected, Word(FreezeState::Held),
                                             std::memory_order_acq_rel);
    }
    // Video thread: marks the held picture's grab as taken. False when no freeze is held or the
    // grab was taken already.
    bool MarkHeldGrab() {
        uint32_t expected = Word(FreezeState::Held);
        return word_.compare_exchange_strong(expected, Word(FreezeState::Held) | kGrabDone,
                                             std::memory_order_acq_rel);
    }

private:
    static constexpr uint32_t kStateMask = 3;
    static constexpr uint32_t kGrabDone = 4;
    static uint32_t Word(FreezeState s) { return static_cast<uint32_t>(s); }
    static FreezeState StateOf(uint32_t w) { return static_cast<FreezeState>(w & kStateMask); }

    std::atomic<uint32_t> word_{0};
};

}  // namespace velmor
