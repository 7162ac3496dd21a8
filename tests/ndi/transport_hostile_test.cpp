// Broken and hostile peers of the built-in transport, and receivers that die: each costs only its
// own connection, never the sender, the other receivers or the receiver's next attempt.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "ndi/builtin/shared_wire.h"
#include "ndi/builtin/unix_socket.h"
#include "tools/process.h"
#include "transport_fixture.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Builtin;
using test::Eventually;
using namespace test::transport;

// A plain TCP socket on loopback, for playing a broken peer.
int ConnectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t PortOf(const std::string& url) {
    return static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
}

// Blocking helpers for playing either end of the same-machine path by hand. Every socket gets
// a receive timeout, so that a peer that does not answer fails the test instead of hanging it.
void Patient(int fd) {
    timeval tv{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

bool Send(int fd, const wire::Message& m, int passFd = -1) {
    iovec iov{const_cast<uint8_t*>(m->data()), m->size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    builtin::OneFdControl control;
    if (passFd >= 0) builtin::AttachFd(msg, control, passFd);
    return sendmsg(fd, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(m->size());
}

bool ReadAll(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t got = read(fd, p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// The next message of a stream (descriptors that come with it are discarded by the kernel).
bool Next(int fd, wire::Header& h, std::vector<uint8_t>& payload) {
    uint8_t header[wire::kHeaderSize];
    if (!ReadAll(fd, header, sizeof header) || !wire::ParseHeader(header, h)) return false;
    payload.resize(h.length);
    return ReadAll(fd, payload.data(), payload.size());
}

// Reads messages until one of `type` comes; false when the stream ends first.
bool NextOf(int fd, wire::MessageType type, std::vector<uint8_t>& payload) {
    wire::Header h;
    while (Next(fd, h, payload))
        if (h.type == type) return true;
    return false;
}

// True when the other end closes the stream (whatever it still had on the way is read first).
bool HangsUp(int fd) {
    char buf[4096];
    while (true) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;  // the timeout: still open
    }
}

int ConnectUnix(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    Patient(fd);
    return fd;
}

int ListenUnix(const std::string& path) {
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

wire::Message SharedHello(bool shared = true) {
    wire::Hello hello;
    hello.name = "hand-made";
    hello.shared = shared;
    hello.bootId = BootId();
    return wire::EncodeHello(hello);
}

// A memfd of `bytes` as our sender makes it (sealed against resizing), or without the seals.
int SlotMemory(size_t bytes, bool sealed) {
    int fd = memfd_create("velmor-test-slots", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) return -1;
    if (sealed) fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW);
    return fd;
}

// A listening socket on loopback playing a sender, and a receiver pointed at it by address.
struct FakeSender {
    explicit FakeSender(NDIlib_recv_color_format_e format = NDIlib_recv_color_format_UYVY_BGRA) {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener, 4) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        url = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        NDIlib_recv_create_v3_t s{};
        s.source_to_connect_to.p_url_address = url.c_str();
        s.color_format = format;
        s.bandwidth = NDIlib_recv_bandwidth_highest;
        s.allow_video_fields = true;
        receiver = Builtin().recv_create_v3(&s);
    }
    ~FakeSender() {
        if (receiver) Builtin().recv_destroy(receiver);
        close(listener);
    }
    // The receiver's next connection.
    int Accept() const {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Patient(fd);
        return fd;
    }
    int listener = -1;
    std::string url;
    NDIlib_recv_instance_t receiver = nullptr;
};

TEST(TransportHostile, GarbageFromOneReceiverClosesOnlyItsConnection) {
    const std::string name = test::UniqueName("hostile");
    Sender sender(name);
    Receiver good(name);
    ASSERT_TRUE(good.WaitConnected());
    const std::string url = UrlOf(name);
    ASSERT_FALSE(url.empty());
    // A header announcing a 4 GiB tally, then a bad magic: each closes its own connection.
    for (std::vector<uint8_t> bytes :
         {std::vector<uint8_t>{'V', 'D', 'N', 'W', 5, 0, 0, 0, 0xff, 0xff, 0xff, 0xff},
          std::vector<uint8_t>(64, 0x41)}) {
        int fd = ConnectTo(PortOf(url));
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        char c;
        EXPECT_EQ(read(fd, &c, 1), 0) << "the sender hangs up";
        close(fd);
    }
    EXPECT_TRUE(
        Eventually(1s, [&] { return Builtin().send_get_no_connections(sender.handle, 0) == 1; }));
    Picture pic(16, 2, NDIlib_FourCC_video_type_UYVY);
    Builtin().send_send_video_v2(sender.handle, &pic.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(good, v), NDIlib_frame_type_video);
    Builtin().recv_free_video_v2(good.handle, &v);
}

TEST(TransportHostile, AMalformedStreamMakesTheReceiverHangUpAndRetry) {
    FakeSender fake;
    ASSERT_NE(fake.receiver, nullptr);
    // A video message longer than any picture may be, then an unknown message type: each is
    // refused on its header, before anything is allocated for it.
    const std::vector<std::vector<uint8_t>> streams = {
        {'V', 'D', 'N', 'W', 2, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f},
        {'V', 'D', 'N', 'W', 9, 0, 0, 0, 1, 0, 0, 0, 0},
    };
    for (const auto& bytes : streams) {
        int fd = fake.Accept();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        char buf[256];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) {
        }  // the receiver's hello, then its hang-up (a reset when our bytes were left unread)
        EXPECT_LE(n, 0);
        close(fd);
    }
    // It keeps trying: a third connection arrives.
    int fd = fake.Accept();
    EXPECT_GE(fd, 0);
    close(fd);
}

// A receiver that joins the same-machine path by hand, then misbehaves in its releases.
TEST(TransportHostile, AReceiverGivingBackSlotsItDoesNotHoldIsCutOff) {
    if (!test::SharedPathExpected()) GTEST_SKIP() << "the same-machine path is switched off";
    const std::string name = test::UniqueName("bad releases");
    Sender sender(name);
    Receiver good(name);
    ASSERT_TRUE(good.WaitConnected());
    ASSERT_TRUE(WarmUp(sender, good));
    const std::string url = UrlOf(name);
    ASSERT_FALSE(url.empty());
    const std::string dir = discovery::AnnouncementDir();
    Picture pic(32, 4, NDIlib_FourCC_video_type_UYVY);

    struct Case {
        const char* what;
        std::vector<wire::SlotRef> releases;  // {0, 0} stands for the slot it was given
    } cases[] = {
        {"a slot beyond the set", {{0, 0}, {0, 99}}},
        {"a set that was never made", {{12345, 0}}},
        {"the same slot twice", {{0, 0}, {0, 0}}},
    };
    for (const auto& c : cases) {
        const int tcp = ConnectTo(PortOf(url));
        ASSERT_GE(tcp, 0);
        Patient(tcp);
        ASSERT_TRUE(Send(tcp, SharedHello()));
        std::vector<uint8_t> p;
        ASSERT_TRUE(NextOf(tcp, wire::MessageType::SharedOffer, p)) << c.what;
        wire::SharedOfferView offer;
        ASSERT_TRUE(wire::ParseSharedOffer(p.data(), p.size(), offer));
        const int ux = ConnectUnix(dir + "/" + std::string(offer.socketName));
        ASSERT_GE(ux, 0);
        ASSERT_TRUE(Send(ux, wire::EncodeSharedJoin(offer.token)));
        ASSERT_TRUE(NextOf(tcp, wire::MessageType::SharedStart, p));
        // A frame sent as the join happens may still come inline; the next ones come in slots.
        wire::SharedVideoView given;
        bool inSlot = false;
        for (int i = 0; i < 10 && !inSlot; ++i) {
            Builtin().send_send_video_v2(sender.handle, &pic.frame);
            wire::Header h;
            while (Next(ux, h, p) && h.type != wire::MessageType::Video) {
                if (h.type == wire::MessageType::SharedVideo) {
                    ASSERT_TRUE(wire::ParseSharedVideo(p.data(), p.size(), given));
                    inSlot = true;
                    break;
                }
            }
        }
        ASSERT_TRUE(inSlot) << c.what;
        for (auto r : c.releases) {
            if (r.set == 0) r = {given.ref.set, r.slot == 0 ? given.ref.slot : r.slot};
            Send(ux, wire::EncodeSharedRelease(r));
        }
        EXPECT_TRUE(HangsUp(ux)) << c.what;
        EXPECT_TRUE(HangsUp(tcp)) << c.what;
        close(ux);
        close(tcp);
    }
    // The sender and its well-behaved receiver never noticed.
    EXPECT_TRUE(
        Eventually(1s, [&] { return Builtin().send_get_no_connections(sender.handle, 0) == 1; }));
    Builtin().send_send_video_v2(sender.handle, &pic.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(good, v), NDIlib_frame_type_video);
    EXPECT_TRUE(test::InSlot(v.p_data));
    Builtin().recv_free_video_v2(good.handle, &v);
}

// A sender played by hand: it offers the path, and then breaks its rules in one way per
// connection. The receiver hangs up on each and comes back; after slot memory it cannot use
// safely, it stops asking for the path.
TEST(TransportHostile, ASenderBreakingTheSlotRulesIsHungUpOn) {
    if (!test::SharedPathExpected()) GTEST_SKIP() << "the same-machine path is switched off";
    Builtin();  // the announcement folder is this process's from here on
    const std::string sockName = "hand-made-" + std::to_string(getpid()) + ".sock";
    const std::string dir = discovery::AnnouncementDir();
    const int unixListener = ListenUnix(dir + "/" + sockName);
    ASSERT_GE(unixListener, 0);
    FakeSender fake(NDIlib_recv_color_format_fastest);
    ASSERT_NE(fake.receiver, nullptr);

    NDIlib_video_frame_v2_t small{};  // 64 x 2 UYVY: 256 bytes, fits a 4096-byte slot
    std::vector<uint8_t> pixels(64 * 64 * 2);
    small.xres = 64;
    small.yres = 2;
    small.FourCC = NDIlib_FourCC_video_type_UYVY;
    small.frame_rate_N = 25;
    small.frame_rate_D = 1;
    small.frame_format_type = NDIlib_frame_format_type_progressive;
    small.p_data = pixels.data();
    NDIlib_video_frame_v2_t large = small;  // 64 x 64: 8192 bytes, more than one slot
    large.yres = 64;
    const wire::SlotsView four{1, 4, 4096};
    auto slots = [&] { return wire::EncodeSharedSlots(four); };
    auto in = [](const NDIlib_video_frame_v2_t& f, uint32_t set, uint32_t slot) {
        return wire::EncodeSharedVideo(f, 0, 0, {set, slot});
    };
    struct Step {
        wire::Message message;
        int fd = -1;  // -2: sealed memory for the four slots, -3: the same unsealed
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"a frame in a set never announced", {{in(small, 1, 0)}}},
        {"slots without their memory", {{slots()}}},
        {"memory beside a message that is not about slots",
         {{wire::EncodeMetadata("<x/>", 0), -2}}},
        {"a slot outside the set", {{slots(), -2}, {in(small, 1, 4)}}},
        {"a slot handed over twice", {{slots(), -2}, {in(small, 1, 0)}, {in(small, 1, 0)}}},
        {"a picture larger than a slot", {{slots(), -2}, {in(large, 1, 0)}}},
        {"a set that does not replace the last", {{slots(), -2}, {slots(), -2}}},
        {"memory that may shrink under the receiver", {{slots(), -3}}},
    };
    for (const auto& c : cases) {
        const int tcp = fake.Accept();
        ASSERT_GE(tcp, 0) << c.what;
        std::vector<uint8_t> p;
        ASSERT_TRUE(NextOf(tcp, wire::MessageType::Hello, p));
        wire::Hello hello;
        ASSERT_TRUE(wire::ParseHello(p.data(), p.size(), hello));
        ASSERT_TRUE(hello.shared) << c.what;
        const wire::Token token{7, 7, 7};
        ASSERT_TRUE(Send(tcp, wire::EncodeSharedOffer(token, sockName)));
        const int ux = accept4(unixListener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(ux, 0) << c.what;
        Patient(ux);
        ASSERT_TRUE(NextOf(ux, wire::MessageType::SharedJoin, p));
        ASSERT_TRUE(Send(tcp, wire::EncodeSharedStart()));
        for (const auto& step : c.steps) {
            const int memory = step.fd < -1 ? SlotMemory(4 * 4096, step.fd == -2) : -1;
            Send(ux, step.message, memory);
            if (memory >= 0) close(memory);
        }
        EXPECT_TRUE(HangsUp(ux)) << c.what;
        EXPECT_TRUE(HangsUp(tcp)) << c.what;
        close(ux);
        close(tcp);
    }
    // It came back each time; after the memory it could not trust, it asks for TCP alone.
    const int tcp = fake.Accept();
    ASSERT_GE(tcp, 0);
    std::vector<uint8_t> p;
    ASSERT_TRUE(NextOf(tcp, wire::MessageType::Hello, p));
    wire::Hello hello;
    ASSERT_TRUE(wire::ParseHello(p.data(), p.size(), hello));
    EXPECT_FALSE(hello.shared);
    close(tcp);
    close(unixListener);
    unlink((dir + "/" + sockName).c_str());
}

// A sender built before the same-machine path refuses a version 2 hello (it hangs up at once);
// the receiver's next hello is the plain one, and the one after that asks again.
TEST(TransportHostile, ASenderThatHangsUpOnTheNewHelloGetsThePlainOne) {
    if (!test::SharedPathExpected()) GTEST_SKIP() << "the same-machine path is switched off";
    FakeSender fake;
    ASSERT_NE(fake.receiver, nullptr);
    for (const uint32_t expected : {wire::kVersion, 1u, wire::kVersion}) {
        const int fd = fake.Accept();
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> p;
        ASSERT_TRUE(NextOf(fd, wire::MessageType::Hello, p));
        wire::Hello hello;
        ASSERT_TRUE(wire::ParseHello(p.data(), p.size(), hello));
        EXPECT_EQ(hello.version, expected);
        EXPECT_EQ(hello.shared, expected == wire::kVersion);
        close(fd);
    }
}

// A receiver in another process, holding frames, killed: the sender goes on serving the others,
// and what that receiver had (its connection, and on this machine its slots) is given back.
TEST(TransportHostile, AReceiverKilledMidStreamCostsOnlyItself) {
    const std::string name = test::UniqueName("killed");
    Sender sender(name);
    Receiver live(name);
    ASSERT_TRUE(live.WaitConnected());
    ASSERT_TRUE(WarmUp(sender, live));
    Picture pic(1920, 1080, NDIlib_FourCC_video_type_UYVY);
    int frames = 0;
    auto sendAndDrain = [&] {
        Builtin().send_send_video_v2(sender.handle, &pic.frame);
        NDIlib_video_frame_v2_t v{};
        while (Builtin().recv_capture_v2(live.handle, &v, nullptr, nullptr, 5) ==
               NDIlib_frame_type_video) {
            ++frames;
            Builtin().recv_free_video_v2(live.handle, &v);
        }
    };
    // What the live receiver's slots cost, once the warm-up's are gone: one set, mapped twice.
    const uint64_t stride = (1920 * 1080 * 2 + 4095) / 4096 * 4096;
    const uint64_t baseline = test::SharedPathExpected() ? 2 * 16 * stride : 0;
    ASSERT_TRUE(Eventually(3s, [&] {
        sendAndDrain();
        return frames > 0 && test::SlotBytes() == baseline;
    })) << test::SlotBytes();

    test::Process peer(VELMOR_NDI_PEER, {live.full, "3"});
    ASSERT_TRUE(Eventually(5s, [&] {
        sendAndDrain();
        return peer.OutputHas("holding 3");
    })) << peer.Output();
    EXPECT_EQ(Builtin().send_get_no_connections(sender.handle, 0), 2);
    if (test::SharedPathExpected()) {
        EXPECT_GT(test::SlotBytes(), baseline);
    }

    peer.Kill(SIGKILL);
    frames = 0;
    EXPECT_TRUE(Eventually(3s,
                           [&] {
                               sendAndDrain();
                               return Builtin().send_get_no_connections(sender.handle, 0) == 1 &&
                                      test::SlotBytes() == baseline && frames > 0;
                           }))
        << test::SlotBytes() << " bytes of slots, " << frames << " frames";
}

}  // namespace
}  // namespace velmor
