// Clients of a Velmor copy's HTTP front end, for the benchmark: N clients of the events socket
// that read everything, and N that fetch the preview picture R times a second, for S seconds.
// Prints what they received. With --memcpy BYTES it instead prints the time one memcpy of BYTES
// takes here (the reference the benchmark compares against).
//
//   velmor_remote_clients --port P --token-file F [--events N] [--previews N] [--rate R]
//                         [--seconds S]
//   velmor_remote_clients --memcpy BYTES
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/http_client.h"

namespace {

using namespace std::chrono;

int Memcpy(size_t bytes) {
    std::vector<char> a(bytes, 1), b(bytes);
    const int rounds = 200;
    const auto start = steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::memcpy(b.data(), a.data(), bytes);
        a[static_cast<size_t>(i) % bytes] = b[bytes - 1];  // keeps the copies
    }
    const double us = duration<double, std::micro>(steady_clock::now() - start).count() / rounds;
    std::printf("memcpy %zu bytes: %.1f us\n", bytes, us);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    std::string token;
    int events = 20, previews = 20, seconds = 20;
    double rate = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--memcpy") return Memcpy(std::stoul(v));
        if (a == "--port") port = static_cast<uint16_t>(std::stoi(v));
        if (a == "--token-file") std::getline(std::ifstream(v), token);
        if (a == "--events") events = std::stoi(v);
        if (a == "--previews") previews = std::stoi(v);
        if (a == "--rate") rate = std::stod(v);
        if (a == "--seconds") seconds = std::stoi(v);
    }
    if (port == 0 || token.empty()) {
        std::fprintf(stderr, "usage: velmor_remote_clients --port P --token-file F ...\n");
        return 2;
    }
    std::atomic<bool> stop{false};
    std::atomic<long> messages{0}, pictures{0}, pictureBytes{0}, failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < events; ++i)
        threads.emplace_back([&] {
            velmor::test::EventsClient c;
            if (!c.Connect(port, "velmor-events") || !c.Send("{\"token\":\"" + token + "\"}")) {
                ++failures;
                return;
            }
            while (!stop)
                if (!c.Read(milliseconds(500)).empty()) ++messages;
        });
    const auto period = duration_cast<microseconds>(duration<double>(1.0 / rate));
    for (int i = 0; i < previews; ++i)
        threads.emplace_back([&] {
            auto next = steady_clock::now();
            while (!stop) {
                const auto r = velmor::test::Get(port, "/api/v1/preview.jpg", token);
                if (r.status == 200) {
                    ++pictures;
                    pictureBytes += static_cast<long>(r.body.size());
                } else {
                    ++failures;
                }
                next += period;
                std::this_thread::sleep_until(next);
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    std::printf(
        "clients: %d events, %d previews at %.1f/s for %d s: %ld messages, %ld pictures "
        "(%.1f KiB each), %ld failures\n",
        events, previews, rate, seconds, messages.load(), pictures.load(),
        pictures ? pictureBytes.load() / 1024.0 / static_cast<double>(pictures.load()) : 0.0,
        failures.load());
    return failures == 0 ? 0 : 1;
}
