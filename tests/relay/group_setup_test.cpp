#include "relay/group_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "relay/text_fields.h"

namespace velmor {
namespace {

struct GroupCase {
    int detectPublic, detectApps;
    std::string detectExtra;
    const char* receive;
    int outputPublic, outputApps;
    std::string outputExtra;
    const char* send;
};

TEST(GroupSetup, BuildsDetectionAndOutputTexts) {
    const GroupCase cases[] = {
        {0, 0, "", "", 0, 0, "", "Korvo Velmor"},
        {1, 1, "Studio A", "Public,Korvo NDI apps,Studio A", 1, 0, "", "Korvo Velmor,Public"},
        {0, 1, "", "Korvo NDI apps", 0, 1, "", "Korvo Velmor,Korvo NDI apps"},
        {0, 0, "Studio B", "Studio B", 1, 1, "OB 1", "Korvo Velmor,Public,Korvo NDI apps,OB 1"},
    };
    for (const GroupCase& c : cases) {
        GroupSettings stored{};
        GroupSetup g;
        g.record = &stored;
        g.detectPublicCheck = c.detectPublic;
        g.detectAppsCheck = c.detectApps;
        g.detectExtraText = c.detectExtra;
        g.outputPublicCheck = c.outputPublic;
        g.outputAppsCheck = c.outputApps;
        g.outputExtraText = c.outputExtra;
        g.BuildReceiveGroups();
        g.BuildSendGroups();
        EXPECT_STREQ(g.receiveGroups, c.receive);
        EXPECT_STREQ(g.sendGroups, c.send);
        // The choices are written back into the stored record at once.
        EXPECT_EQ(stored.detectPublic, c.detectPublic);
        EXPECT_EQ(stored.detectAppsGroup, c.detectApps);
        EXPECT_EQ(stored.outputPublic, c.outputPublic);
        EXPECT_EQ(stored.outputAppsGroup, c.outputApps);
        EXPECT_EQ(FieldText(stored.detectExtraGroups), c.detectExtra);
        EXPECT_EQ(FieldText(stored.outputExtraGroups), c.outputExtra);

        // And loading the controls from the record gives the same texts back.
        GroupSetup reloaded;
        reloaded.record = &stored;
        reloaded.LoadGroupControls();
        reloaded.BuildReceiveGroups();
        reloaded.BuildSendGroups();
        EXPECT_STREQ(reloaded.receiveGroups, c.receive);
        EXPECT_STREQ(reloaded.sendGroups, c.send);
    }
}

TEST(GroupSetup, EditTextsAreLimitedTo64CharactersNotBytes) {
    const std::string wide(70, 'x');
    EXPECT_EQ(GroupSetup::LimitEditText(wide).size(), 64u);
    std::string accents;
    for (int i = 0; i < 70; ++i)
        accents += "\xC3\xA9";  // 70 two-byte characters
    EXPECT_EQ(GroupSetup::LimitEditText(accents).size(), 128u);
}

TEST(GroupSetup, HostileStoredRecordStaysInsideItsBounds) {
    // A loaded record whose texts fill their fields without a terminator.
    GroupSettings stored;
    std::memset(&stored, 0, sizeof stored);
    std::memset(stored.detectExtraGroups, 'd', sizeof stored.detectExtraGroups);
    std::memset(stored.outputExtraGroups, 'o', sizeof stored.outputExtraGroups);
    stored.detectPublic = stored.detectAppsGroup = stored.outputPublic = stored.outputAppsGroup = 1;
    GroupSetup g;
    g.record = &stored;
    g.LoadGroupControls();
    EXPECT_EQ(g.detectExtraText, std::string(64, 'd'));
    g.BuildReceiveGroups();
    g.BuildSendGroups();
    EXPECT_EQ(std::string(g.receiveGroups), "Public,Korvo NDI apps," + std::string(64, 'd'));
    EXPECT_EQ(std::string(g.sendGroups),
              "Korvo Velmor,Public,Korvo NDI apps," + std::string(64, 'o'));
    EXPECT_LT(std::strlen(g.receiveGroups), GroupSetup::kGroupTextSize);
}

}  // namespace
}  // namespace velmor
