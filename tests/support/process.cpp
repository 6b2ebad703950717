#include "support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/fixtures.h"

namespace quarvel::test {

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                         const std::vector<std::string>& environment) {
    const TempDir dir;
    const std::string in = dir.Write("stdin", input);
    const std::string out = (dir.path() / "stdout").string();
    const std::string err = (dir.path() / "stderr").string();
    const pid_t child = fork();
    if (child == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        for (const std::string& e : environment) {
            putenv(const_cast<char*>(e.c_str()));
        }
        const int inFd = open(in.c_str(), O_RDONLY);
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    ProcessResult result;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
}

}  // namespace quarvel::test
