// Finds and opens the NDI library: the installed runtime when there is one, else the built-in
// transport. Users of NDI tools on Linux most often meet "runtime not found", so every path tried
// goes into the log with the reason it was not used.
#include "ndi/ndi_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace velmor {
namespace {

struct Candidate {
    std::string path;
    NdiKind kind;
    std::string how;  // why this path is on the list, for the log
};

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string DirOf(const std::string& file) {
    auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

std::string JoinDir(const std::string& dir, const char* name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::vector<Candidate> RuntimeCandidates() {
    std::vector<Candidate> list;
    const std::string v6 = EnvText("NDI_RUNTIME_DIR_V6");
    const std::string v5 = EnvText("NDI_RUNTIME_DIR_V5");
    if (!v6.empty())
        list.push_back({JoinDir(v6, "libndi.so.6"), NdiKind::Runtime, "NDI_RUNTIME_DIR_V6"});
    if (!v5.empty())
        list.push_back({JoinDir(v5, "libndi.so.5"), NdiKind::Runtime, "NDI_RUNTIME_DIR_V5"});
    list.push_back({"libndi.so.6", NdiKind::Runtime, "dynamic linker"});
    list.push_back({"libndi.so.5", NdiKind::Runtime, "dynamic linker"});
    for (const char* lib : {"libndi.so.6", "libndi.so.5"})
        for (const char* dir : {"/usr/lib", "/usr/lib/x86_64-linux-gnu", "/usr/local/lib"})
            list.push_back({JoinDir(dir, lib), NdiKind::Runtime, "standard folder"});
    return list;
}

std::vector<Candidate> BuiltinCandidates() {
    std::vector<Candidate> list;
    const std::string forced = EnvText("VELMOR_NDI_BUILTIN");
    if (!forced.empty()) list.push_back({forced, NdiKind::Builtin, "VELMOR_NDI_BUILTIN"});

    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto dir = exe.parent_path();
        list.push_back({JoinDir(dir.string(), kBuiltinNdiLibraryName), NdiKind::Builtin,
                        "next to the executable"});
        // Installed programs sit in <prefix>/bin and the transport in <prefix>/lib/velmor; going
        // up from the executable keeps any prefix and any DESTDIR root working.
        list.push_back({(dir.parent_path() / "lib/velmor" / kBuiltinNdiLibraryName).string(),
                        NdiKind::Builtin, "installed library folder"});
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadNdiLibrary), &info) != 0 && info.dli_fname) {
        std::string self = info.dli_fname;
        std::string path = JoinDir(DirOf(self), kBuiltinNdiLibraryName);
        bool seen = false;
        for (const auto& c : list)
            seen = seen || c.path == path;
        if (!seen)
            list.push_back({path, NdiKind::Builtin, "next to the library holding the loader"});
    }
#if defined(VELMOR_NDI_BUILTIN_BUILD_PATH) && defined(VELMOR_BUILD_DIR)
    // Programs inside the build tree (tests, tools) live in many folders; they find the library
    // where the build put it. An installed copy never reaches back into a build folder, which
    // may hold another version by now.
    const std::string buildDir = std::string(VELMOR_BUILD_DIR) + "/";
    if (!ec && exe.string().compare(0, buildDir.size(), buildDir) == 0)
        list.push_back({VELMOR_NDI_BUILTIN_BUILD_PATH, NdiKind::Builtin, "build tree"});
#endif
    return list;
}

// Each NdiLibrary member paired with its exported name, so both the loader and its log stay in
// step with the table. One a line, by hand: clang-format finds no stable layout for this list.
// clang-format off
#define VELMOR_NDI_FUNCTIONS(X)       \
    X(initialize)                     \
    X(destroy)                        \
    X(version)                        \
    X(is_supported_CPU)               \
    X(find_create_v2)                 \
    X(find_destroy)                   \
    X(find_get_current_sources)       \
    X(find_wait_for_sources)          \
    X(recv_create_v3)                 \
    X(recv_destroy)                   \
    X(recv_capture_v2)                \
    X(recv_free_video_v2)             \
    X(recv_free_audio_v2)             \
    X(recv_free_metadata)             \
    X(recv_set_tally)                 \
    X(recv_add_connection_metadata)   \
    X(recv_get_no_connections)        \
    X(send_create)                    \
    X(send_destroy)                   \
    X(send_send_video_v2)             \
    X(send_send_video_async_v2)       \
    X(send_send_audio_v2)             \
    X(send_send_metadata)             \
    X(send_add_connection_metadata)   \
    X(send_clear_connection_metadata) \
    X(send_get_tally)                 \
    X(send_get_no_connections)        \
    X(send_capture)                   \
    X(send_free_metadata)
