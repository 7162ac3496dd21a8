// A built-in transport receiver: finds its source by name (or address), keeps a TCP connection to
// it, reconnecting when the sender goes away and comes back, and queues what arrives for
// NDIlib_recv_capture_v2 in bounded queues. On the sender's machine the frames come through the
// same-machine path instead (receiver_shared.cpp), read from its Unix socket by the same code.
#include <chrono>
#include <cstring>

#include "ndi/builtin/convert.h"
#include "ndi/builtin/slots.h"
#include "ndi/builtin/transport.h"

namespace velmor::builtin {

using namespace std::chrono_literals;

Receiver::~Receiver() = default;

std::shared_ptr<Receiver> Receiver::Create(const NDIlib_recv_create_v3_t& settings) {
    const char* name = settings.source_to_connect_to.p_ndi_name;
    const char* url = settings.source_to_connect_to.p_url_address;
    if ((!name || !*name) && (!url || !*url)) return nullptr;
    auto& rt = Runtime::Get();
    auto r = std::shared_ptr<Receiver>(new Receiver(rt.io()));
    r->sourceName_ = name ? name : "";
    r->sourceUrl_ = url ? url : "";
    r->recvName_ = settings.p_ndi_recv_name ? discovery::CleanField(settings.p_ndi_recv_name) : "";
    r->colorFormat_ = settings.color_format;
    r->bandwidth_ = settings.bandwidth;
    r->allowFields_ = settings.allow_video_fields;
    r->forceTcp_ = ForcedTcp();
    asio::post(rt.io(), [r] { r->Connect(); });
    return r;
}

void Receiver::Destroy() {
    auto self = shared_from_this();
    Runtime::Get().RunSync([self] {
        self->stopping_ = true;
        ++self->generation_;
        self->timer_.cancel();
        std::error_code ignored;
        self->socket_.close(ignored);
        self->writes_[0].clear();
        self->ResetShared();
    });
    std::lock_guard lock(mu_);
    holds_.clear();
    sharedHolds_ = 0;
    video_.clear();
    audio_.clear();
    metadata_.clear();
    linkUp_ = false;
    cv_.notify_all();
}

void Receiver::Connect() {
    if (stopping_ || connecting_ || connected_) return;
    auto& rt = Runtime::Get();
    if (!sourceName_.empty()) {
        for (const auto& a : discovery::ScanLocal(rt.options().announcementDir)) {
            if (a.name == sourceName_) {
                return ConnectTo({asio::ip::address_v4::loopback(), a.port});
            }
        }
    }
    asio::ip::address host;
    uint16_t port = 0;
    if (!ParseUrl(sourceUrl_, host, port)) return ScheduleReconnect();
    if (port != 0 && (attempts_ == 0 || sourceName_.empty() || host.is_loopback()))
        return ConnectTo({host, port});
    // The sender may have come back on another port: ask its machine where it is now.
    connecting_ = true;
    const uint64_t gen = generation_;
    QueryHost(host, rt.options().discoveryPort, 900ms,
              [self = shared_from_this(), host, port, gen](
                  bool, std::vector<discovery::Announcement> list) {
                  if (gen != self->generation_ || self->stopping_) return;
                  self->connecting_ = false;
                  uint16_t found = port;
                  for (const auto& a : list)
                      if (a.name == self->sourceName_) found = a.port;
                  if (found == 0) return self->ScheduleReconnect();
                  self->ConnectTo({host, found});
              });
}

void Receiver::ConnectTo(const asio::ip::tcp::endpoint& ep) {
    connecting_ = true;
    const uint64_t gen = ++generation_;
    std::error_code ignored;
    socket_.close(ignored);
    ResetShared();
    socket_.async_connect(ep, [self = shared_from_this(), gen, ep](std::error_code ec) {
        if (gen != self->generation_ || self->stopping_) return;
        self->connecting_ = false;
        if (ec) return self->ScheduleReconnect();
        std::error_code e;
        self->socket_.set_option(asio::ip::tcp::no_delay(true), e);
        self->connected_ = true;
        self->attempts_ = 0;
        wire::Hello hello;
        hello.colorFormat = self->colorFormat_;
        hello.bandwidth = self->bandwidth_;
        hello.allowFields = self->allowFields_;
        hello.name = self->recvName_;
        // Only a sender on loopback is on this machine; everyone else gets the version 1 hello,
        // which senders built before the same-machine path understand. So does a local sender
        // that hung up on the last version 2 hello without a word: an older one.
        self->askedShared_ =
            self->AsksShared() && !self->plainHelloNext_ && ep.address().is_loopback();
        self->plainHelloNext_ = false;
        self->heard_ = false;
        hello.version = self->askedShared_ ? wire::kVersion : 1;
        hello.shared = self->askedShared_;
        hello.bootId = BootId();
        self->Write(wire::EncodeHello(hello));
        std::vector<std::string> meta;
        NDIlib_tally_t tally{};
        bool tallySet = false;
        {
            std::lock_guard lock(self->mu_);
            meta = self->connectionMetadata_;
            tally = self->tally_;
            tallySet = self->tallySet_;
            self->linkUp_ = true;
            self->statusChange_ = true;
            self->cv_.notify_all();
        }
        for (const auto& m : meta)
            self->Write(wire::EncodeMetadata(m, Now100ns()));
        if (tallySet) self->Write(wire::EncodeTally(tally.on_program, tally.on_preview));
        self->ReadHeader(Channel::Tcp);
    });
}

void Receiver::ScheduleReconnect() {
    if (stopping_) return;
    ++attempts_;
    timer_.expires_after(attempts_ < 5 ? 100ms : 250ms);
    timer_.async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec) self->Connect();
    });
}

