#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/fixtures.h"

namespace quarvel::test {
namespace {

// In a forked child: without DISPLAY and WAYLAND_DISPLAY (unless
// `environment` puts them back), standard input, output and error from
// the descriptors given, `program` runs with `args`.
[[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, int inFd, int outFd, int errFd) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (const std::string& e : environment) {
        putenv(const_cast<char*>(e.c_str()));
    }
    if (inFd < 0 || outFd < 0 || errFd < 0) {
        _exit(126);
    }
    dup2(inFd, STDIN_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                         const std::vector<std::string>& environment) {
    const TempDir dir;
    const std::string in = dir.Write("stdin", input);
    const std::string out = (dir.path() / "stdout").string();
    const std::string err = (dir.path() / "stderr").string();
    const pid_t child = fork();
    if (child == 0) {
        Exec(program, args, environment, open(in.c_str(), O_RDONLY),
             open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    }
    ProcessResult result;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
    char pattern[] = "/tmp/quarvel-child-XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made != nullptr ? made : "/tmp";
    errPath_ = dir_ + "/stderr";
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        Exec(program, args, {}, open("/dev/null", O_RDONLY), pipeFds[1],
             open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool ChildProcess::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        pollfd ready{out_, POLLIN, 0};
        if (out_ < 0 || poll(&ready, 1, 60000) <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

ProcessResult ChildProcess::Wait() {
    ProcessResult result;
    std::string line;
    while (ReadLine(line)) {
        result.out += line + "\n";
    }
    result.out += buffered_;
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_ = -1;
    result.err = Slurp(errPath_);
    return result;
}

}  // namespace quarvel::test
