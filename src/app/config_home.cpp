#include "app/config_home.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmor {
namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    std::vector<char> buf(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// mkdir -p with mode 0700 for every folder it makes; existing folders keep their mode.
bool MakeFolders(const std::string& path, std::string& error) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (end == std::string::npos) return true;
    }
}

}  // namespace

std::string ConfigHomeFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/velmor";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config/velmor";
}

bool EnterConfigHome(std::string& folder, std::string& error) {
    folder = ConfigHomeFolder();
    if (folder.empty()) {
        error = "no home folder is known (HOME and XDG_CONFIG_HOME are unset)";
        return false;
    }
    if (!MakeFolders(folder, error)) return false;
    if (::chdir(folder.c_str()) != 0) {
        error = "cannot enter " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace velmor
