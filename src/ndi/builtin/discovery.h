// How built-in transport sources find each other. On one machine every sender writes a small
// announcement file into a folder shared by the processes of this user and network namespace;
// finders read the folder and skip files whose process is gone, so a killed process drops out
// at the next scan. Other machines are asked over TCP (a host's "responder" answers with its
// sources) or listen to opt-in multicast announcements; both carry the same text list, parsed
// here with every field checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmor::discovery {

inline constexpr size_t kMaxListBytes = 256 * 1024;
inline constexpr size_t kMaxEntries = 1024;
inline constexpr size_t kMaxField = 512;

struct Announcement {
    std::string name;        // full NDI name, "HOST (name)"
    std::string groups;      // as given to the sender, normalised ("public" when none)
    uint16_t port = 0;       // the sender's stream port
    int64_t pid = 0;         // only in local announcement files
    uint64_t startTime = 0;  // the process's start time, so a reused pid is not mistaken for it
};

// Lower-case, trimmed, de-duplicated group names; {"public"} when the text names none.
std::vector<std::string> SplitGroups(std::string_view text);
std::string JoinGroups(const std::vector<std::string>& groups);
bool GroupsIntersect(const std::vector<std::string>& a, const std::vector<std::string>& b);

// Texts that go into a list line lose their tabs, line breaks and NULs, and are cut to kMaxField.
std::string CleanField(std::string_view text);

std::string FormatAnnouncement(const Announcement& a);
bool ParseAnnouncement(std::string_view text, Announcement& out);

std::string FormatSourceList(const std::vector<Announcement>& list);
// False (and `out` empty) for anything that is not a well-formed list within the bounds above.
bool ParseSourceList(std::string_view text, std::vector<Announcement>& out);

// "HOST (name)" for a sender created with `name` on this machine.
std::string FullSourceName(std::string_view name);
std::string HostName();

// The folder of local announcements, created (mode 0700) when missing: /run/user/<uid>/velmor-ndi,
// or /tmp/velmor-ndi-<uid> where the former is missing; $VELMOR_NDI_DIR overrides.
std::string AnnouncementDir();
uint64_t ProcessStartTime(int64_t pid);  // 0 when the process does not exist

// Live local sources; stale announcement files are removed.
std::vector<Announcement> ScanLocal(const std::string& dir);

}  // namespace velmor::discovery
