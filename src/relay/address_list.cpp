#include "relay/address_list.h"

namespace velmor {
namespace {

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::string AddressListCheck::Joined() const {
    std::string out;
    for (const std::string& a : addresses) {
        if (!out.empty()) out += ',';
        out += a;
    }
    return out;
}

bool IsIpv4Address(std::string_view text) {
    int fields = 0;
    size_t i = 0;
    while (true) {
        int value = 0, digits = 0;
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (digits > 1 && text[start] == '0') return false;  // "010" would read as octal elsewhere
        ++fields;
        if (i == text.size()) return fields == 4;
        if (text[i] != '.' || fields == 4) return false;
        ++i;
    }
}

AddressListCheck CheckAddressList(std::string_view text) {
    AddressListCheck check;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view entry = Trimmed(text.substr(0, comma));
        if (!entry.empty()) {
            (IsIpv4Address(entry) ? check.addresses : check.rejected).emplace_back(entry);
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return check;
}

std::string AddressListMessage(const AddressListCheck& check, std::string_view where) {
    std::string text(where);
    text += ": ";
    for (size_t i = 0; i < check.rejected.size(); ++i) {
        if (i > 0) text += ", ";
        text += '"' + check.rejected[i] + '"';
    }
    text += check.rejected.size() == 1 ? " is not an IPv4 address" : " are not IPv4 addresses";
    text += check.rejected.size() == 1 ? "; it is not used for discovery"
                                       : "; they are not used for discovery";
    return text;
}

}  // namespace velmor
