// Feeds bytes to the discovery parsers: the source lists that other machines answer with or
// announce by multicast, the local announcement files, and group texts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ndi/builtin/discovery.h"

using namespace velmor::discovery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Announcement> list;
    if (ParseSourceList(text, list)) {
        // Whatever parses must survive being formatted and parsed again unchanged.
        std::vector<Announcement> again;
        if (!ParseSourceList(FormatSourceList(list), again) || again.size() != list.size())
            __builtin_trap();
        for (const auto& a : list)
            GroupsIntersect(SplitGroups(a.groups), SplitGroups("public"));
    }
    Announcement a;
    if (ParseAnnouncement(text, a)) {
        Announcement back;
        if (!ParseAnnouncement(FormatAnnouncement(a), back) || back.name != a.name)
            __builtin_trap();
    }
    SplitGroups(text);
    CleanField(text);
    return 0;
}