void Receiver::Disconnected(uint64_t gen) {
    if (gen != generation_ || stopping_) return;
    ++generation_;
    std::error_code ignored;
    socket_.close(ignored);
    writes_[0].clear();
    ResetShared();
    connected_ = false;
    {
        std::lock_guard lock(mu_);
        linkUp_ = false;
        statusChange_ = true;
        cv_.notify_all();
    }
    ScheduleReconnect();
}

void Receiver::Write(wire::Message m, Channel ch) {
    if (!connected_ || !m) return;
    auto& queue = writes_[static_cast<int>(ch)];
    if (queue.size() > 256) return Disconnected(generation_);
    queue.push_back(std::move(m));
    if (queue.size() == 1) WriteNext(ch);
}

void Receiver::WriteNext(Channel ch) {
    auto& queue = writes_[static_cast<int>(ch)];
    if (queue.empty()) return;
    const uint64_t gen = generation_;
    auto done = [self = shared_from_this(), gen, ch](std::error_code ec, size_t) {
        if (gen != self->generation_) return;
        if (ec) return self->Disconnected(gen);
        self->writes_[static_cast<int>(ch)].pop_front();
        self->WriteNext(ch);
    };
    if (ch == Channel::Tcp)
        asio::async_write(socket_, asio::buffer(*queue.front()), done);
    else
        asio::async_write(unix_, asio::buffer(*queue.front()), done);
}

void Receiver::ReadExact(Channel ch, uint8_t* data, size_t size,
                         std::function<void(std::error_code)> done) {
    if (ch == Channel::Tcp) {
        asio::async_read(socket_, asio::buffer(data, size),
                         [d = std::move(done)](std::error_code ec, size_t) { d(ec); });
    } else {
        AsyncReadWithFds(unix_, data, size, fds_, std::move(done));
    }
}

namespace {

// What each side of a connection may carry towards a receiver.
bool Carries(bool unixSide, wire::MessageType t) {
    switch (t) {
        case wire::MessageType::Video:
        case wire::MessageType::Audio:
        case wire::MessageType::Metadata:
            return true;
        case wire::MessageType::SharedOffer:
        case wire::MessageType::SharedStart:
            return !unixSide;
        case wire::MessageType::SharedSlots:
        case wire::MessageType::SharedVideo:
            return unixSide;
        default:
            return false;
    }
}

}  // namespace

