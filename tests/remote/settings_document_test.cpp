// The settings document's reader and writer: which names it offers, which values a PATCH may
// hold, and the limits a client builds its controls from.
#include "remote/settings_document.h"

#include <gtest/gtest.h>

#include <set>

namespace velmor {
namespace {

using Json = nlohmann::json;

TEST(SettingsDocument, OffersTheWindowsSettingsByTheTablesNames) {
    std::set<std::string_view> names;
    for (const OfferedSetting& s : OfferedSettings()) {
        names.insert(s.name);
        EXPECT_TRUE(s.decl || s.windowSwitch != WindowSwitch::None) << s.name;
        if (s.decl) {
            EXPECT_EQ(s.decl->name, s.name);
        }
    }
    // Every name resolves in the table: none was left out.
    EXPECT_EQ(names.size(), 23u);
    for (const char* name : {"rotation",
                             "deinterlace",
                             "preview",
                             "procAmp.blackLevel",
                             "procAmp.gain",
                             "procAmp.contrast",
                             "procAmp.gamma",
                             "procAmp.colourSat",
                             "procAmp.uLevelShift",
                             "procAmp.vLevelShift",
                             "procAmp.fxOrder",
                             "procAmp.uvLinking",
                             "procAmp.applyToOutput",
                             "audio.channelMap",
                             "audio.monoMix",
                             "audio.gainStep",
                             "audio.delayFrames",
                             "audio.delayOn",
                             "monitorLevel",
                             "ebu",
                             "ppmOverlay",
                             "overlay",
                             "timecodeBurnIn"})
        EXPECT_TRUE(names.count(name)) << name;
    // Paths on the relay's machine are not offered.
    EXPECT_EQ(FindOfferedSetting("grab.folder"), nullptr);
    EXPECT_EQ(FindOfferedSetting("grab.baseName"), nullptr);
}

TEST(SettingsDocument, ReadsValuesOfEachKind) {
    std::vector<RequestedSetting> out;
    SettingsDocumentError error;
    ASSERT_TRUE(ReadSettingsDocument(Json::parse(R"({"rotation": 3, "procAmp.gain": -50,
        "preview": false, "ppmOverlay": 1, "audio.gainStep": 32782,
        "audio.channelMap": [1, 0, 2]})"),
                                     out, error))
        << error.field << ": " << error.message;
    ASSERT_EQ(out.size(), 6u);
    auto value = [&](std::string_view name) -> const RequestedSetting& {
        for (const RequestedSetting& r : out)
            if (r.setting->name == name) return r;
        ADD_FAILURE() << name;
        return out.front();
    };
    EXPECT_EQ(value("rotation").value, SettingValue(3));
    EXPECT_EQ(value("procAmp.gain").value, SettingValue(-50));
    EXPECT_EQ(value("preview").value, SettingValue(0));
    EXPECT_EQ(value("ppmOverlay").value, SettingValue(1));
    EXPECT_EQ(value("audio.gainStep").value, SettingValue(32782));
    const RequestedSetting& map = value("audio.channelMap");
    EXPECT_EQ(map.mapEntries, 3);
    const auto& entries = std::get<ChannelMapEntries>(map.value);
    EXPECT_EQ(entries[0], 1);
    EXPECT_EQ(entries[1], 0);
    EXPECT_EQ(entries[2], 2);

