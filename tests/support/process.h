#ifndef QUARVEL_TESTS_SUPPORT_PROCESS_H
#define QUARVEL_TESTS_SUPPORT_PROCESS_H

#include <string>
#include <vector>

namespace quarvel::test {

struct ProcessResult {
    int status = -1;  // the exit status; -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs `program` with `args`, `input` on its standard input, without
// DISPLAY or WAYLAND_DISPLAY unless `environment` ("NAME=value") puts them
// back, and waits for it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", const std::vector<std::string>& environment = {});

// A child process that runs beside the test: its standard output is read
// line by line as it comes, and it can be sent signals. Standard input is
// empty; DISPLAY and WAYLAND_DISPLAY are unset. A child still running when
// this goes is killed.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output (without its newline); false at its
    // end, or when none comes for a minute.
    bool ReadLine(std::string& line);
    void Signal(int signal);
    // Waits for the end: the exit status, what standard output held after
    // the lines read, and standard error.
    ProcessResult Wait();

private:
    int pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::string errPath_;
    std::string dir_;
};

}  // namespace quarvel::test

#endif