void Receiver::ReadHeader(Channel ch) {
    const uint64_t gen = generation_;
    uint8_t* header = header_[static_cast<int>(ch)];
    ReadExact(
        ch, header, wire::kHeaderSize,
        [self = shared_from_this(), gen, ch, header](std::error_code ec) {
            if (gen != self->generation_) return;
            wire::Header h;
            if (ec || !wire::ParseHeader(header, h) || !Carries(ch == Channel::Unix, h.type)) {
                // An older sender hangs up on a version 2 hello before saying anything.
                const bool hungUp = ec == asio::error::eof || ec == asio::error::connection_reset;
                if (ch == Channel::Tcp && hungUp && self->askedShared_ && !self->heard_)
                    self->plainHelloNext_ = true;
                return self->Disconnected(gen);
            }
            self->ReadPayload(ch, h);
        });
}

void Receiver::ReadPayload(Channel ch, wire::Header h) {
    const uint64_t gen = generation_;
    const size_t prefix = wire::PrefixSize(h);
    if (prefix == 0) return ReadRest(ch, h, std::make_shared<wire::Bytes>(h.length));
    // Big messages: read and check the fixed fields before making room for the rest.
    auto head = std::make_shared<std::vector<uint8_t>>(prefix);
    ReadExact(ch, head->data(), head->size(),
              [self = shared_from_this(), gen, ch, h, head](std::error_code ec) {
                  if (gen != self->generation_) return;
                  if (ec || !wire::PrefixAgrees(h, head->data())) return self->Disconnected(gen);
                  auto payload = std::make_shared<wire::Bytes>(h.length);
                  std::memcpy(payload->data(), head->data(), head->size());
                  self->ReadRest(ch, h, payload, head->size());
              });
}

void Receiver::ReadRest(Channel ch, wire::Header h, std::shared_ptr<wire::Bytes> payload,
                        size_t have) {
    const uint64_t gen = generation_;
    auto done = [self = shared_from_this(), gen, ch, h, payload](std::error_code ec) {
        if (gen != self->generation_) return;
        // A descriptor may come only with the message that claims it.
        if (ec || !self->Handle(ch, h, payload) || (ch == Channel::Unix && !self->fds_.empty()))
            return self->Disconnected(gen);
        if (gen == self->generation_) self->ReadHeader(ch);
    };
    if (have == payload->size()) return done({});
    ReadExact(ch, payload->data() + have, payload->size() - have, std::move(done));
}

bool Receiver::Handle(Channel, const wire::Header& h, const std::shared_ptr<wire::Bytes>& payload) {
    heard_ = true;
    const uint8_t* p = payload->data();
    const size_t n = payload->size();
    Item item;
    item.type = h.type;
    item.payload = payload;
    switch (h.type) {
        case wire::MessageType::Video:
            item.bytes = n;
            if (!wire::ParseVideo(p, n, item.video)) return false;
            break;
        case wire::MessageType::Audio:
            if (!wire::ParseAudio(p, n, item.audio)) return false;
            break;
        case wire::MessageType::Metadata:
            if (!wire::ParseMetadata(p, n, item.metadata)) return false;
            break;
        case wire::MessageType::SharedOffer:
            return OnOffer(p, n);
        case wire::MessageType::SharedStart:
            return OnSharedStart(p, n);
        case wire::MessageType::SharedSlots:
            return OnSlots(p, n);
        case wire::MessageType::SharedVideo:
            return OnSharedVideo(payload);
        default:
            return false;
    }
    Deliver(std::move(item));
    return true;
}

