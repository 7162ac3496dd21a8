// A built-in transport sender: announces itself, accepts receivers over TCP, and fans every frame
// out to them. Each connection has its own bounded queue, so a stalled receiver loses its oldest
// video frames instead of holding up the caller or the other receivers.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ndi/builtin/transport.h"

namespace velmor::builtin {

class SenderConnection : public std::enable_shared_from_this<SenderConnection> {
public:
    SenderConnection(asio::ip::tcp::socket s, std::weak_ptr<Sender> owner)
        : socket_(std::move(s)), owner_(std::move(owner)) {
        std::error_code ignored;
        socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    }

    void Start() { ReadHeader(); }

    // Frames a connection may hold back before its oldest queued frame of that kind is dropped.
    // Audio frames are small, so more of them wait; metadata is never dropped.
    static constexpr size_t kVideoBacklog = 6;
    static constexpr size_t kAudioBacklog = 64;
    static constexpr size_t kOtherBacklog = 512;

    // Frames go only to receivers that have said hello: their bandwidth is known by then, and
    // the connection metadata is the first thing they get.
    bool ready() const { return ready_ && !closed_; }

    void Enqueue(const wire::Message& m, wire::MessageType type) {
        if (!ready()) return;
        if (type == wire::MessageType::Video && (bandwidth_ == NDIlib_recv_bandwidth_audio_only ||
                                                 bandwidth_ == NDIlib_recv_bandwidth_metadata_only))
            return;
        if (type == wire::MessageType::Audio && bandwidth_ == NDIlib_recv_bandwidth_metadata_only)
            return;
        if (type == wire::MessageType::Video || type == wire::MessageType::Audio) {
            // Behind the front (which is being written), drop the oldest frame of this kind.
            const size_t limit = type == wire::MessageType::Video ? kVideoBacklog : kAudioBacklog;
            size_t same = 0;
            for (size_t i = 1; i < queue_.size(); ++i)
                same += queue_[i].second == type;
            if (same >= limit) {
                for (size_t i = 1; i < queue_.size(); ++i) {
                    if (queue_[i].second == type) {
                        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
                        break;
                    }
                }
            }
        } else if (queue_.size() > kOtherBacklog) {
            // Metadata must not be lost silently: a receiver this far behind starts afresh.
            Close();
            return;
        }
        queue_.emplace_back(m, type);
        if (queue_.size() == 1) WriteNext();
    }

    void Close() {
        if (closed_) return;
        closed_ = true;
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        queue_.clear();
        if (auto owner = owner_.lock()) owner->OnConnectionClosed(shared_from_this());
    }

    NDIlib_tally_t tally{};

private:
    void WriteNext() {
        if (queue_.empty() || closed_) return;
        const auto& msg = queue_.front().first;
        asio::async_write(socket_, asio::buffer(*msg),
                          [self = shared_from_this()](std::error_code ec, size_t) {
                              if (ec || self->closed_) return self->Close();
                              self->queue_.pop_front();
                              self->WriteNext();
                          });
    }

    void ReadHeader() {
        asio::async_read(socket_, asio::buffer(header_),
                         [self = shared_from_this()](std::error_code ec, size_t) {
                             if (ec) return self->Close();
                             wire::Header h;
                             if (!wire::ParseHeader(self->header_, h) ||
                                 h.type == wire::MessageType::Video ||
                                 h.type == wire::MessageType::Audio)
                                 return self->Close();
                             self->payload_.resize(h.length);
                             asio::async_read(self->socket_, asio::buffer(self->payload_),
                                              [self, h](std::error_code e, size_t) {
                                                  if (e) return self->Close();
                                                  if (!self->Handle(h)) return self->Close();
                                                  self->ReadHeader();
                                              });
                         });
    }

    bool Handle(const wire::Header& h) {
        auto owner = owner_.lock();
        if (!owner) return false;
        const uint8_t* p = payload_.data();
        const size_t n = payload_.size();
        switch (h.type) {
            case wire::MessageType::Hello: {
                wire::Hello hello;
                if (!wire::ParseHello(p, n, hello) || ready_) return false;
                bandwidth_ = hello.bandwidth;
                ready_ = true;
                for (auto& m : owner->ConnectionMetadataMessages())
                    Enqueue(m, wire::MessageType::Metadata);
                owner->OnConnectionChange();
                return true;
            }
            case wire::MessageType::Metadata: {
                wire::MetadataView m;
                if (!wire::ParseMetadata(p, n, m)) return false;
                owner->OnUpstreamMetadata(std::string(m.text), m.timecode);
                return true;
            }
            case wire::MessageType::Tally: {
                wire::TallyView t;
                if (!wire::ParseTally(p, n, t)) return false;
                tally.on_program = t.onProgram;
                tally.on_preview = t.onPreview;
                owner->OnConnectionChange();
                return true;
            }
            default:
                return false;
        }
    }

