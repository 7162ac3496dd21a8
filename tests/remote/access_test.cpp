// The listen address of --http, and the access token: made, written where the operator's tools
// find it, and read from a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "remote/access_token.h"
#include "remote/listen_address.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

TEST(ListenAddress, Forms) {
    struct Case {
        const char* option;
        bool ok;
        const char* host;
        int port;
        bool loopback;
    } cases[] = {
        {"8080", true, "127.0.0.1", 8080, true},
        {"0", true, "127.0.0.1", 0, true},
        {"127.0.0.1:80", true, "127.0.0.1", 80, true},
        {"127.8.9.1:80", true, "127.8.9.1", 80, true},
        {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
        {"192.0.2.7:65535", true, "192.0.2.7", 65535, false},
        {"[::1]:8080", true, "::1", 8080, true},
        {"[::]:8080", true, "::", 8080, false},
        {"65536", false, "", 0, false},
        {"-1", false, "", 0, false},
        {"", false, "", 0, false},
        {"localhost:80", false, "", 0, false},
        {"1.2.3:80", false, "", 0, false},
        {"1.2.3.4:", false, "", 0, false},
        {"::1:80", false, "", 0, false},
        {"[::1]80", false, "", 0, false},
        {"[zz]:80", false, "", 0, false},
        {"+80", false, "", 0, false},
        {"000080", false, "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        ListenAddress a;
        std::string error;
        EXPECT_EQ(ParseListenAddress(c.option, a, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_EQ(error.rfind("--http: ", 0), 0u);
            continue;
        }
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(a.Loopback(), c.loopback);
    }
    ListenAddress any;
    std::string error;
    ASSERT_TRUE(ParseListenAddress("0.0.0.0:9", any, error));
    EXPECT_EQ(any.PageAddress(8123), "http://127.0.0.1:8123/");
    ASSERT_TRUE(ParseListenAddress("[::1]:9", any, error));
    EXPECT_EQ(any.PageAddress(9), "http://[::1]:9/");
}

TEST(AccessToken, MadeRandomAndLongEnough) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string t = MakeAccessToken();
        EXPECT_EQ(t.size(), 43u) << "256 bits in base64url";
        EXPECT_EQ(t.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789-_"),
                  std::string::npos);
        seen.insert(t);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(AccessToken, WrittenForTheOwnerAlone) {
    testing::TempDir dir;
    const std::string previous =
        std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    std::string error;
    const std::string path = WriteAccessToken("tok-0123456789abcdef", 3, error);
    ASSERT_EQ(path, (dir.path() / "velmor" / "http-token-3").string()) << error;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir.path() / "velmor").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string token, warning;
    EXPECT_TRUE(ReadAccessToken(path, token, error, warning)) << error;
    EXPECT_EQ(token, "tok-0123456789abcdef");
    EXPECT_EQ(warning, "");
    // A folder others may enter is no place for it.
    chmod((dir.path() / "velmor").c_str(), 0755);
    EXPECT_EQ(WriteAccessToken("tok-0123456789abcdef", 3, error), "");
    EXPECT_NE(error.find("not a folder of this user's alone"), std::string::npos);
    if (previous.empty()) {
        unsetenv("XDG_RUNTIME_DIR");
    } else {
        setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    }
}

TEST(AccessToken, ReadFromAFile) {
    testing::TempDir dir;
    struct Case {
        std::string content;
        bool ok;
        std::string token;
    } cases[] = {
        {"  abcdefghijklmnop \r\nsecond line\n", true, "abcdefghijklmnop"},
        {"abcdefghijklmnopqrstuvwxyz", true, "abcdefghijklmnopqrstuvwxyz"},
        {"short\n", false, ""},
        {"", false, ""},
        {"abcdefgh ijklmnopq\n", false, ""},
        {std::string(1025, 'a'), false, ""},
        {std::string(5000, 'a'), false, ""},
        {"abcdefghijklmnop\xC3\xA9", false, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = (dir.path() / ("t" + std::to_string(++n))).string();
        std::ofstream(path) << c.content;
        chmod(path.c_str(), 0600);
        std::string token, error, warning;
        EXPECT_EQ(ReadAccessToken(path, token, error, warning), c.ok) << c.content << error;
        if (c.ok) {
            EXPECT_EQ(token, c.token);
        }
    }
    std::string token, error, warning;
    EXPECT_FALSE(ReadAccessToken((dir.path() / "missing").string(), token, error, warning));
    EXPECT_NE(error.find("cannot open the token file"), std::string::npos);
    EXPECT_FALSE(ReadAccessToken(dir.path().string(), token, error, warning));
    const std::string open = (dir.path() / "open").string();
    std::ofstream(open) << "abcdefghijklmnop\n";
    chmod(open.c_str(), 0644);
    EXPECT_TRUE(ReadAccessToken(open, token, error, warning));
    EXPECT_NE(warning.find("may be read by other users"), std::string::npos);
}

}  // namespace
}  // namespace velmor