void Receiver::Deliver(Item item) {
    std::lock_guard lock(mu_);
    item.seq = nextSeq_++;
    switch (item.type) {
        case wire::MessageType::Video: {
            // A frame in a slot sends the slot back as it is dropped.
            const size_t limit =
                item.shared ? SharedQueueLimit(item.shared->mapping->info().count) : kVideoQueue;
            videoBytes_ += item.bytes;
            video_.push_back(std::move(item));
            while (video_.size() > 1 && (video_.size() > limit || videoBytes_ > kVideoQueueBytes)) {
                videoBytes_ -= video_.front().bytes;
                video_.pop_front();
                ++droppedVideo_;
            }
            break;
        }
        case wire::MessageType::Audio:
            audio_.push_back(std::move(item));
            if (audio_.size() > kAudioQueue) audio_.pop_front();
            break;
        default:
            metadata_.push_back(std::move(item));
            if (metadata_.size() > kMetadataQueue) metadata_.pop_front();
            break;
    }
    cv_.notify_all();
}

NDIlib_frame_type_e Receiver::Capture(NDIlib_video_frame_v2_t* video,
                                      NDIlib_audio_frame_v2_t* audio,
                                      NDIlib_metadata_frame_t* metadata, uint32_t timeoutMs) {
    std::unique_lock lock(mu_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        // Oldest first among the kinds this caller asked for, so metadata keeps its place
        // between the frames it belongs to.
        std::deque<Item>* from = nullptr;
        auto consider = [&](std::deque<Item>& q, bool wanted) {
            if (wanted && !q.empty() && (!from || q.front().seq < from->front().seq)) from = &q;
        };
        consider(video_, video != nullptr);
        consider(audio_, audio != nullptr);
        consider(metadata_, metadata != nullptr);
        if (from) {
            Item item = std::move(from->front());
            from->pop_front();
            if (item.type == wire::MessageType::Video) videoBytes_ -= item.bytes;
            const bool direct =
                item.shared && sharedHolds_ < SharedHoldLimit(item.shared->mapping->info().count);
            lock.unlock();
            return Take(item, direct, video, audio, metadata);
        }
        // A status change is reported to the video/metadata side; the audio side ignores it.
        if (statusChange_ && (video || metadata)) {
            statusChange_ = false;
            return NDIlib_frame_type_status_change;
        }
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look, then give up.
            if (!((video && !video_.empty()) || (audio && !audio_.empty()) ||
                  (metadata && !metadata_.empty())))
                return NDIlib_frame_type_none;
        }
    }
}

