// Discovery texts and local announcements: group matching, list parsing, and stale entries.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ndi/builtin/discovery.h"

namespace velmor::discovery {
namespace {

TEST(Discovery, GroupsAreCommaSeparatedCaseBlindAndPublicByDefault) {
    EXPECT_EQ(SplitGroups(""), std::vector<std::string>{"public"});
    EXPECT_EQ(SplitGroups(" , ,"), std::vector<std::string>{"public"});
    EXPECT_EQ(SplitGroups("Public, Korvo NDI apps ,public"),
              (std::vector<std::string>{"public", "korvo ndi apps"}));
    EXPECT_TRUE(GroupsIntersect(SplitGroups("Studio A,News"), SplitGroups("news")));
    EXPECT_FALSE(GroupsIntersect(SplitGroups("Studio A"), SplitGroups("")));
}

TEST(Discovery, SourceListsRoundTripAndMalformedListsAreRefused) {
    std::vector<Announcement> list = {{"HOST (a)", "public", 4000, 0, 0},
                                      {"HOST (b (2))", "x,y", 65535, 0, 0}};
    std::vector<Announcement> back;
    ASSERT_TRUE(ParseSourceList(FormatSourceList(list), back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].name, "HOST (b (2))");
    EXPECT_EQ(back[1].port, 65535);

    const std::string head = "velmor-ndi-sources 1\n";
    for (const std::string& bad : {
             std::string("velmor-ndi-sources 2\n"),
             head + "S\t0\tpublic\tHOST (a)\n",      // port 0
             head + "S\t65536\tpublic\tHOST (a)\n",  // port too large
             head + "S\t-1\tpublic\tHOST (a)\n",
             head + "S\t12x\tpublic\tHOST (a)\n",
             head + "S\t1\t\tHOST (a)\n",  // empty groups
             head + "S\t1\tpublic\n",      // missing name
             head + "S\t1\tpublic\tA\textra\n",
             head + "S\t1\tpublic\t" + std::string(kMaxField + 1, 'n') + "\n",
             head + std::string(kMaxListBytes, 'S'),
         }) {
        EXPECT_FALSE(ParseSourceList(bad, back)) << bad.substr(0, 60);
        EXPECT_TRUE(back.empty());
    }
    std::string many = head;
    for (size_t i = 0; i <= kMaxEntries; ++i)
        many += "S\t1\tp\tn" + std::to_string(i) + "\n";
    EXPECT_FALSE(ParseSourceList(many, back)) << "more entries than allowed";
}

TEST(Discovery, CleanFieldKeepsListLinesIntact) {
    EXPECT_EQ(CleanField("a\tb\nc"), "a b c");
    EXPECT_EQ(CleanField(std::string(kMaxField + 10, 'x')).size(), kMaxField);
}

TEST(Discovery, ScanSkipsAndRemovesAnnouncementsOfEndedProcesses) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("velmor-scan-" + std::to_string(getpid()));
    fs::create_directories(dir);

    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // gone: its pid no longer names a process

    Announcement live{"HOST (live)", "public", 1234, getpid(), ProcessStartTime(getpid())};
    Announcement dead{"HOST (dead)", "public", 1235, child, 12345};
    Announcement reused{"HOST (reused)", "public", 1236, getpid(), live.startTime + 1};
    for (auto [file, a] : {std::pair{"live.src", live}, {"dead.src", dead}, {"reused.src", reused}})
        std::ofstream(dir / file) << FormatAnnouncement(a);
    std::ofstream(dir / "junk.src") << "not an announcement";

    auto found = ScanLocal(dir.string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "HOST (live)");
    EXPECT_EQ(found[0].port, 1234);
    EXPECT_FALSE(fs::exists(dir / "dead.src"));
    EXPECT_FALSE(fs::exists(dir / "reused.src"));  // a pid reused by another process
    fs::remove_all(dir);
}

}  // namespace
}  // namespace velmor::discovery