    // An empty change is a change of nothing.
    EXPECT_TRUE(ReadSettingsDocument(Json::object(), out, error));
    EXPECT_TRUE(out.empty());
}

TEST(SettingsDocument, NamesTheFieldAtFault) {
    struct Case {
        const char* document;
        const char* field;
        const char* says;
    };
    const Case cases[] = {
        {R"([1])", "", "JSON object"},
        {R"({"rotation": 1, "rotatoin": 2})", "rotatoin", "no such setting"},
        {R"({"grab.folder": "/etc"})", "grab.folder", "no such setting"},
        {R"({"rotation": 6})", "rotation", "from 0 to 5"},
        {R"({"rotation": -1})", "rotation", "from 0 to 5"},
        {R"({"rotation": "Rotate 90"})", "rotation", "whole number"},
        {R"({"rotation": 1.5})", "rotation", "whole number"},
        {R"({"procAmp.gain": 51})", "procAmp.gain", "from -50 to 50"},
        {R"({"procAmp.blackLevel": 256})", "procAmp.blackLevel", "from 0 to 255"},
        {R"({"procAmp.gamma": 4294967346})", "procAmp.gamma", "whole number"},
        {R"({"procAmp.gamma": -4294967246})", "procAmp.gamma", "whole number"},
        {R"({"audio.delayFrames": 16})", "audio.delayFrames", "from 0 to 15"},
        {R"({"preview": 2})", "preview", "0 or 1"},
        {R"({"overlay": "on"})", "overlay", "0 or 1"},
        {R"({"audio.gainStep": 32790})", "audio.gainStep", "gain step"},
        {R"({"audio.gainStep": 1})", "audio.gainStep", "gain step"},
        {R"({"audio.channelMap": []})", "audio.channelMap", "array of 1 to 32"},
        {R"({"audio.channelMap": [0, 33]})", "audio.channelMap", "array of 1 to 32"},
        {R"({"audio.channelMap": [0, -1]})", "audio.channelMap", "array of 1 to 32"},
        {R"({"audio.channelMap": 0})", "audio.channelMap", "array of 1 to 32"},
        {R"({"monitorLevel": null})", "monitorLevel", "whole number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        std::vector<RequestedSetting> out;
        SettingsDocumentError error;
        EXPECT_FALSE(ReadSettingsDocument(Json::parse(c.document), out, error));
        EXPECT_EQ(error.field, c.field);
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
    // 33 entries: more outputs than the map has.
    Json tooLong = Json::array();
    for (int i = 0; i < 33; ++i)
        tooLong.push_back(0);
    std::vector<RequestedSetting> out;
    SettingsDocumentError error;
    EXPECT_FALSE(ReadSettingsDocument(Json{{"audio.channelMap", tooLong}}, out, error));
}

TEST(SettingsDocument, LimitsForAClientsControls) {
    const Json rotation = SettingLimitsJson(*FindOfferedSetting("rotation"));
    ASSERT_EQ(rotation["choices"].size(), 6u);
    EXPECT_EQ(rotation["choices"][1], (Json{{"value", 1}, {"text", "Rotate 90"}}));
    EXPECT_EQ(SettingLimitsJson(*FindOfferedSetting("procAmp.gain")),
              (Json{{"min", -50}, {"max", 50}}));
    EXPECT_EQ(SettingLimitsJson(*FindOfferedSetting("ebu"))["choices"][0]["text"], "SMPTE o/p");
    EXPECT_EQ(SettingLimitsJson(*FindOfferedSetting("overlay"))["choices"][1]["text"], "On");
    const Json steps = SettingLimitsJson(*FindOfferedSetting("audio.gainStep"))["choices"];
    ASSERT_EQ(steps.size(), 19u);
    EXPECT_EQ(steps[0], (Json{{"value", 32771}, {"text", "+20 dB"}}));
    EXPECT_EQ(steps[9]["text"], "+0 dB");
    EXPECT_EQ(steps[18]["text"], "-20 dB");
    EXPECT_TRUE(SettingLimitsJson(*FindOfferedSetting("audio.channelMap")).is_null());

    ChannelMapEntries map{};
    map[0] = 1;
    const Json written = SettingValueJson(map);
    ASSERT_EQ(written.size(), 32u);
    EXPECT_EQ(written[0], 1);
    EXPECT_EQ(SettingValueJson(SettingValue(-7)), -7);
}

}  // namespace
}  // namespace velmor
