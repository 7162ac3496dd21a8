// Two test hosts in network namespaces made here, joined by a veth pair: a source on one is
// found from the other by extra IP (unicast) and by opt-in multicast, and its video arrives.
// Needs root and `ip netns`; skips otherwise. Only the namespaces' own addresses are used.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "process.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Process;

int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

class TwoHosts : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
        const std::string id = std::to_string(getpid() % 100000);
        a_ = "velmor-a-" + id;
        b_ = "velmor-b-" + id;
        vethA_ = "vla" + id;
        vethB_ = "vlb" + id;
        if (Shell("ip netns add " + a_) != 0) GTEST_SKIP() << "ip netns is not available";
        made_ = true;
        const bool ok = Shell("ip netns add " + b_) == 0 &&
                        Shell("ip link add " + vethA_ + " netns " + a_ + " type veth peer name " +
                              vethB_ + " netns " + b_) == 0 &&
                        Shell("ip -n " + a_ + " addr add " + kHostA + "/24 dev " + vethA_) == 0 &&
                        Shell("ip -n " + b_ + " addr add " + kHostB + "/24 dev " + vethB_) == 0 &&
                        Shell("ip -n " + a_ + " link set lo up") == 0 &&
                        Shell("ip -n " + b_ + " link set lo up") == 0 &&
                        Shell("ip -n " + a_ + " link set " + vethA_ + " up") == 0 &&
                        Shell("ip -n " + b_ + " link set " + vethB_ + " up") == 0;
        ASSERT_TRUE(ok) << "setting up the test hosts failed";
        dir_ = "/tmp/velmor-ndi-netns-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (!made_) return;
        Shell("ip netns del " + a_);  // takes the veth pair with it
        Shell("ip netns del " + b_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // A tool run inside host `ns` with extra environment settings.
    std::unique_ptr<Process> On(const std::string& ns, const std::vector<std::string>& env,
                                const std::string& tool, std::vector<std::string> args) {
        std::vector<std::string> all = {"netns", "exec", ns, "env"};
        all.insert(all.end(), env.begin(), env.end());
        all.push_back(tool);
        all.insert(all.end(), args.begin(), args.end());
        return std::make_unique<Process>("/usr/sbin/ip", all);
    }

    static constexpr const char* kHostA = "10.231.77.1";
    static constexpr const char* kHostB = "10.231.77.2";
    std::string a_, b_, vethA_, vethB_, dir_;
    bool made_ = false;
};

const std::vector<std::string> kSource = {"--name",           "far",  "--size",    "64x32",
                                          "--rate",           "25/1", "--seconds", "20",
                                          "--audio-channels", "0"};

TEST_F(TwoHosts, ASourceIsFoundByExtraIpAndReceived) {
    auto src = On(a_, {"VELMOR_NDI_LAN=1"}, VELMOR_TESTSRC, kSource);
    // Without the extra IP the other host sees nothing; with it, the source and its frames.
    auto blind = On(b_, {}, VELMOR_SINK, {"--source", "far", "--find-timeout", "2"});
    EXPECT_EQ(blind->Wait(10s), 2) << blind->Output();
    auto sink = On(b_, {}, VELMOR_SINK,
                   {"--source", "far", "--extra-ips", kHostA, "--frames", "10", "--seconds", "8",
                    "--find-timeout", "5"});
    EXPECT_EQ(sink->Wait(15s), 0) << sink->Output();
    EXPECT_TRUE(sink->OutputHas(std::string("at ") + kHostA + ":")) << sink->Output();
}

TEST_F(TwoHosts, ASourceIsFoundByOptInMulticast) {
    auto src = On(a_, {"VELMOR_NDI_MULTICAST=" + vethA_}, VELMOR_TESTSRC, kSource);
    auto sink = On(b_, {"VELMOR_NDI_MULTICAST=" + vethB_}, VELMOR_SINK,
                   {"--source", "far", "--frames", "10", "--seconds", "8", "--find-timeout", "5"});
    EXPECT_EQ(sink->Wait(15s), 0) << sink->Output();
    EXPECT_TRUE(sink->OutputHas(std::string("at ") + kHostA + ":")) << sink->Output();
}

}  // namespace
}  // namespace velmor
