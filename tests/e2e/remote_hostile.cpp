// The HTTP front end under load and under attack while the relay runs, with the output watched:
// twenty clients on the events socket and the preview, then oversized and malformed bodies,
// slow-loris connections, clients that stop reading and a flood of requests, all at once. The
// output must show no gap over 100 ms, the relay's memory must stay bounded, and the API must
// answer afterwards. Run alone (RUN_SERIAL): the gaps are what is measured.
//
// Other sessions share this machine's two processors and can take them for tens of milliseconds
// whatever the relay does. So, as the grab test does, each attempt watches the output for a while
// without clients and then under attack: one attack must leave the output clean; when not even
// one quiet window is clean, the machine cannot carry the relay now and the output is not judged
// (the answers, the memory and the API afterwards always are).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "remote_fixture.h"
#include "support/ndi_names.h"
#include "support/process_memory.h"
#include "tools/tools_fixture.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::EventsClient;
using test::Get;
using test::HttpRequest;
using test::Post;
using velmor::testing::LocalSourceName;

double RssMiB(pid_t pid) {
    return test::MemoryOf(pid).rss;
}

pid_t PidOf(const test::Process& p) {
    return p.pid();
}

// The attackers take only what the relay leaves over, wherever the test itself runs (a test run
// under `nice -n 19` puts the chain at 9): the test measures the relay, not the scheduler.
void BeNice() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
}

// Sends raw bytes and reads until the server closes or `limit` passes; returns the status line.
std::string RawExchange(uint16_t port, const std::string& bytes, std::chrono::milliseconds limit) {
    const std::string got = test::RawExchange(port, bytes, limit, 64 * 1024);
    return got.empty() ? "closed without an answer" : got.substr(0, got.find("\r\n"));
}

class RemoteUnderAttack : public Relay {};

