#include "relay/address_list.h"

#include <gtest/gtest.h>

namespace velmor {
namespace {

TEST(AddressList, AcceptsDottedIpv4AndNamesEveryWrongEntry) {
    struct Case {
        const char* given;
        std::vector<std::string> addresses;
        std::vector<std::string> rejected;
    };
    const Case cases[] = {
        {"192.0.2.7", {"192.0.2.7"}, {}},
        {" 10.0.0.1 , 0.0.0.0,255.255.255.255", {"10.0.0.1", "0.0.0.0", "255.255.255.255"}, {}},
        {"", {}, {}},
        {"1.2.3.4,,", {"1.2.3.4"}, {}},
        {"999.1.1.1", {}, {"999.1.1.1"}},
        {"not-an-ip", {}, {"not-an-ip"}},
        {"1.2.3", {}, {"1.2.3"}},
        {"1.2.3.4.5", {}, {"1.2.3.4.5"}},
        {"1.2.3.", {}, {"1.2.3."}},
        {"01.2.3.4", {}, {"01.2.3.4"}},
        {"1.2.3.4:5961", {}, {"1.2.3.4:5961"}},
        {"-1.2.3.4", {}, {"-1.2.3.4"}},
        {"1.2.3.4, 1.2.3.256, studio", {"1.2.3.4"}, {"1.2.3.256", "studio"}},
    };
    for (const Case& c : cases) {
        const AddressListCheck check = CheckAddressList(c.given);
        EXPECT_EQ(check.addresses, c.addresses) << c.given;
        EXPECT_EQ(check.rejected, c.rejected) << c.given;
    }
    const AddressListCheck two = CheckAddressList("1.2.3.4, 999.1.1.1 ,x");
    EXPECT_EQ(two.Joined(), "1.2.3.4");
    EXPECT_EQ(AddressListMessage(two, "Command line"),
              "Command line: \"999.1.1.1\", \"x\" are not IPv4 addresses; they are not used for "
              "discovery");
    EXPECT_EQ(AddressListMessage(CheckAddressList("not-an-ip"), "Command line"),
              "Command line: \"not-an-ip\" is not an IPv4 address; it is not used for discovery");
}

}  // namespace
}  // namespace velmor
