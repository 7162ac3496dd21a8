// The objects behind the built-in transport's C functions. One I/O thread per process runs every
// socket and timer (Asio); the application's threads only queue work for it and wait on condition
// variables, so a slow peer never blocks a caller.
#pragma once

#include "ndi/builtin/asio_setup.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ndi/builtin/discovery.h"
#include "ndi/builtin/shared_link.h"
#include "ndi/builtin/shared_wire.h"
#include "ndi/builtin/unix_socket.h"
#include "ndi/builtin/wire.h"
#include "ndi/ndi_types.h"

namespace velmor::builtin {

int64_t Now100ns();  // wall clock in the 100 ns units NDI timestamps use

// One line on standard error: the built-in transport has no other way to tell why it does what
// it does (the same-machine path not set up, say).
void Log(const std::string& line);

// The same-machine path is used unless VELMOR_NDI_TCP=1, read when a sender or receiver is made
// (so one process can compare both paths).
bool ForcedTcp();
// This machine's boot id (empty when it cannot be read): the same for every process of one boot.
const std::string& BootId();
wire::Token RandomToken();

// Settings read from the environment once per process.
struct Options {
    bool lan = false;                              // listen on every interface (VELMOR_NDI_LAN=1)
    std::vector<std::string> multicastInterfaces;  // VELMOR_NDI_MULTICAST=eth0,eth1
    uint16_t discoveryPort = 5990;                 // VELMOR_NDI_DISCOVERY_PORT
    std::string announcementDir;
};

class Runtime {
public:
    static Runtime& Get();
    asio::io_context& io() { return io_; }
    const Options& options() const { return options_; }
    // Runs `fn` on the I/O thread and waits for it, unless already there.
    void RunSync(std::function<void()> fn);
    bool OnIoThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    // Stops the I/O thread at process exit, so nothing runs while the process is torn down.
    void Shutdown();

private:
    Runtime();
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    Options options_;
    std::thread thread_;
    std::atomic<bool> stopped_{false};
};

// Asks the responder of `host` for its sources; `done` runs on the I/O thread with the list (empty
// on any failure) within about `timeout`.
void QueryHost(const asio::ip::address& host, uint16_t port, std::chrono::milliseconds timeout,
               std::function<void(bool ok, std::vector<discovery::Announcement>)> done);

// Answers QueryHost on the discovery port and sends multicast announcements (both opt-in).
void StartLanServices();

// Parses "a.b.c.d:port" (port optional); false for anything else.
bool ParseUrl(const std::string& url, asio::ip::address& host, uint16_t& port);

class SenderConnection;
class SharedLink;
class SlotMapping;

class Sender : public std::enable_shared_from_this<Sender> {
public:
    static std::shared_ptr<Sender> Create(const NDIlib_send_create_t& settings);
    ~Sender();
    void Destroy();

    void SendVideo(const NDIlib_video_frame_v2_t& frame);
    // Memory for the next video frame's packed picture of `like`'s size and FourCC: a slot of a
    // receiver on the same-machine path, so that SendVideo of a frame whose p_data is this
    // pointer (and whose stride is the packed one) hands the slot over without copying it. Null
    // when no such receiver is connected. The memory stays the caller's until that send, the
    // next LendVideo, or a send of any other picture, which give it back.
    void* LendVideo(const NDIlib_video_frame_v2_t& like);
    void SendAudio(const NDIlib_audio_frame_v2_t& frame);
    void SendMetadata(const NDIlib_metadata_frame_t& frame);
    void AddConnectionMetadata(const NDIlib_metadata_frame_t& frame);
    void ClearConnectionMetadata();
    bool GetTally(NDIlib_tally_t* tally, uint32_t timeoutMs);
    int GetConnections(uint32_t timeoutMs);
    NDIlib_frame_type_e Capture(NDIlib_metadata_frame_t* frame, uint32_t timeoutMs);
    void FreeMetadata(const NDIlib_metadata_frame_t* frame);

    const std::string& name() const { return name_; }

    // I/O thread side.
    void OnUpstreamMetadata(std::string text, int64_t timecode);
    void OnConnectionChange();
    void OnConnectionClosed(const std::shared_ptr<SenderConnection>& c);
    std::vector<wire::Message> ConnectionMetadataMessages();
    // The same-machine path (shared_listener.cpp): the offer for a receiver that said `hello`
    // (null when it cannot have one), and the receiver's arrival on it.
    wire::Message OfferShared(const std::shared_ptr<SenderConnection>& c, const wire::Hello& hello);
    void OnShared(const std::shared_ptr<SenderConnection>& c);

private:
    explicit Sender(asio::io_context& io) : acceptor_(io), sharedAcceptor_(io) {}
    void Accept();
    void Broadcast(wire::Message m, wire::MessageType type);
    // Video goes to every receiver on the same-machine path through its slots (on the caller's
    // thread) and, encoded once, to the others. False for a frame the transport cannot carry.
    bool Publish(const NDIlib_video_frame_v2_t& frame, int64_t timecode, int64_t timestamp);
    void BroadcastVideo(wire::Message m, std::vector<std::shared_ptr<SharedLink>> served);
    void Pace(int64_t& next, int64_t period);
    void ListenShared(const std::string& base);
    void AcceptShared();
    void Join(std::shared_ptr<UnixSocket> socket);

