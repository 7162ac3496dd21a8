// The process-wide I/O thread and the opt-in LAN services: the discovery responder that answers
// other machines' finders, and multicast announcements on the interfaces the user names.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/random.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>

#include "ndi/builtin/transport.h"

namespace velmor::builtin {
namespace {

using namespace std::chrono_literals;

Options ReadOptions() {
    Options o;
    if (const char* lan = std::getenv("VELMOR_NDI_LAN")) o.lan = std::string(lan) == "1";
    if (const char* mc = std::getenv("VELMOR_NDI_MULTICAST"); mc && *mc) {
        std::string text(mc);
        size_t start = 0;
        while (start <= text.size()) {
            size_t comma = text.find(',', start);
            std::string name =
                text.substr(start, comma == std::string::npos ? text.npos : comma - start);
            if (!name.empty() && name.size() < IF_NAMESIZE) o.multicastInterfaces.push_back(name);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (!o.multicastInterfaces.empty()) o.lan = true;
    }
    if (const char* port = std::getenv("VELMOR_NDI_DISCOVERY_PORT")) {
        const long p = std::strtol(port, nullptr, 10);
        if (p > 0 && p < 65535) o.discoveryPort = static_cast<uint16_t>(p);
    }
    o.announcementDir = discovery::AnnouncementDir();
    return o;
}

const asio::ip::address_v4 kMulticastGroup = asio::ip::make_address_v4("239.255.59.90");

bool InterfaceAddress(const std::string& name, in_addr& out) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && name == i->ifa_name) {
            out = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
            found = true;
        }
    }
    freeifaddrs(list);
    return found;
}

// Answers every connection on the discovery port with the sources of this machine. Only one
// process can hold the port; the others retry, so a new holder takes over when it exits.
class Responder : public std::enable_shared_from_this<Responder> {
public:
    explicit Responder(asio::io_context& io) : acceptor_(io), timer_(io) {}
    void Start() {
        std::error_code ec;
        acceptor_.open(asio::ip::tcp::v4(), ec);
        if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec)
            acceptor_.bind({asio::ip::address_v4::any(), Runtime::Get().options().discoveryPort},
                           ec);
        if (!ec) acceptor_.listen(16, ec);
        if (ec) {
            acceptor_.close(ec);
            timer_.expires_after(1s);
            timer_.async_wait([self = shared_from_this()](std::error_code e) {
                if (!e) self->Start();
            });
            return;
        }
        Accept();
    }

private:
    void Accept() {
        acceptor_.async_accept([self = shared_from_this()](std::error_code ec,
                                                           asio::ip::tcp::socket s) {
            if (ec) {
                if (ec != asio::error::operation_aborted) self->Start();
                return;
            }
            auto text = std::make_shared<std::string>(discovery::FormatSourceList(
                discovery::ScanLocal(Runtime::Get().options().announcementDir)));
            auto sock = std::make_shared<asio::ip::tcp::socket>(std::move(s));
            asio::async_write(*sock, asio::buffer(*text), [sock, text](std::error_code, size_t) {
                std::error_code ignored;
                sock->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
            });
            self->Accept();
        });
    }
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer timer_;
};

class Multicast : public std::enable_shared_from_this<Multicast> {
public:
    explicit Multicast(asio::io_context& io) : send_(io), recv_(io), timer_(io) {}

