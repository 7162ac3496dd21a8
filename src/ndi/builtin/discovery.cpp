#include "ndi/builtin/discovery.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velmor::discovery {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

template <typename T>
bool ToNumber(std::string_view s, T& out) {
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string_view::npos ? s.npos : at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return parts;
}

bool CleanEnough(std::string_view s) {
    return !s.empty() && s.size() <= kMaxField &&
           s.find_first_of(std::string_view("\t\n\r\0", 4)) == std::string_view::npos;
}

constexpr std::string_view kFileMagic = "velmor-ndi-source 1";
constexpr std::string_view kListMagic = "velmor-ndi-sources 1";

}  // namespace

std::vector<std::string> SplitGroups(std::string_view text) {
    std::vector<std::string> groups;
    for (auto part : Split(text, ',')) {
        part = Trim(part);
        if (part.empty()) continue;
        std::string g(part);
        for (char& c : g)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::find(groups.begin(), groups.end(), g) == groups.end()) groups.push_back(g);
    }
    if (groups.empty()) groups.push_back("public");
    return groups;
}

std::string JoinGroups(const std::vector<std::string>& groups) {
    std::string s;
    for (const auto& g : groups)
        s += (s.empty() ? "" : ",") + g;
    return s;
}

bool GroupsIntersect(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (const auto& x : a)
        if (std::find(b.begin(), b.end(), x) != b.end()) return true;
    return false;
}

std::string CleanField(std::string_view text) {
    std::string s;
    for (char c : text.substr(0, kMaxField)) {
        if (c == '\0') break;
        s += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    }
    return s;
}

std::string FormatAnnouncement(const Announcement& a) {
    std::ostringstream out;
    out << kFileMagic << "\n"
        << "name\t" << a.name << "\n"
        << "groups\t" << a.groups << "\n"
        << "port\t" << a.port << "\n"
        << "pid\t" << a.pid << "\n"
        << "start\t" << a.startTime << "\n";
    return out.str();
}

bool ParseAnnouncement(std::string_view text, Announcement& out) {
    out = Announcement{};
    if (text.size() > 4 * kMaxField) return false;
    auto lines = Split(text, '\n');
    if (lines.empty() || lines[0] != kFileMagic) return false;
    int seen = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        auto tab = lines[i].find('\t');
        if (tab == std::string_view::npos) return false;
        auto key = lines[i].substr(0, tab), value = lines[i].substr(tab + 1);
        if (key == "name" && CleanEnough(value)) {
            out.name = std::string(value);
            seen |= 1;
        } else if (key == "groups" && CleanEnough(value)) {
            out.groups = std::string(value);
            seen |= 2;
        } else if (key == "port" && ToNumber(value, out.port) && out.port != 0) {
            seen |= 4;
        } else if (key == "pid" && ToNumber(value, out.pid) && out.pid > 0) {
            seen |= 8;
        } else if (key == "start" && ToNumber(value, out.startTime)) {
            seen |= 16;
        } else {
            return false;
        }
    }
    return seen == 31;
}

std::string FormatSourceList(const std::vector<Announcement>& list) {
    std::string s(kListMagic);
    s += "\n";
    for (const auto& a : list) {
        std::string line = "S\t" + std::to_string(a.port) + "\t" + a.groups + "\t" + a.name + "\n";
        if (s.size() + line.size() > kMaxListBytes) break;
        s += line;
    }
    return s;
}

bool ParseSourceList(std::string_view text, std::vector<Announcement>& out) {
    out.clear();
    if (text.size() > kMaxListBytes) return false;
    auto lines = Split(text, '\n');
    if (lines.empty() || lines[0] != kListMagic) return false;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        auto fields = Split(lines[i], '\t');
        Announcement a;
        if (fields.size() != 4 || fields[0] != "S" || !ToNumber(fields[1], a.port) || a.port == 0 ||
            !CleanEnough(fields[2]) || !CleanEnough(fields[3]) || out.size() >= kMaxEntries) {
            out.clear();
            return false;
        }
        a.groups = std::string(fields[2]);
        a.name = std::string(fields[3]);
        out.push_back(std::move(a));
    }
    return true;
}

std::string HostName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
    std::string h(buf);
    for (char& c : h)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return CleanField(h);
}

std::string FullSourceName(std::string_view name) {
    return HostName() + " (" + CleanField(name) + ")";
}

std::string AnnouncementDir() {
    namespace fs = std::filesystem;
    std::string base;
    if (const char* forced = std::getenv("VELMOR_NDI_DIR"); forced && *forced) {
        base = forced;
    } else {
        // The user's runtime folder by its fixed path rather than $XDG_RUNTIME_DIR, which a cron
        // job or a service lacks: every process of the user must pick the same folder.
        const std::string runtime = "/run/user/" + std::to_string(getuid());
        base = access(runtime.c_str(), W_OK) == 0 ? runtime + "/velmor-ndi"
                                                  : "/tmp/velmor-ndi-" + std::to_string(getuid());
    }
    // Processes in another network namespace cannot reach our loopback, so they get their own
    // folder even though they share the file system.
    struct stat st {};
    std::string dir = base;
    if (stat("/proc/self/ns/net", &st) == 0) dir += "/net-" + std::to_string(st.st_ino);
    std::error_code ec;
    fs::create_directories(dir, ec);
    chmod(base.c_str(), 0700);
    return dir;
}

uint64_t ProcessStartTime(int64_t pid) {
    if (pid <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces and parentheses; fields resume after the last ')'.
    auto close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    // Field 3 (state) is the first after the name; the start time is field 22.
    for (int i = 3; i <= 22 && (fields >> field); ++i) {
        if (i == 3 && (field == "Z" || field == "X")) return 0;  // a zombie sends nothing more
        if (i == 22) {
            uint64_t t = 0;
            return ToNumber(field, t) ? t : 0;
        }
    }
    return 0;
}

std::vector<Announcement> ScanLocal(const std::string& dir) {
    namespace fs = std::filesystem;
    std::vector<Announcement> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const auto& path = it->path();
        if (path.extension() != ".src") continue;
        std::ifstream in(path);
        std::string text;
        text.resize(4 * kMaxField + 1);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        Announcement a;
        if (!ParseAnnouncement(text, a)) {
            // Half-written files are renamed into place, so a bad one is garbage: but it may be
            // another user's business if the folder is shared; leave it alone.
            continue;
        }
        if (ProcessStartTime(a.pid) != a.startTime) {
            fs::remove(path, ec);
            fs::remove(fs::path(path).replace_extension(".sock"), ec);  // its shared-memory socket
            continue;
        }
        found.push_back(std::move(a));
    }
    std::sort(found.begin(), found.end(),
              [](const Announcement& x, const Announcement& y) { return x.name < y.name; });
    return found;
}

}  // namespace velmor::discovery
