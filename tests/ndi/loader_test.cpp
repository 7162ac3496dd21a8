// The loader chooses between the installed runtime and the built-in transport, and says why.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ndi/ndi_library.h"

namespace velmor {
namespace {

bool LogMentions(const NdiLoadResult& r, const std::string& text) {
    for (const auto& line : r.log)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"VELMOR_NDI", "NDI_RUNTIME_DIR_V6", "NDI_RUNTIME_DIR_V5"})
            unsetenv(v);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(LoaderTest, PicksTheBuiltinTransportWhenNoRuntimeIsInstalledAndLogsEveryPathTried) {
    auto r = LoadNdiLibrary();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.kind, NdiKind::Builtin);
    EXPECT_NE(r.path.find(kBuiltinNdiLibraryName), std::string::npos);
    EXPECT_EQ(NdiVersionNumber(r.versionText), "1.0.0");
    // Every runtime location was tried and logged before the built-in library was chosen.
    for (const char* tried :
         {"libndi.so.6", "libndi.so.5", "/usr/lib/libndi.so.6",
          "/usr/lib/x86_64-linux-gnu/libndi.so.6", "/usr/local/lib/libndi.so.5"})
        EXPECT_TRUE(LogMentions(r, std::string("trying ") + tried)) << tried;
    EXPECT_TRUE(LogMentions(r, "using the built-in transport " + r.path));
    ASSERT_NE(r.api.send_free_metadata, nullptr);
}

TEST_F(LoaderTest, PrefersARuntimeInNdiRuntimeDirV6) {
    setenv("NDI_RUNTIME_DIR_V6", VELMOR_STANDIN_DIR, 1);
    auto r = LoadNdiLibrary();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.kind, NdiKind::Runtime);
    EXPECT_EQ(r.path, std::string(VELMOR_STANDIN_DIR) + "/libndi.so.6");
    EXPECT_EQ(r.versionText, "Stand-in NDI SDK LINUX 6.9.1");
    EXPECT_EQ(NdiVersionNumber(r.versionText), "6.9.1");
    EXPECT_TRUE(LogMentions(r, "using the NDI runtime"));
}

TEST_F(LoaderTest, SkipsALibraryThatLacksAFunctionAndNamesIt) {
    setenv("NDI_RUNTIME_DIR_V6", VELMOR_STANDIN_INCOMPLETE_DIR, 1);
    auto r = LoadNdiLibrary();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.kind, NdiKind::Builtin);
    EXPECT_TRUE(LogMentions(r, "missing function NDIlib_send_capture; not used"));
}

TEST_F(LoaderTest, EnvironmentChoosesTheLibrary) {
    setenv("NDI_RUNTIME_DIR_V6", VELMOR_STANDIN_DIR, 1);
    setenv("VELMOR_NDI", "builtin", 1);
    EXPECT_EQ(LoadNdiLibrary().kind, NdiKind::Builtin);

    setenv("VELMOR_NDI", "runtime", 1);
    EXPECT_EQ(LoadNdiLibrary().kind, NdiKind::Runtime);

    // Runtime requested but none installed: a clear error naming what was looked for, and the
    // built-in library is not used in its place.
    unsetenv("NDI_RUNTIME_DIR_V6");
    auto r = LoadNdiLibrary();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.kind, NdiKind::None);
    EXPECT_NE(r.error.find("VELMOR_NDI=runtime"), std::string::npos);
    EXPECT_NE(r.error.find("/usr/local/lib/libndi.so.6"), std::string::npos);
    EXPECT_NE(r.error.find("libndi.so.5"), std::string::npos);
}

}  // namespace
}  // namespace velmor
