// A built-in transport finder: rescans the local announcements a few times a second, asks the
// extra hosts it was given, merges opt-in multicast sightings, and keeps the filtered list ready
// so that NDIlib_find_get_current_sources never waits.
#include <chrono>

#include "ndi/builtin/transport.h"

namespace velmor::builtin {

using namespace std::chrono_literals;

namespace {
constexpr auto kTick = 200ms;
constexpr int kTicksPerQuery = 4;  // extra hosts are asked every 800 ms
constexpr auto kRemoteLifetime = 3s;
}  // namespace

std::shared_ptr<Finder> Finder::Create(const NDIlib_find_create_t* settings) {
    auto& rt = Runtime::Get();
    auto f = std::shared_ptr<Finder>(new Finder(rt.io()));
    f->showLocal_ = settings ? settings->show_local_sources : true;
    f->groups_ = discovery::SplitGroups(settings && settings->p_groups ? settings->p_groups : "");
    const std::string extra = settings && settings->p_extra_ips ? settings->p_extra_ips : "";
    size_t start = 0;
    while (start < extra.size()) {
        size_t comma = extra.find(',', start);
        std::string part =
            extra.substr(start, comma == std::string::npos ? extra.npos : comma - start);
        while (!part.empty() && part.front() == ' ')
            part.erase(part.begin());
        while (!part.empty() && part.back() == ' ')
            part.pop_back();
        std::error_code ec;
        auto addr = asio::ip::make_address_v4(part, ec);
        if (!ec && f->extraIps_.size() < 64) f->extraIps_.push_back(addr);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (rt.options().lan) StartLanServices();
    rt.RunSync([f] { f->Tick(); });
    return f;
}

void Finder::Destroy() {
    auto self = shared_from_this();
    Runtime::Get().RunSync([self] {
        self->stopping_ = true;
        self->timer_.cancel();
    });
    std::lock_guard lock(mu_);
    closed_ = true;
    cv_.notify_all();
}

void Finder::Tick() {
    if (stopping_) return;
    local_ = discovery::ScanLocal(Runtime::Get().options().announcementDir);
    if (ticks_++ % kTicksPerQuery == 0) {
        for (const auto& ip : extraIps_) {
            auto& remote = remote_[ip];
            if (remote.pending) continue;
            remote.pending = true;
            QueryHost(ip, Runtime::Get().options().discoveryPort, 700ms,
                      [self = shared_from_this(), ip](bool ok,
                                                      std::vector<discovery::Announcement> list) {
                          if (self->stopping_) return;
                          auto& r = self->remote_[ip];
                          r.pending = false;
                          if (ok) {
                              r.list = std::move(list);
                              r.seen = std::chrono::steady_clock::now();
                          }
                          self->Rebuild();
                      });
        }
    }
    Rebuild();
    timer_.expires_after(kTick);
    timer_.async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec) self->Tick();
    });
}

void Finder::Rebuild() {
    std::vector<Entry> entries;
    auto listed = [&](const std::string& name) {
        for (const auto& e : entries)
            if (e.name == name) return true;
        return false;
    };
    auto visible = [&](const discovery::Announcement& a) {
        return discovery::GroupsIntersect(groups_, discovery::SplitGroups(a.groups)) &&
               !listed(a.name);
    };
    if (showLocal_) {
        for (const auto& a : local_)
            if (visible(a)) entries.push_back({a.name, "127.0.0.1:" + std::to_string(a.port)});
    }
    const auto now = std::chrono::steady_clock::now();
    for (auto& [ip, remote] : remote_) {
        if (now - remote.seen > kRemoteLifetime) remote.list.clear();
        if (!showLocal_ && ip.is_loopback()) continue;
        for (const auto& a : remote.list)
            if (visible(a))
                entries.push_back({a.name, ip.to_string() + ":" + std::to_string(a.port)});
    }
    for (const auto& [ip, a] : MulticastSightings())
        if (visible(a)) entries.push_back({a.name, ip.to_string() + ":" + std::to_string(a.port)});

    std::lock_guard lock(mu_);
    if (entries != entries_) {
        entries_ = std::move(entries);
        ++generation_;
        cv_.notify_all();
    }
}

const NDIlib_source_t* Finder::Current(uint32_t* count) {
    std::lock_guard lock(mu_);
    handedOut_ = entries_;
    array_.clear();
    for (const auto& e : handedOut_)
        array_.push_back({e.name.c_str(), e.url.c_str()});
    seenGeneration_ = generation_;
    if (count) *count = static_cast<uint32_t>(array_.size());
    return array_.empty() ? nullptr : array_.data();
}

bool Finder::WaitForSources(uint32_t timeoutMs) {
    std::unique_lock lock(mu_);
    const bool changed = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&] { return generation_ != seenGeneration_ || closed_; });
    seenGeneration_ = generation_;
    return changed && !closed_;
}

}  // namespace velmor::builtin
