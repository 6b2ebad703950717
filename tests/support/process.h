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

}  // namespace quarvel::test

#endif