NDIlib_frame_type_e Receiver::Take(Item& item, bool direct, NDIlib_video_frame_v2_t* video,
                                   NDIlib_audio_frame_v2_t* audio,
                                   NDIlib_metadata_frame_t* metadata) {
    auto hold = std::make_unique<Hold>();
    hold->payload = item.payload;
    const void* key = nullptr;
    NDIlib_frame_type_e type = NDIlib_frame_type_none;
    if (item.type == wire::MessageType::Video) {
        const auto& v = item.video;
        uint32_t fourCC = v.fourCC;
        const uint8_t* pic = v.data;
        int yres = v.yres;
        int format = v.formatType;
        const uint32_t to = wire::DeliveredFourCC(colorFormat_, fourCC);
        if (to != fourCC && wire::ConvertPicture(fourCC, pic, v.xres, yres, to, hold->converted)) {
            pic = hold->converted.data();
            fourCC = to;
        }
        if (!allowFields_ && format != NDIlib_frame_format_type_progressive) {
            if ((format == NDIlib_frame_format_type_field_0 ||
                 format == NDIlib_frame_format_type_field_1) &&
                yres * 2 <= wire::kMaxPictureSide &&
                wire::LineDouble(fourCC, pic, v.xres, yres, hold->doubled)) {
                pic = hold->doubled.data();
                yres *= 2;
            }
            format = NDIlib_frame_format_type_progressive;
        }
        if (pic == v.data && item.shared) {
            // The slot itself, unless the application already holds its share of them: then a
            // copy, and the slot goes back when the item does.
            if (direct) {
                hold->shared = item.shared;
            } else {
                hold->converted.assign(v.data, v.data + v.dataSize);
                pic = hold->converted.data();
            }
        }
        *video = NDIlib_video_frame_v2_t{};
        video->xres = v.xres;
        video->yres = yres;
        video->FourCC = static_cast<NDIlib_FourCC_video_type_e>(fourCC);
        video->frame_rate_N = v.frameRateN;
        video->frame_rate_D = v.frameRateD;
        video->picture_aspect_ratio = v.aspect;
        video->frame_format_type = static_cast<NDIlib_frame_format_type_e>(format);
        video->timecode = v.timecode;
        video->timestamp = v.timestamp;
        video->p_data = const_cast<uint8_t*>(pic);
        video->line_stride_in_bytes = static_cast<int>(wire::BytesPerRow(fourCC, v.xres));
        if (!v.metadata.empty()) {
            hold->metadata = std::string(v.metadata);
            video->p_metadata = hold->metadata.c_str();
        }
        key = video->p_data;
        type = NDIlib_frame_type_video;
    } else if (item.type == wire::MessageType::Audio) {
        const auto& a = item.audio;
        hold->audio.resize(static_cast<size_t>(a.channels) * a.samples);
        std::memcpy(hold->audio.data(), a.data, hold->audio.size() * sizeof(float));
        hold->payload.reset();  // copied out (aligned); the wire buffer can go
        *audio = NDIlib_audio_frame_v2_t{};
        audio->sample_rate = a.sampleRate;
        audio->no_channels = a.channels;
        audio->no_samples = a.samples;
        audio->timecode = a.timecode;
        audio->timestamp = a.timestamp;
        audio->p_data = hold->audio.data();
        audio->channel_stride_in_bytes = a.samples * 4;
        if (!a.metadata.empty()) {
            hold->metadata = std::string(a.metadata);
            audio->p_metadata = hold->metadata.c_str();
        }
        key = audio->p_data;
        type = NDIlib_frame_type_audio;
    } else {
        hold->metadata = std::string(item.metadata.text);
        hold->payload.reset();
        *metadata = NDIlib_metadata_frame_t{};
        metadata->length = static_cast<int>(hold->metadata.size() + 1);
        metadata->timecode = item.metadata.timecode;
        metadata->p_data = hold->metadata.data();
        key = metadata->p_data;
        type = NDIlib_frame_type_metadata;
    }
    std::lock_guard lock(mu_);
    sharedHolds_ += hold->shared != nullptr;
    holds_[key] = std::move(hold);
    return type;
}

void Receiver::Free(const void* data) {
    if (!data) return;
    std::unique_ptr<Hold> gone;  // released outside the lock
    std::lock_guard lock(mu_);
    auto it = holds_.find(data);
    if (it == holds_.end()) return;
    gone = std::move(it->second);
    sharedHolds_ -= gone->shared != nullptr;
    holds_.erase(it);
}

bool Receiver::SetTally(const NDIlib_tally_t& tally) {
    {
        std::lock_guard lock(mu_);
        tally_ = tally;
        tallySet_ = true;
    }
    asio::post(Runtime::Get().io(), [self = shared_from_this(), tally] {
        self->Write(wire::EncodeTally(tally.on_program, tally.on_preview));
    });
    return true;
}

void Receiver::AddConnectionMetadata(const NDIlib_metadata_frame_t& frame) {
    std::string text(wire::MetadataText(frame));
    {
        std::lock_guard lock(mu_);
        if (connectionMetadata_.size() >= 64) return;
        connectionMetadata_.push_back(text);
    }
    asio::post(Runtime::Get().io(), [self = shared_from_this(), text] {
        self->Write(wire::EncodeMetadata(text, Now100ns()));
    });
}

int Receiver::Connections() {
    std::lock_guard lock(mu_);
    return linkUp_ ? 1 : 0;
}

uint64_t Receiver::DroppedVideo() {
    std::lock_guard lock(mu_);
    return droppedVideo_;
}

}  // namespace velmor::builtin