// clang-format on

// Fills `api` from `handle`; returns the names of the functions the library lacks.
std::vector<std::string> Resolve(void* handle, NdiLibrary& api) {
    std::vector<std::string> missing;
#define VELMOR_RESOLVE(member)                                    \
    {                                                             \
        void* sym = dlsym(handle, "NDIlib_" #member);             \
        if (!sym) missing.push_back("NDIlib_" #member);           \
        api.member = reinterpret_cast<decltype(api.member)>(sym); \
    }
    VELMOR_NDI_FUNCTIONS(VELMOR_RESOLVE)
#undef VELMOR_RESOLVE
    api.send_lend_video =
        reinterpret_cast<VelmorNDI_send_lend_video_fn>(dlsym(handle, "VelmorNDI_send_lend_video"));
    return missing;
}

bool TryOne(const Candidate& c, NdiLoadResult& result) {
    const std::string prefix = "NDI: trying " + c.path + " (" + c.how + "): ";
    // A file path that does not exist is the usual case; say so plainly instead of dlerror's text.
    std::error_code ec;
    if (c.path.find('/') != std::string::npos && !std::filesystem::exists(c.path, ec)) {
        result.log.push_back(prefix + "not found");
        return false;
    }
    dlerror();
    void* handle = dlopen(c.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        result.log.push_back(prefix + "cannot open (" + (err ? err : "unknown error") + ")");
        return false;
    }
    NdiLibrary api;
    auto missing = Resolve(handle, api);
    if (!missing.empty()) {
        std::string names;
        for (const auto& m : missing)
            names += (names.empty() ? "" : ", ") + m;
        result.log.push_back(prefix + "missing function " + names + "; not used");
        dlclose(handle);
        return false;
    }
    const char* version = api.version();
    result.ok = true;
    result.kind = c.kind;
    result.api = api;
    result.path = c.path;
    result.versionText = version ? version : "";
    result.handle = std::shared_ptr<void>(handle, [](void* h) { dlclose(h); });
    result.log.push_back(prefix + "loaded");
    result.log.push_back(
        std::string("NDI: using ") +
        (c.kind == NdiKind::Runtime ? "the NDI runtime " : "the built-in transport ") + c.path +
        ", version \"" + result.versionText + "\"");
    return true;
}

std::string Describe(const std::vector<Candidate>& list) {
    std::string s;
    for (const auto& c : list)
        s += (s.empty() ? "" : ", ") + c.path;
    return s;
}

}  // namespace

NdiLoadResult LoadNdiLibrary(NdiChoice choice) {
    NdiLoadResult result;
    if (choice == NdiChoice::FromEnvironment) {
        const std::string env = Lower(EnvText("VELMOR_NDI"));
        if (env.empty() || env == "auto") {
            choice = NdiChoice::Auto;
        } else if (env == "runtime") {
            choice = NdiChoice::Runtime;
        } else if (env == "builtin") {
            choice = NdiChoice::Builtin;
        } else {
            result.log.push_back("NDI: VELMOR_NDI=\"" + env +
                                 "\" is not auto, runtime or builtin; using auto");
            choice = NdiChoice::Auto;
        }
    }
    const auto runtime = RuntimeCandidates();
    const auto builtin = BuiltinCandidates();
    if (choice != NdiChoice::Builtin) {
        for (const auto& c : runtime)
            if (TryOne(c, result)) return result;
        if (choice == NdiChoice::Runtime) {
            result.error =
                "The NDI runtime was requested (VELMOR_NDI=runtime) but no usable libndi.so.6 or "
                "libndi.so.5 was found; looked for: " +
                Describe(runtime);
            result.log.push_back("NDI: " + result.error);
            return result;
        }
    }
    for (const auto& c : builtin)
        if (TryOne(c, result)) return result;
    result.error = "No NDI library could be loaded; looked for: " +
                   (choice == NdiChoice::Builtin ? std::string() : Describe(runtime) + ", ") +
                   Describe(builtin);
    result.log.push_back("NDI: " + result.error);
    return result;
}

std::string NdiVersionNumber(const std::string& versionText) {
    auto space = versionText.find_last_of(' ');
    return space == std::string::npos ? versionText : versionText.substr(space + 1);
}

}  // namespace velmor
