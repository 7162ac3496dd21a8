// Checking the finder's extra addresses: a comma-separated list of dotted IPv4 addresses, as the
// command line and the Extra IP control give them. Host names are not accepted: the finder is
// handed addresses, and a name that cannot be resolved would fail without a word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmor {

struct AddressListCheck {
    std::vector<std::string> addresses;  // the valid entries, trimmed, in order
    std::vector<std::string> rejected;   // the entries that are not IPv4 addresses, as given
    // The valid entries joined with commas, as the finder takes them.
    std::string Joined() const;
    bool ok() const { return rejected.empty(); }
};

// True for four decimal fields 0..255 of one to three digits, separated by dots ("192.0.2.7").
bool IsIpv4Address(std::string_view text);

// Splits at commas; blanks around an entry are ignored, and so are empty entries.
AddressListCheck CheckAddressList(std::string_view text);

// The operator's message for a list with rejected entries, naming each of them, e.g.
// "Command line: \"999.1.1.1\" is not an IPv4 address; it is not used for discovery".
std::string AddressListMessage(const AddressListCheck& check, std::string_view where);

}  // namespace velmor
