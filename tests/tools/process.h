// Runs a tool as a child process with its output in a file, for end-to-end tests.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmor::test {

class Process {
public:
    // `env` entries ("NAME=value") are added to the test's environment; a non-empty `cwd` is the
    // child's working folder. `niceValue` below 0 asks for more processor than the machine's other
    // work (where the system permits it; otherwise the process runs as usual).
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {}, const std::string& cwd = {},
            int niceValue = 0) {
        static int serial = 0;
        out_ = "/tmp/velmor-tool-" + std::to_string(getpid()) + "-" + std::to_string(++serial) +
               ".out";
        pid_ = fork();
        if (pid_ == 0) {
            FILE* f = std::fopen(out_.c_str(), "w");
            if (f) {
                dup2(fileno(f), 1);
                dup2(fileno(f), 2);
            }
            for (const auto& e : env)
                putenv(const_cast<char*>(e.c_str()));
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
            if (niceValue != 0) [[maybe_unused]]
                const int ignored = nice(niceValue);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Process() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::remove(out_.c_str());
    }
    // The exit status, or -1 when the process is still running after `limit` (it is then killed).
    int Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done_) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                done_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                Kill(SIGKILL);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return code_;
    }
    void Kill(int sig) {
        if (done_) return;
        kill(pid_, sig);
        if (sig == SIGKILL) {
            waitpid(pid_, nullptr, 0);
            done_ = true;
            code_ = 128 + SIGKILL;
        }
    }
    std::string Output() const {
        std::ifstream in(out_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    pid_t pid() const { return pid_; }
    bool OutputHas(const std::string& text) const {
        return Output().find(text) != std::string::npos;
    }

private:
    pid_t pid_ = -1;
    std::string out_;
    bool done_ = false;
    int code_ = -1;
};

}  // namespace velmor::test