    asio::ip::tcp::socket socket_;
    std::weak_ptr<Sender> owner_;
    std::deque<std::pair<wire::Message, wire::MessageType>> queue_;
    uint8_t header_[wire::kHeaderSize] = {};
    std::vector<uint8_t> payload_;
    int32_t bandwidth_ = NDIlib_recv_bandwidth_highest;
    bool ready_ = false;
    bool closed_ = false;
};

namespace {
std::atomic<uint64_t> g_senderSerial{0};

int64_t FramePeriod100ns(int n, int d) {
    if (n <= 0 || d <= 0) return 0;
    return static_cast<int64_t>(10'000'000) * d / n;
}
}  // namespace

std::shared_ptr<Sender> Sender::Create(const NDIlib_send_create_t& settings) {
    if (!settings.p_ndi_name || !*settings.p_ndi_name) return nullptr;
    auto& rt = Runtime::Get();
    auto s = std::shared_ptr<Sender>(new Sender(rt.io()));
    s->name_ = discovery::FullSourceName(settings.p_ndi_name);
    s->groups_ = discovery::CleanField(
        discovery::JoinGroups(discovery::SplitGroups(settings.p_groups ? settings.p_groups : "")));
    s->clockVideo_ = settings.clock_video;
    s->clockAudio_ = settings.clock_audio;

    std::error_code ec;
    const auto listen = rt.options().lan ? asio::ip::address(asio::ip::address_v4::any())
                                         : asio::ip::address(asio::ip::address_v4::loopback());
    s->acceptor_.open(asio::ip::tcp::v4(), ec);
    if (!ec) s->acceptor_.bind({listen, 0}, ec);
    if (!ec) s->acceptor_.listen(64, ec);
    if (ec) return nullptr;
    const uint16_t port = s->acceptor_.local_endpoint(ec).port();
    if (ec) return nullptr;

    discovery::Announcement a;
    a.name = s->name_;
    a.groups = s->groups_;
    a.port = port;
    a.pid = getpid();
    a.startTime = discovery::ProcessStartTime(a.pid);
    // A cleaner of temporary files may have removed the folder since start-up.
    std::filesystem::create_directories(rt.options().announcementDir, ec);
    ec.clear();
    const std::string base = rt.options().announcementDir + "/" + std::to_string(a.pid) + "-" +
                             std::to_string(++g_senderSerial);
    {
        std::ofstream out(base + ".tmp", std::ios::trunc);
        out << discovery::FormatAnnouncement(a);
        if (!out) return nullptr;
    }
    std::filesystem::rename(base + ".tmp", base + ".src", ec);
    if (ec) return nullptr;
    s->announcementFile_ = base + ".src";
    if (rt.options().lan) StartLanServices();
    rt.RunSync([s] { s->Accept(); });
    return s;
}

Sender::~Sender() = default;

void Sender::Destroy() {
    std::error_code ec;
    if (!announcementFile_.empty()) std::filesystem::remove(announcementFile_, ec);
    auto self = shared_from_this();
    Runtime::Get().RunSync([self] {
        std::error_code ignored;
        self->acceptor_.close(ignored);
        auto conns = self->connections_;
        for (auto& c : conns)
            c->Close();
        self->connections_.clear();
    });
    std::lock_guard lock(mu_);
    closed_ = true;
    upstreamHeld_.clear();
    cv_.notify_all();
}

void Sender::Accept() {
    acceptor_.async_accept([self = shared_from_this()](std::error_code ec,
                                                       asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
        if (!ec) {
            auto c = std::make_shared<SenderConnection>(std::move(socket), self->weak_from_this());
            self->connections_.insert(c);
            c->Start();
        }
        self->Accept();
    });
}

void Sender::OnConnectionClosed(const std::shared_ptr<SenderConnection>& c) {
    connections_.erase(c);
    OnConnectionChange();
}

void Sender::OnConnectionChange() {
    NDIlib_tally_t t{};
    for (const auto& c : connections_) {
        t.on_program = t.on_program || c->tally.on_program;
        t.on_preview = t.on_preview || c->tally.on_preview;
    }
    std::lock_guard lock(mu_);
    int ready = 0;
    for (const auto& c : connections_)
        ready += c->ready();
    connectionCount_ = ready;
    if (t.on_program != tally_.on_program || t.on_preview != tally_.on_preview) {
        tally_ = t;
        tallyChanged_ = true;
    }
    cv_.notify_all();
}

void Sender::OnUpstreamMetadata(std::string text, int64_t timecode) {
    std::lock_guard lock(mu_);
    if (upstream_.size() >= 64) upstream_.pop_front();
    upstream_.emplace_back(std::move(text), timecode);
    cv_.notify_all();
}

std::vector<wire::Message> Sender::ConnectionMetadataMessages() {
    std::lock_guard lock(mu_);
    std::vector<wire::Message> out;
    for (const auto& text : connectionMetadata_)
        out.push_back(wire::EncodeMetadata(text, Now100ns()));
    return out;
}

void Sender::Broadcast(wire::Message m, wire::MessageType type) {
    if (!m) return;
    asio::post(Runtime::Get().io(), [self = shared_from_this(), m, type] {
        auto conns = self->connections_;  // Enqueue may close and remove a connection
        for (auto& c : conns)
            c->Enqueue(m, type);
    });
}

void Sender::Pace(int64_t& next, int64_t period) {
    if (period <= 0) return;
    const int64_t now = Now100ns();
    if (next == 0 || now - next > 2 * period || next - now > 2 * period) next = now;
    if (next > now) std::this_thread::sleep_for(std::chrono::nanoseconds((next - now) * 100));
    next += period;
}

void Sender::SendVideo(const NDIlib_video_frame_v2_t& frame) {
    const int64_t now = Now100ns();
    const int64_t tc = frame.timecode == NDIlib_send_timecode_synthesize ? now : frame.timecode;
    auto msg = wire::EncodeVideo(frame, tc, now);
    if (!msg) return;
    Broadcast(std::move(msg), wire::MessageType::Video);
    if (clockVideo_) {
        std::lock_guard lock(videoPaceMu_);
        Pace(nextVideo_, FramePeriod100ns(frame.frame_rate_N, frame.frame_rate_D));
    }
}

void Sender::SendAudio(const NDIlib_audio_frame_v2_t& frame) {
    const int64_t now = Now100ns();
    const int64_t tc = frame.timecode == NDIlib_send_timecode_synthesize ? now : frame.timecode;
    auto msg = wire::EncodeAudio(frame, tc, now);
    if (!msg) return;
    Broadcast(std::move(msg), wire::MessageType::Audio);
    if (clockAudio_ && frame.sample_rate > 0) {
        std::lock_guard lock(audioPaceMu_);
        Pace(nextAudio_, static_cast<int64_t>(10'000'000) * frame.no_samples / frame.sample_rate);
    }
}

void Sender::SendMetadata(const NDIlib_metadata_frame_t& frame) {
    const int64_t tc =
        frame.timecode == NDIlib_send_timecode_synthesize ? Now100ns() : frame.timecode;
    Broadcast(wire::EncodeMetadata(wire::MetadataText(frame), tc), wire::MessageType::Metadata);
}

void Sender::AddConnectionMetadata(const NDIlib_metadata_frame_t& frame) {
    std::lock_guard lock(mu_);
    if (connectionMetadata_.size() < 64)
        connectionMetadata_.emplace_back(wire::MetadataText(frame));
}

void Sender::ClearConnectionMetadata() {
    std::lock_guard lock(mu_);
    connectionMetadata_.clear();
}

bool Sender::GetTally(NDIlib_tally_t* tally, uint32_t timeoutMs) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                 [&] { return tallyChanged_ || closed_; });
    if (tally) *tally = tally_;
    const bool changed = tallyChanged_;
    tallyChanged_ = false;
    return changed;
}

int Sender::GetConnections(uint32_t timeoutMs) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                 [&] { return connectionCount_ > 0 || closed_; });
    return connectionCount_;
}

NDIlib_frame_type_e Sender::Capture(NDIlib_metadata_frame_t* frame, uint32_t timeoutMs) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                 [&] { return !upstream_.empty() || closed_; });
    if (upstream_.empty() || !frame) return NDIlib_frame_type_none;
    auto [text, timecode] = std::move(upstream_.front());
    upstream_.pop_front();
    auto data = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(data.get(), text.c_str(), text.size() + 1);
    frame->length = static_cast<int>(text.size() + 1);
    frame->timecode = timecode;
    frame->p_data = data.get();
    upstreamHeld_[data.get()] = std::move(data);
    return NDIlib_frame_type_metadata;
}

void Sender::FreeMetadata(const NDIlib_metadata_frame_t* frame) {
    if (!frame || !frame->p_data) return;
    std::lock_guard lock(mu_);
    upstreamHeld_.erase(frame->p_data);
}

}  // namespace velmor::builtin