    void Start() {
        const auto& opt = Runtime::Get().options();
        const uint16_t port = static_cast<uint16_t>(opt.discoveryPort + 1);
        std::error_code ec;
        send_.open(asio::ip::udp::v4(), ec);
        const int off = 0;
        if (!ec) setsockopt(send_.native_handle(), IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
        recv_.open(asio::ip::udp::v4(), ec);
        if (!ec) recv_.set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec) recv_.bind({asio::ip::address_v4::any(), port}, ec);
        for (const auto& name : opt.multicastInterfaces) {
            ip_mreqn req{};
            req.imr_multiaddr.s_addr = htonl(kMulticastGroup.to_uint());
            req.imr_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
            if (req.imr_ifindex == 0) continue;
            setsockopt(recv_.native_handle(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req);
        }
        if (recv_.is_open()) Receive();
        Announce();
    }

    std::vector<std::pair<asio::ip::address, discovery::Announcement>> Sightings() {
        std::lock_guard lock(mu_);
        std::vector<std::pair<asio::ip::address, discovery::Announcement>> out;
        const auto now = std::chrono::steady_clock::now();
        for (const auto& [key, value] : seen_)
            if (now - value.second < 3s) out.emplace_back(key.first, value.first);
        return out;
    }

private:
    void Announce() {
        const auto& opt = Runtime::Get().options();
        auto text = std::make_shared<std::string>(
            discovery::FormatSourceList(discovery::ScanLocal(opt.announcementDir)));
        if (text->size() <= 60000 && text->find('\n') + 1 < text->size()) {
            for (const auto& name : opt.multicastInterfaces) {
                ip_mreqn req{};
                req.imr_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
                in_addr addr{};
                if (req.imr_ifindex == 0) continue;
                if (InterfaceAddress(name, addr)) req.imr_address = addr;
                setsockopt(send_.native_handle(), IPPROTO_IP, IP_MULTICAST_IF, &req, sizeof req);
                std::error_code ec;
                send_.send_to(asio::buffer(*text),
                              {kMulticastGroup, static_cast<uint16_t>(opt.discoveryPort + 1)}, 0,
                              ec);
            }
        }
        timer_.expires_after(500ms);
        timer_.async_wait([self = shared_from_this()](std::error_code e) {
            if (!e) self->Announce();
        });
    }

    void Receive() {
        recv_.async_receive_from(
            asio::buffer(buffer_), from_,
            [self = shared_from_this()](std::error_code ec, size_t n) {
                if (ec == asio::error::operation_aborted) return;
                std::vector<discovery::Announcement> list;
                if (!ec &&
                    discovery::ParseSourceList(std::string_view(self->buffer_.data(), n), list)) {
                    std::lock_guard lock(self->mu_);
                    const auto now = std::chrono::steady_clock::now();
                    for (auto& a : list) {
                        if (self->seen_.size() >= discovery::kMaxEntries) self->seen_.clear();
                        auto key = std::make_pair(self->from_.address(), a.name);
                        self->seen_[key] = {std::move(a), now};
                    }
                }
                self->Receive();
            });
    }

    asio::ip::udp::socket send_, recv_;
    asio::steady_timer timer_;
    std::array<char, 65536> buffer_{};
    asio::ip::udp::endpoint from_;
    std::mutex mu_;
    std::map<std::pair<asio::ip::address, std::string>,
             std::pair<discovery::Announcement, std::chrono::steady_clock::time_point>>
        seen_;
};

std::shared_ptr<Multicast>& MulticastInstance() {
    static std::shared_ptr<Multicast> instance;
    return instance;
}

}  // namespace

void Log(const std::string& line) {
    static std::mutex mu;
    std::lock_guard lock(mu);
    std::fprintf(stderr, "NDI built-in transport: %s\n", line.c_str());
}

bool ForcedTcp() {
    const char* v = std::getenv("VELMOR_NDI_TCP");
    const bool forced = v && std::string(v) == "1";
    static std::atomic<bool> said{false};
    if (forced && !said.exchange(true))
        Log("VELMOR_NDI_TCP=1: frames between programs of this machine go over TCP");
    return forced;
}

const std::string& BootId() {
    static const std::string id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string text;
        std::getline(in, text);
        return text.size() <= wire::kMaxBootId ? text : std::string();
    }();
    return id;
}

