// quarvel correct PARAMS [X,Y ...]: the main job, one corrected point per
// input point, in input order.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <quarvel/quarvel.h>

#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel correct PARAMS [X,Y ...]\n"
    "\n"
    "Loads the parameter file PARAMS and prints each corrected point as \"X Y\",\n"
    "one line per input point, in input order. Points come from the arguments,\n"
    "or, when there are none, from standard input: one point per line as \"x y\"\n"
    "or \"x,y\"; blank lines and lines starting with '#' are skipped.\n"
    "\n"
    "A point that is not two integers stops the run with an error naming it\n"
    "(exit 1); the points before it have been printed. A coordinate with no\n"
    "integer value (a zero projective denominator) prints as -2147483648.\n"
    "\n"
    "exit status: 0 success, 1 a bad point, 2 usage error or unreadable file\n";

// Buffered output; flushed after every line when a person watches.
class PointWriter {
public:
    PointWriter() : interactive_(isatty(STDOUT_FILENO) == 1) { buffer_.reserve(kChunk + 64); }
    ~PointWriter() { Flush(); }
    PointWriter(const PointWriter&) = delete;
    PointWriter& operator=(const PointWriter&) = delete;

    void Write(const CvPoint& p) {
        char line[32];
        const int n = std::snprintf(line, sizeof line, "%d %d\n", p.x, p.y);
        buffer_.append(line, static_cast<std::size_t>(n));
        if (interactive_ || buffer_.size() >= kChunk) {
            Flush();
        }
    }

    // False when writing failed (a closed pipe, a full disk).
    bool Flush() {
        if (!buffer_.empty()) {
            ok_ = ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) == buffer_.size();
            buffer_.clear();
        }
        ok_ = ok_ && std::fflush(stdout) == 0;
        return ok_;
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    bool interactive_;
    bool ok_ = true;
    std::string buffer_;
};

// Reads standard input line by line without a per-line allocation.
class LineReader {
public:
    ~LineReader() { std::free(line_); }
    bool Next(std::string_view& line) {
        const ssize_t n = getline(&line_, &capacity_, stdin);
        if (n < 0) {
            return false;
        }
        std::size_t length = static_cast<std::size_t>(n);
        if (length > 0 && line_[length - 1] == '\n') {
            --length;
        }
        line = std::string_view(line_, length);
        return true;
    }

private:
    char* line_ = nullptr;
    std::size_t capacity_ = 0;
};

bool IsSkipped(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    return first == std::string_view::npos || line[first] == '#';
}

int Finish(PointWriter& out) {
    return out.Flush() ? kSuccess : Fail(kUsage, "cannot write to standard output");
}

}  // namespace

int RunCorrect(const Args& args) {
    if (WantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (args.empty()) {
        std::fputs(kHelp, stderr);
        return Fail(kUsage, "correct: missing PARAMS");
    }
    const std::string params(args[0]);
    Quarvel q;
    if (!q.ReadIniParam(params.c_str())) {
        return Fail(kUsage, "cannot read parameter file '" + params + "'");
    }

    PointWriter out;
    if (args.size() > 1) {
        for (std::size_t i = 1; i < args.size(); ++i) {
            const auto point = ParsePoint(args[i]);
            if (!point) {
                out.Flush();
                return Fail(kFinding, "argument " + std::to_string(i + 1) + ": not a point: '" + std::string(args[i]) +
                                          "' (expected X,Y)");
            }
            out.Write(q.CorrectPoint(*point));
        }
        return Finish(out);
    }

    LineReader in;
    std::string_view line;
    for (unsigned long number = 1; in.Next(line); ++number) {
        if (IsSkipped(line)) {
            continue;
        }
        const auto point = ParsePoint(line);
        if (!point) {
            out.Flush();
            return Fail(kFinding, "standard input, line " + std::to_string(number) + ": not two integers: '" +
                                      std::string(line) + "'");
        }
        out.Write(q.CorrectPoint(*point));
    }
    if (std::ferror(stdin)) {
        out.Flush();
        return Fail(kUsage, "cannot read standard input");
    }
    return Finish(out);
}

}  // namespace quarvel::cli
