// quarvel correct PARAMS [X,Y ... | -]: the main job, one corrected point
// per input point, in input order.

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>

#include <poll.h>
#include <unistd.h>

#include <quarvel/quarvel.h>

#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel correct [--display WxH|NAME] PARAMS [X,Y ... | -]\n"
    "\n"
    "Loads the parameter file PARAMS and prints each corrected point as \"X Y\",\n"
    "one line per input point, in input order. Points come from the arguments,\n"
    "or, when there are none or the only one is \"-\", from standard input: one\n"
    "point per line as \"x y\" or \"x,y\"; blank lines and lines starting with '#'\n"
    "are skipped. Each answer is written as soon as no more input is waiting, so\n"
    "a live producer gets it before it sends the next point.\n"
    "\n"
    "  --display WxH|NAME  fit to this display size or RandR/Wayland output\n"
    "                      instead of the one the platform reports\n"
    "\n"
    "A point that is not two integers stops the run with an error naming it\n"
    "(exit 1); the points before it have been printed. A coordinate with no\n"
    "integer value (a zero projective denominator) prints as -2147483648.\n"
    "When the file holds none of the 12 entries the correction uses, nothing\n"
    "is corrected (exit 1); when some are missing, a warning names them.\n"
    "\n"
    "exit status: 0 success, 1 a bad point or an empty calibration,\n"
    "             2 usage error or unreadable/unwritable file\n";

// Buffered output, written out in chunks or when the caller says so.
class PointWriter {
public:
    PointWriter() { buffer_.reserve(kChunk + 64); }
    ~PointWriter() { Flush(); }
    PointWriter(const PointWriter&) = delete;
    PointWriter& operator=(const PointWriter&) = delete;

    void Write(const CvPoint& p) {
        char line[32];
        char* end = std::to_chars(line, line + 12, p.x).ptr;
        *end++ = ' ';
        end = std::to_chars(end, end + 12, p.y).ptr;
        *end++ = '\n';
        buffer_.append(line, static_cast<std::size_t>(end - line));
        if (buffer_.size() >= kChunk) {
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
    bool ok_ = true;
    std::string buffer_;
};

// Lines of standard input, read in large blocks. Before it would wait for
// more input it flushes the answers so far, so a producer that waits for
// each answer is never left waiting on our buffer, while a file or a fast
// pipe is still read and answered in large blocks.
class LineReader {
public:
    explicit LineReader(PointWriter& out) : out_(out) {}

    // The next line without its end, valid until the next call.
    bool Next(std::string_view& line) {
        for (;;) {
            const std::size_t newline = pending_.find('\n', begin_);
            if (newline != std::string::npos) {
                line = std::string_view(pending_).substr(begin_, newline - begin_);
                begin_ = newline + 1;
                return true;
            }
            if (eof_) {
                if (begin_ < pending_.size()) {
                    line = std::string_view(pending_).substr(begin_);
                    begin_ = pending_.size();
                    return true;
                }
                return false;
            }
            Refill();
        }
    }

    bool failed() const { return failed_; }

private:
    void Refill() {
        pending_.erase(0, begin_);
        begin_ = 0;
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (poll(&fd, 1, 0) == 0) {
            out_.Flush();  // nothing waiting: the producer may wait for us
        }
        const std::size_t used = pending_.size();
        pending_.resize(used + kBlock);
        ssize_t n = 0;
        do {
            n = read(STDIN_FILENO, pending_.data() + used, kBlock);
        } while (n < 0 && errno == EINTR);
        pending_.resize(used + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n <= 0) {
            eof_ = true;
            failed_ = n < 0;
        }
    }

    static constexpr std::size_t kBlock = 1 << 16;
    PointWriter& out_;
    std::string pending_;
    std::size_t begin_ = 0;
    bool eof_ = false;
    bool failed_ = false;
};

std::string StripCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return std::string(line);
}

int Finish(PointWriter& out) { return out.Flush() ? kSuccess : Fail(kUsage, "cannot write to standard output"); }

// Refuses a calibration that holds none of the entries the correction uses
// and names the missing ones when only some are there.
bool CalibrationUsable(const Quarvel& q, const std::string& params) {
    const LoadReport report = q.GetLoadReport();
    int found = 0;
    int used = 0;
    std::string missing;
    for (const EntryReport& e : report.entries) {
        if (!e.usedByCorrection) {
            continue;
        }
        ++used;
        if (e.status == EntryStatus::Found) {
            ++found;
        } else {
            missing += (missing.empty() ? "" : ", ") + e.key;
        }
    }
    if (found == 0) {
        Fail(kFinding, params + ": none of the " + std::to_string(used) +
                           " entries the correction uses was found (read as " + ToString(report.encoding) +
                           "); see 'quarvel check " + params + "'");
        return false;
    }
    if (found < used) {
        std::fprintf(stderr, "quarvel: warning: %s: %d of the %d entries the correction uses are missing or not numbers (%s); see 'quarvel check'\n",
                     params.c_str(), used - found, used, missing.c_str());
    }
    return true;
}

}  // namespace

int RunCorrect(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args, {kDisplayOption}, parsed)) {
        return UsageError("correct ", *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (parsed.positional.empty()) {
        return UsageError("correct ", "correct: missing PARAMS");
    }
    const std::string params = parsed.positional[0];
    Quarvel q;
    if (const auto error = ApplyDisplayOption(parsed, q)) {
        return UsageError("correct ", *error);
    }
    if (!q.ReadIniParam(params)) {
        return Fail(kUsage, "cannot read parameter file '" + params + "'");
    }
    if (!CalibrationUsable(q, params)) {
        return kFinding;
    }

    PointWriter out;
    const bool fromInput = parsed.positional.size() == 1 || (parsed.positional.size() == 2 && parsed.positional[1] == "-");
    if (!fromInput) {
        for (std::size_t i = 1; i < parsed.positional.size(); ++i) {
            const auto point = ParsePoint(parsed.positional[i]);
            if (!point) {
                out.Flush();
                return Fail(kFinding, "argument " + std::to_string(i + 1) + ": not a point: '" + parsed.positional[i] +
                                          "' (expected X,Y)");
            }
            out.Write(q.CorrectPoint(*point));
        }
        return Finish(out);
    }

    LineReader in(out);
    std::string_view line;
    for (unsigned long number = 1; in.Next(line); ++number) {
        if (IsSkippedLine(line)) {
            continue;
        }
        const auto point = ParsePoint(line);
        if (!point) {
            out.Flush();
            return Fail(kFinding, "standard input, line " + std::to_string(number) + ": not two integers: '" +
                                      StripCr(line) + "'");
        }
        out.Write(q.CorrectPoint(*point));
    }
    if (in.failed()) {
        out.Flush();
        return Fail(kUsage, "cannot read standard input");
    }
    return Finish(out);
}

}  // namespace quarvel::cli