    std::string name_;
    std::string groups_;
    bool clockVideo_ = false, clockAudio_ = false;
    std::string announcementFile_;
    asio::ip::tcp::acceptor acceptor_;
    std::set<std::shared_ptr<SenderConnection>> connections_;  // I/O thread only

    // The same-machine path: the Unix socket beside the announcement, the offers not yet taken up
    // and joins not yet read (I/O thread only).
    asio::local::stream_protocol::acceptor sharedAcceptor_;
    std::string socketFile_, socketName_;
    std::map<wire::Token, std::weak_ptr<SenderConnection>> offers_;
    int pendingJoins_ = 0;
    // What the caller's thread needs to know of the receivers: the ones with slots, and how many
    // others (TCP, or not yet joined) want the encoded message.
    std::mutex linksMu_;
    std::vector<std::shared_ptr<SharedLink>> links_;
    int plainConnections_ = 0;

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> connectionMetadata_;
    std::deque<std::pair<std::string, int64_t>> upstream_;
    std::map<const char*, std::unique_ptr<char[]>> upstreamHeld_;
    NDIlib_tally_t tally_{};
    bool tallyChanged_ = false;
    int connectionCount_ = 0;
    bool closed_ = false;

    // The slot lent for the next frame, and the receiver it belongs to.
    struct Lent {
        std::shared_ptr<SharedLink> link;
        SharedLink::Loan loan;
    };
    std::mutex lentMu_;
    std::optional<Lent> lent_;
    std::optional<Lent> TakeLent();  // the loan, which the caller sends or gives back

    std::mutex videoPaceMu_, audioPaceMu_;
    int64_t nextVideo_ = 0, nextAudio_ = 0;
};

class Receiver : public std::enable_shared_from_this<Receiver> {
public:
    static std::shared_ptr<Receiver> Create(const NDIlib_recv_create_v3_t& settings);
    ~Receiver();
    void Destroy();

    NDIlib_frame_type_e Capture(NDIlib_video_frame_v2_t* video, NDIlib_audio_frame_v2_t* audio,
                                NDIlib_metadata_frame_t* metadata, uint32_t timeoutMs);
    void Free(const void* data);
    bool SetTally(const NDIlib_tally_t& tally);
    void AddConnectionMetadata(const NDIlib_metadata_frame_t& frame);
    int Connections();
    uint64_t DroppedVideo();

    // Bounds of the queues a slow application falls behind into; the oldest frame goes first.
    static constexpr size_t kVideoQueue = 16;
    static constexpr size_t kAudioQueue = 32;
    static constexpr size_t kMetadataQueue = 64;
    static constexpr size_t kVideoQueueBytes = size_t(512) << 20;
    // On the same-machine path the queue rides out as much as the slots allow: all but one for
    // the application and the sender's spare (the oldest frame goes first, its slot back to the
    // sender). The application holds at most half of them directly; frames it captures beyond
    // that are copied out and their slots returned at once.
    static size_t SharedQueueLimit(uint32_t slots) { return std::max<size_t>(1, slots - 2); }
    static size_t SharedHoldLimit(uint32_t slots) { return std::max<size_t>(1, slots / 2); }

private:
    // A frame's slot, from its arrival until the application frees the frame or it is dropped
    // on the way; letting go of it sends the slot back to the sender.
    struct SharedFrame {
        std::shared_ptr<SlotMapping> mapping;
        wire::SlotRef ref;
        std::weak_ptr<Receiver> receiver;
        uint64_t generation = 0;
        ~SharedFrame();
    };
    struct Item {
        uint64_t seq = 0;
        wire::MessageType type{};
        std::shared_ptr<wire::Bytes> payload;
        std::shared_ptr<SharedFrame> shared;  // video on the same-machine path
        size_t bytes = 0;                     // what it costs the video queue's byte bound
        wire::VideoView video;
        wire::AudioView audio;
        wire::MetadataView metadata;
    };
    // What a captured frame points into, kept until the application frees the frame.
    struct Hold {
        std::shared_ptr<wire::Bytes> payload;
        std::shared_ptr<SharedFrame> shared;
        std::vector<uint8_t> converted, doubled;
        std::vector<float> audio;
        std::string metadata;
    };
    enum class Channel { Tcp, Unix };