TEST_F(RemoteUnderAttack, TheOutputNeverFaltersAndMemoryStaysBounded) {
    // The tones swell and fall: the levels change, and go out twenty times a second. The chain
    // runs ahead of the machine's other work (other sessions share its two processors), so what
    // is measured is the relay beside its clients; a sanitized relay gets a smaller picture.
    constexpr int kAhead = -10;
    const std::string size = test::kSanitized ? "640x360" : "1280x720";
    const std::string rate = test::kSanitized ? "25/1" : "50/1";
    const double framesPerSecond = test::kSanitized ? 25 : 50;
    auto src = Run(VELMOR_TESTSRC,
                   {"--name", "Hostile Cam", "--size", size, "--rate", rate, "--seconds", "300",
                    "--tone-swell"},
                   kAhead);
    // AddressSanitizer keeps what is freed in a quarantine (256 MiB by default) before reusing
    // it, which would count as the relay's memory: a small one keeps the measure the relay's own.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env_.push_back("ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : std::string()) +
                   "quarantine_size_mb=8");
    HttpRelay relay;
    ASSERT_TRUE(StartHttpRelay(*this, {"--show-local", "--source", LocalSourceName("Hostile Cam")},
                               relay, [this](const char* p, std::vector<std::string> a) {
                                   return Run(p, std::move(a), kAhead);
                               }));
    const std::string log = (dir_ / "delay.log").string();
    auto sink = Run(VELMOR_SINK,
                    {"--source", "Korvo Velmor 1", "--seconds", "290", "--delay-log", log}, kAhead);
    ASSERT_TRUE(Eventually([&] { return SinkFrames(log) > 100; }, 30s)) << relay.process->Output();
    std::this_thread::sleep_for(2s);  // settled
    const pid_t pid = PidOf(*relay.process);
    const double rssBefore = RssMiB(pid);
    const uint16_t port = relay.port;
    const std::string token = relay.token;

    std::mutex resultsMutex;
    std::map<std::string, std::map<std::string, int>> results;  // attack -> status line -> count
    auto note = [&](const std::string& attack, const std::string& status) {
        std::lock_guard lock(resultsMutex);
        ++results[attack][status];
    };
    std::atomic<int> eventMessages{0}, pictures{0};
    double rssPeak = rssBefore;
    const auto toUnits = [](std::chrono::system_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count() /
               100;
    };
    // The output between two moments: its frames, its largest gap and the source's frames lost.
    // Clean: at least 90% of the source's frames came (an output that stopped has no gaps), none
    // was lost and none came over 100 ms after the one before.
    struct Output {
        size_t frames = 0;
        double expected = 0;
        double gapMs = 0;
        long long lost = 0;
        bool Clean() const { return frames > 0.9 * expected && gapMs <= 100.0 && lost == 0; }
    };
    auto outputBetween = [&](std::chrono::system_clock::time_point from,
                             std::chrono::system_clock::time_point to) {
        const auto video =
            test::DelayLog::Between(test::DelayLog::Read(log).video, toUnits(from), toUnits(to));
        const double seconds = std::chrono::duration<double>(to - from).count();
        return Output{video.size(), seconds * framesPerSecond, test::DelayLog::LargestGapMs(video),
                      test::DelayLog::VideoFramesLost(video)};
    };

    // The attacks, for `seconds`.
    auto runAttacks = [&](int seconds) {
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;

        // Twenty watchers: the events socket and the preview, five pictures a second each.
        for (int i = 0; i < 20; ++i) {
            threads.emplace_back([&] {
                BeNice();
                EventsClient events;
                if (!events.Connect(port, "velmor-events")) return;
                events.Send("{\"token\":\"" + token + "\"}");
                while (!stop)
                    if (!events.Read(1s).empty()) ++eventMessages;
            });
            threads.emplace_back([&] {
                BeNice();
                while (!stop) {
                    if (Get(port, "/api/v1/preview.jpg", token).status == 200) ++pictures;
                    std::this_thread::sleep_for(200ms);
                }
            });
        }
        // Event clients that never read.
        std::vector<std::unique_ptr<EventsClient>> stuck;
        for (int i = 0; i < 5; ++i) {
            auto c = std::make_unique<EventsClient>();
            if (c->Connect(port, "", "Bearer " + token)) {
                const int small = 4096;
                setsockopt(c->Socket().native_handle(), SOL_SOCKET, SO_RCVBUF, &small,
                           sizeof small);
                stuck.push_back(std::move(c));
            }
        }
        // Oversized bodies, announced and chunked.
        threads.emplace_back([&] {
            BeNice();
            const std::string head =
                "POST /api/v1/text HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
                "\r\nContent-Type: application/json\r\n";
            while (!stop) {
                note("oversized",
                     RawExchange(
                         port, head + "Content-Length: 10000000\r\n\r\n" + std::string(100000, 'x'),
                         3s));
                std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
                for (int k = 0; k < 100; ++k)
                    chunked += "400\r\n" + std::string(1024, 'y') + "\r\n";
                note("oversized chunked", RawExchange(port, chunked, 3s));
            }
        });
        // Malformed JSON and malformed HTTP.
        threads.emplace_back([&] {
            BeNice();
            const char* bodies[] = {
                "{",        "{\"on\":",        "[1,2", "\"\\ud800\"", "{\"on\":tru}",
                "\xff\xfe", "{\"text\":\"a\"", "nul"};
            while (!stop) {
                for (const char* b : bodies)
                    note("malformed JSON",
                         "HTTP/1.1 " +
                             std::to_string(Post(port, "/api/v1/freeze", token, b).status));
                note("malformed HTTP", RawExchange(port, "GET /\x01 HTTP/9.9\r\n\r\n", 3s));
                note("malformed HTTP", RawExchange(port, std::string(20000, 'G') + "\r\n\r\n", 3s));
            }
        });
        // Slow loris: connections that send a header a byte at a time.
        for (int i = 0; i < 30; ++i) {
            threads.emplace_back([&] {
                BeNice();
                while (!stop) {
                    boost::asio::io_context io;
                    test::tcp::socket s(io);
                    boost::system::error_code ec;
                    s.connect(test::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port),
                              ec);
                    const std::string slow = "GET /api/v1/status HTTP/1.1\r\nX-Slow: ";
                    for (size_t k = 0; !ec && !stop; ++k) {
                        boost::asio::write(s, boost::asio::buffer(&slow[k % slow.size()], 1), ec);
                        std::this_thread::sleep_for(500ms);
                    }
                    note("slow loris", ec ? "closed by the server" : "still open at the end");
                }
            });
        }
        // A flood: requests as fast as they are answered, with and without the token.
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&, i] {
                BeNice();
                const char* paths[] = {"/api/v1/status", "/metrics", "/api/v1/nothing", "/nothing",
                                       "/api/v1/sources"};
                for (int k = 0; !stop; ++k) {
                    const auto r = Get(port, paths[k % 5], (i % 2) ? token : std::string());
                    note("flood", "HTTP/1.1 " + std::to_string(r.status));
                }
            });
        }

        for (int k = 0; k < seconds; ++k) {
            std::this_thread::sleep_for(1s);
            rssPeak = std::max(rssPeak, RssMiB(pid));
        }
        stop = true;
        for (auto& t : threads)
            t.join();
        stuck.clear();
    };

    // The relay's own count of frames received and dropped (fallen behind), to tell in the
    // report whether a frame missing at the sink was lost before the relay or in it.
    auto relayCounts = [&] {
        const std::string text = Get(port, "/metrics", token).body;
        return std::pair<double, double>{
            Metric(text, R"(velmor_video_frames_received_total{copy="1"})"),
            Metric(text, R"(velmor_video_frames_dropped_total{copy="1"})")};
    };
    // Several short windows: the more often the machine is quiet, the sooner one attack meets a
    // fair machine. An attack outlasts the 15 s the server gives a whole request, so the slow
    // lorises are seen closed.
    constexpr int kAttempts = 4, kQuietSeconds = 8, kSeconds = 18;
    bool smooth = false, quietSeen = false;
    for (int attempt = 1; attempt <= kAttempts && !smooth; ++attempt) {
        const auto quietFrom = std::chrono::system_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(kQuietSeconds));
        const auto from = std::chrono::system_clock::now();
        const auto countsBefore = relayCounts();
        runAttacks(kSeconds);
        const auto countsAfter = relayCounts();
        const auto to = std::chrono::system_clock::now();
        const Output quiet = outputBetween(quietFrom, from), busy = outputBetween(from, to);
        std::cout << "attempt " << attempt << ": under attack " << busy.frames << " of "
                  << busy.expected << " frames, largest gap " << busy.gapMs << " ms, lost "
                  << busy.lost << " (the relay received " << countsAfter.first - countsBefore.first
                  << ", dropped " << countsAfter.second - countsBefore.second
                  << "); without clients " << quiet.frames << " of " << quiet.expected
                  << " frames, largest gap " << quiet.gapMs << " ms, lost " << quiet.lost
                  << "; relay memory " << rssBefore << " MiB before, " << rssPeak
                  << " MiB at the peak\n";
        smooth = busy.Clean();
        quietSeen = quietSeen || quiet.Clean();
    }

    // Memory: what the clients cost is bounded and small beside the relay's own buffers.
    EXPECT_LT(rssPeak - rssBefore, 64.0) << "before " << rssBefore << " MiB, peak " << rssPeak;

    // Every attack got its clear answer, and the watchers were served throughout.
    for (const auto& [attack, outcomes] : results) {
        std::string summary;
        for (const auto& [status, count] : outcomes)
            summary += " [" + status + "] x" + std::to_string(count);
        std::cout << attack << ":" << summary << "\n";
    }
    EXPECT_GT(results["oversized"]["HTTP/1.1 413 Payload Too Large"], 0);
    EXPECT_GT(results["oversized chunked"]["HTTP/1.1 413 Payload Too Large"], 0);
    // A 503 is the answer to connections beyond one address's share, of which the test, all on
    // 127.0.0.1, opens many.
    EXPECT_GT(results["malformed JSON"]["HTTP/1.1 400"], 0);
    EXPECT_EQ(results["malformed JSON"]["HTTP/1.1 400"] + results["malformed JSON"]["HTTP/1.1 503"],
              [&] {
                  int n = 0;
                  for (const auto& [status, count] : results["malformed JSON"])
                      n += count;
                  return n;
              }())
        << "only 400s, or 503s for connections beyond the limits";
    EXPECT_GT(results["malformed HTTP"]["HTTP/1.1 400 Bad Request"], 0);
    EXPECT_GT(results["slow loris"]["closed by the server"], 0);
    EXPECT_GT(results["flood"]["HTTP/1.1 401"], 0);
    EXPECT_GT(results["flood"]["HTTP/1.1 200"], 0);
    EXPECT_GT(eventMessages.load(), 20 * kSeconds * 10) << "the watchers got levels all along";
    EXPECT_GT(pictures.load(), 20 * kSeconds) << "the watchers got pictures all along";
    // Afterwards: the API answers at once, the relay still relays, the stuck clients are gone.
    const auto start = std::chrono::steady_clock::now();
    const nlohmann::json status = Status(relay);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(status["connected"], true);
    const auto metrics = Get(port, "/metrics", token);
    EXPECT_GE(Metric(metrics.body, R"(velmor_http_dropped_event_clients_total{copy="1"})"), 5);

    // The output, judged last: what the machine's load decides must not hide the checks above.
    if (!smooth && !quietSeen) GTEST_SKIP() << "no quiet window: the machine is too busy to judge";
    EXPECT_TRUE(smooth) << "every attack left a gap over 100 ms or lost frames, while the output "
                           "without clients was clean";
}

}  // namespace
}  // namespace velmor
