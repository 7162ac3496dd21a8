// --in-config-home: which folder a desktop-started copy works in, and how it gets there.
#include "app/config_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "support/temp_dir.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ConfigHome : public ::testing::Test {
protected:
    void SetUp() override { start_ = fs::current_path(); }
    void TearDown() override { fs::current_path(start_); }
    unsigned Mode(const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
    testing::TempDir dir_;
    fs::path start_;
};

TEST_F(ConfigHome, FolderFollowsTheXdgRules) {
    struct Case {
        std::optional<std::string> xdg, home;
        std::string folder;
    };
    const Case cases[] = {
        {"/srv/conf", "/home/op", "/srv/conf/velmor"},
        {"relative/conf", "/home/op", "/home/op/.config/velmor"},  // relative: ignored
        {"", "/home/op", "/home/op/.config/velmor"},
        {std::nullopt, "/home/op", "/home/op/.config/velmor"},
        {"/srv/conf", std::nullopt, "/srv/conf/velmor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg), home("HOME", c.home);
        EXPECT_EQ(ConfigHomeFolder(), c.folder);
    }
    // Without HOME the password entry names the home folder.
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt), home("HOME", std::nullopt);
    const std::string folder = ConfigHomeFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_TRUE(folder.ends_with("/.config/velmor")) << folder;
}

TEST_F(ConfigHome, CreatesPrivateFoldersAndWorksInThem) {
    const fs::path home = dir_.path() / "home";
    fs::create_directory(home);
    fs::permissions(home, fs::perms(0755));
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt), env("HOME", home.string());

    std::string folder, error;
    ASSERT_TRUE(EnterConfigHome(folder, error)) << error;
    EXPECT_EQ(folder, (home / ".config/velmor").string());
    EXPECT_EQ(fs::current_path(), fs::path(folder));
    // What the copy writes by a bare name lands there.
    std::ofstream("last.vlm") << "x";
    EXPECT_TRUE(fs::exists(home / ".config/velmor/last.vlm"));
    EXPECT_EQ(Mode(home / ".config"), 0700u);
    EXPECT_EQ(Mode(home / ".config/velmor"), 0700u);
    EXPECT_EQ(Mode(home), 0755u) << "an existing folder keeps its mode";

    // A second start finds everything in place.
    fs::current_path(start_);
    ASSERT_TRUE(EnterConfigHome(folder, error)) << error;
    EXPECT_TRUE(fs::exists("last.vlm"));
}

TEST_F(ConfigHome, AFailureSaysWhyAndStaysInTheCurrentFolder) {
    // A file where a folder should be, at the last step and further up.
    std::ofstream(dir_.File("velmor")) << "";
    std::ofstream(dir_.File("file")) << "";
    struct Case {
        std::string xdg, named;
    };
    const Case cases[] = {
        {dir_.path().string(), dir_.File("velmor")},
        {dir_.File("file") + "/deeper", dir_.File("file") + "/deeper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdg);
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
        std::string folder, error;
        EXPECT_FALSE(EnterConfigHome(folder, error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(fs::current_path(), start_);
    }
}

}  // namespace
}  // namespace velmor