    explicit Receiver(asio::io_context& io) : socket_(io), unix_(io), timer_(io) {}
    void Connect();
    void ConnectTo(const asio::ip::tcp::endpoint& ep);
    void ScheduleReconnect();
    void ReadExact(Channel ch, uint8_t* data, size_t size,
                   std::function<void(std::error_code)> done);
    void ReadHeader(Channel ch);
    void ReadPayload(Channel ch, wire::Header header);
    void ReadRest(Channel ch, wire::Header header, std::shared_ptr<wire::Bytes> payload,
                  size_t have = 0);
    bool Handle(Channel ch, const wire::Header& header, const std::shared_ptr<wire::Bytes>& p);
    void Disconnected(uint64_t generation);
    void Write(wire::Message m, Channel ch = Channel::Tcp);
    void WriteNext(Channel ch);
    void Deliver(Item item);
    NDIlib_frame_type_e Take(Item& item, bool direct, NDIlib_video_frame_v2_t* video,
                             NDIlib_audio_frame_v2_t* audio, NDIlib_metadata_frame_t* metadata);

    // The same-machine path (receiver_shared.cpp).
    bool AsksShared() const;
    bool OnOffer(const uint8_t* p, size_t n);
    bool OnSharedStart(const uint8_t* p, size_t n);
    bool OnSlots(const uint8_t* p, size_t n);
    bool OnSharedVideo(const std::shared_ptr<wire::Bytes>& payload);
    void ReleaseSlot(uint64_t generation, wire::SlotRef ref);
    void ResetShared();
    void LogShared(const std::string& why);

    std::string sourceName_, sourceUrl_, recvName_;
    int32_t colorFormat_ = 1, bandwidth_ = 100;
    bool allowFields_ = true;

    bool forceTcp_ = false;

    // I/O thread only.
    asio::ip::tcp::socket socket_;
    UnixSocket unix_;  // the same-machine path of the current connection, once offered
    asio::steady_timer timer_;
    uint8_t header_[2][wire::kHeaderSize] = {};  // by channel
    std::deque<wire::Message> writes_[2];
    bool connecting_ = false, connected_ = false, stopping_ = false;
    int attempts_ = 0;
    uint64_t generation_ = 0;    // bumped per connection; callbacks of an older one do nothing
    std::vector<UniqueFd> fds_;  // descriptors read from unix_, not yet claimed by a message
    wire::SlotBook book_;
    std::shared_ptr<SlotMapping> mapping_;  // of the current set
    bool askedShared_ = false;     // this connection's hello asked for the same-machine path
    bool heard_ = false;           // something came from the sender on this connection
    bool plainHelloNext_ = false;  // the sender hung up on our version 2 hello unanswered
    bool offered_ = false, joined_ = false, sharedStarted_ = false;
    bool preferTcp_ = false;  // the shared path failed here once; this receiver stays on TCP
    std::string loggedShared_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Item> video_, audio_, metadata_;
    size_t videoBytes_ = 0;
    uint64_t nextSeq_ = 0;
    uint64_t droppedVideo_ = 0;
    bool statusChange_ = false;
    bool linkUp_ = false;
    bool tallySet_ = false;
    NDIlib_tally_t tally_{};
    std::vector<std::string> connectionMetadata_;
    std::map<const void*, std::unique_ptr<Hold>> holds_;
    size_t sharedHolds_ = 0;  // holds that point into a slot
};

class Finder : public std::enable_shared_from_this<Finder> {
public:
    static std::shared_ptr<Finder> Create(const NDIlib_find_create_t* settings);
    void Destroy();
    const NDIlib_source_t* Current(uint32_t* count);
    bool WaitForSources(uint32_t timeoutMs);

private:
    struct Entry {
        std::string name, url;
        bool operator==(const Entry&) const = default;
    };
    struct Remote {
        std::vector<discovery::Announcement> list;
        std::chrono::steady_clock::time_point seen;
        bool pending = false;
    };
    explicit Finder(asio::io_context& io) : timer_(io) {}
    void Tick();
    void Rebuild();

    bool showLocal_ = true;
    std::vector<std::string> groups_;
    std::vector<asio::ip::address> extraIps_;

    // I/O thread only.
    asio::steady_timer timer_;
    int ticks_ = 0;
    bool stopping_ = false;
    std::vector<discovery::Announcement> local_;
    std::map<asio::ip::address, Remote> remote_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Entry> entries_;
    uint64_t generation_ = 0, seenGeneration_ = 0;
    bool closed_ = false;
    // What the last Current() call handed out; valid until the next call.
    std::vector<Entry> handedOut_;
    std::vector<NDIlib_source_t> array_;
};

// Multicast sightings shared by every finder of the process (opt-in).
std::vector<std::pair<asio::ip::address, discovery::Announcement>> MulticastSightings();

}  // namespace velmor::builtin