wire::Token RandomToken() {
    wire::Token t{};
    size_t have = 0;
    while (have < t.size()) {
        const ssize_t n = getrandom(t.data() + have, t.size() - have, 0);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    if (have < t.size()) {
        std::random_device rd;  // getrandom is missing or refused: the library's own source
        for (auto& b : t)
            b = static_cast<uint8_t>(rd());
    }
    return t;
}

int64_t Now100ns() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

Runtime::Runtime() : guard_(asio::make_work_guard(io_)), options_(ReadOptions()) {
    thread_ = std::thread([this] {
        // A handler that throws (memory exhausted by a huge but allowed frame, say) costs that
        // one operation, never the I/O thread and with it the process.
        while (true) {
            try {
                io_.run();
                return;
            } catch (...) {
            }
        }
    });
}

namespace {
std::atomic<Runtime*> g_runtime{nullptr};

// Joins the I/O thread when the process exits. The runtime object itself is never destroyed:
// sources, receivers and finders the application did not destroy still point into it.
struct StopAtExit {
    ~StopAtExit() {
        if (Runtime* rt = g_runtime.load()) rt->Shutdown();
    }
} g_stopAtExit;
}  // namespace

Runtime& Runtime::Get() {
    static Runtime* runtime = [] {
        auto* rt = new Runtime();
        g_runtime = rt;
        return rt;
    }();
    return *runtime;
}

void Runtime::Shutdown() {
    guard_.reset();
    io_.stop();
    if (thread_.joinable() && !OnIoThread()) thread_.join();
    stopped_ = true;
}

void Runtime::RunSync(std::function<void()> fn) {
    // After Shutdown no thread serves the queue; objects destroyed during process exit (by
    // static destructors of the application) are closed by the caller itself.
    if (OnIoThread() || stopped_) {
        fn();
        return;
    }
    std::promise<void> done;
    asio::post(io_, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

void StartLanServices() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& rt = Runtime::Get();
        if (!rt.options().lan) return;
        asio::post(rt.io(), [&rt] {
            std::make_shared<Responder>(rt.io())->Start();
            if (!rt.options().multicastInterfaces.empty()) {
                MulticastInstance() = std::make_shared<Multicast>(rt.io());
                MulticastInstance()->Start();
            }
        });
    });
}

std::vector<std::pair<asio::ip::address, discovery::Announcement>> MulticastSightings() {
    auto& mc = MulticastInstance();  // set once on the I/O thread before any finder reads it
    return mc ? mc->Sightings()
              : std::vector<std::pair<asio::ip::address, discovery::Announcement>>{};
}

void QueryHost(const asio::ip::address& host, uint16_t port, std::chrono::milliseconds timeout,
               std::function<void(bool, std::vector<discovery::Announcement>)> done) {
    struct Query : std::enable_shared_from_this<Query> {
        explicit Query(asio::io_context& io) : socket(io), timer(io) {}
        asio::ip::tcp::socket socket;
        asio::steady_timer timer;
        std::string text;
        std::array<char, 4096> chunk{};
        std::function<void(bool, std::vector<discovery::Announcement>)> done;
        bool finished = false;
        void Read() {
            socket.async_read_some(asio::buffer(chunk),
                                   [q = shared_from_this()](std::error_code e, size_t n) {
                                       q->text.append(q->chunk.data(), n);
                                       if (q->text.size() > discovery::kMaxListBytes)
                                           return q->Finish(false);
                                       if (e == asio::error::eof) return q->Finish(true);
                                       if (e) return q->Finish(false);
                                       q->Read();
                                   });
        }
        void Finish(bool ok) {
            if (finished) return;
            finished = true;
            timer.cancel();
            std::error_code ignored;
            socket.close(ignored);
            std::vector<discovery::Announcement> list;
            ok = ok && discovery::ParseSourceList(text, list);
            done(ok, std::move(list));
        }
    };
    auto q = std::make_shared<Query>(Runtime::Get().io());
    q->done = std::move(done);
    q->timer.expires_after(timeout);
    q->timer.async_wait([q](std::error_code ec) {
        if (!ec) q->Finish(false);
    });
    q->socket.async_connect({host, port}, [q](std::error_code ec) {
        if (ec) return q->Finish(false);
        q->Read();
    });
}

bool ParseUrl(const std::string& url, asio::ip::address& host, uint16_t& port) {
    std::string h = url;
    port = 0;
    auto colon = url.rfind(':');
    if (colon != std::string::npos) {
        h = url.substr(0, colon);
        const std::string p = url.substr(colon + 1);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const long v = std::strtol(p.c_str(), nullptr, 10);
        if (v < 1 || v > 65535) return false;
        port = static_cast<uint16_t>(v);
    }
    std::error_code ec;
    auto a = asio::ip::make_address_v4(h, ec);
    if (ec) return false;
    host = a;
    return true;
}

}  // namespace velmor::builtin
