// A built-in transport sender: announces itself, accepts receivers over TCP, and fans every frame
// out to them. Each connection has its own bounded queue, so a stalled receiver loses its oldest
// video frames instead of holding up the caller or the other receivers; receivers on the
// same-machine path get their video through slots of their own (shared_link.h).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ndi/builtin/sender_connection.h"
#include "ndi/builtin/transport.h"

namespace velmor::builtin {

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
    // The socket of the same-machine path is there before anyone can read the announcement.
    if (!ForcedTcp()) s->ListenShared(base);
    auto fail = [&] {
        if (!s->socketFile_.empty()) std::filesystem::remove(s->socketFile_, ec);
        return nullptr;
    };
    {
        std::ofstream out(base + ".tmp", std::ios::trunc);
        out << discovery::FormatAnnouncement(a);
        if (!out) return fail();
    }
    std::filesystem::rename(base + ".tmp", base + ".src", ec);
    if (ec) return fail();
    s->announcementFile_ = base + ".src";
    if (rt.options().lan) StartLanServices();
    rt.RunSync([s] {
        s->Accept();
        s->AcceptShared();
    });
    return s;
}

Sender::~Sender() = default;

void Sender::Destroy() {
    std::error_code ec;
    if (!announcementFile_.empty()) std::filesystem::remove(announcementFile_, ec);
    if (!socketFile_.empty()) std::filesystem::remove(socketFile_, ec);
    auto self = shared_from_this();
    Runtime::Get().RunSync([self] {
        std::error_code ignored;
        self->acceptor_.close(ignored);
        self->sharedAcceptor_.close(ignored);
        self->offers_.clear();
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
            {
                std::lock_guard lock(self->linksMu_);
                ++self->plainConnections_;
            }
            c->Start();
        }
        self->Accept();
    });
}

void Sender::OnConnectionClosed(const std::shared_ptr<SenderConnection>& c) {
    if (connections_.erase(c) == 0) return;
    for (auto it = offers_.begin(); it != offers_.end();) {
        if (it->second.lock() == c || it->second.expired())
            it = offers_.erase(it);
        else
            ++it;
    }
    {
        std::lock_guard lock(linksMu_);
        if (c->link())
            std::erase(links_, c->link());
        else
            --plainConnections_;
    }
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

void Sender::BroadcastVideo(wire::Message m, std::vector<std::shared_ptr<SharedLink>> served) {
    if (!m) return;
    asio::post(Runtime::Get().io(), [self = shared_from_this(), m, served = std::move(served)] {
        auto conns = self->connections_;
        for (auto& c : conns) {
            // A receiver that joined after the caller looked still gets this frame, inline.
            if (c->link() && std::find(served.begin(), served.end(), c->link()) != served.end())
                continue;
            c->Enqueue(m, wire::MessageType::Video);
        }
    });
}

namespace {

// `frame` is the picture built in `loan`, packed as a slot holds it.
bool FillsLoan(const NDIlib_video_frame_v2_t& frame, size_t bytes, const SharedLink::Loan& loan) {
    if (bytes == 0 || frame.p_data != loan.data || bytes != loan.bytes) return false;
    return frame.line_stride_in_bytes <= 0 ||
           static_cast<size_t>(frame.line_stride_in_bytes) ==
               wire::BytesPerRow(static_cast<uint32_t>(frame.FourCC), frame.xres);
}

}  // namespace

std::optional<Sender::Lent> Sender::TakeLent() {
    std::lock_guard lock(lentMu_);
    std::optional<Lent> lent;
    lent.swap(lent_);
    return lent;
}

void* Sender::LendVideo(const NDIlib_video_frame_v2_t& like) {
    if (auto older = TakeLent()) older->link->Abandon(older->loan);
    const size_t bytes =
        wire::PictureBytes(static_cast<uint32_t>(like.FourCC), like.xres, like.yres);
    if (bytes == 0) return nullptr;
    std::shared_ptr<SharedLink> link;
    {
        std::lock_guard lock(linksMu_);
        if (links_.empty()) return nullptr;
        link = links_.front();
    }
    auto loan = link->Lend(bytes);
    if (!loan) return nullptr;
    std::lock_guard lock(lentMu_);
    lent_ = Lent{link, *loan};
    return loan->data;
}

bool Sender::Publish(const NDIlib_video_frame_v2_t& frame, int64_t timecode, int64_t timestamp) {
    const size_t bytes = wire::SendableVideoBytes(frame);
    std::optional<Lent> lent = TakeLent();
    // A loan this frame does not fill is given back now, or, when the frame was built in it all
    // the same (in another layout), once nothing reads it any more: after the copies below (its
    // own receiver then loses this frame).
    std::optional<Lent> unused;
    if (lent && !FillsLoan(frame, bytes, lent->loan)) {
        const uint8_t* from = lent->loan.data;
        if (frame.p_data >= from && frame.p_data < from + lent->loan.bytes)
            unused.swap(lent);
        else
            lent->link->Abandon(lent->loan);
        lent.reset();
    }
    struct GiveBack {
        std::optional<Lent>& lent;
        ~GiveBack() {
            if (lent) lent->link->Abandon(lent->loan);
        }
    } giveBack{unused};
    if (bytes == 0) return false;

    std::vector<std::shared_ptr<SharedLink>> links;
    int plain = 0;
    {
        std::lock_guard lock(linksMu_);
        links = links_;
        plain = plainConnections_;
    }
    std::shared_ptr<SharedLink> lentTo;
    if (lent && std::find(links.begin(), links.end(), lent->link) != links.end())
        lentTo = lent->link;
    else if (lent)
        unused.swap(lent);  // its receiver has left
    std::vector<std::shared_ptr<SharedLink>> served;
    bool inline_ = plain > 0 || links.empty();
    for (auto& link : links) {
        if (link == lentTo) {
            served.push_back(link);
        } else if (link->Send(frame, bytes, timecode, timestamp) == SharedLink::Result::NoMemory) {
            inline_ = true;
        } else {
            served.push_back(link);
        }
    }
    if (inline_) BroadcastVideo(wire::EncodeVideo(frame, timecode, timestamp), std::move(served));
    // Last: once its reference is queued the lent slot's receiver may write into it, so every
    // other receiver's copy is taken before.
    if (lentTo) lentTo->SendLent(lent->loan, frame, timecode, timestamp);
    return true;
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
    // A send that reads the caller's buffer later (at the next call) would keep the frame here
    // and publish it then; the published copy is what every receiver gets.
    if (!Publish(frame, tc, now)) return;
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
