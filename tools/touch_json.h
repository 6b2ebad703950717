#ifndef QUARVEL_TOOLS_TOUCH_JSON_H
#define QUARVEL_TOOLS_TOUCH_JSON_H

#include <string>
#include <vector>

#include <quarvel/touch.h>

namespace quarvel::cli {

// One frame as one JSON line (no newline), named as the library names
// them: {"frame": N, "t": T, "contacts": [{"id": I, "x": X, "y": Y, "cx":
// x, "cy": y, "area": A, "state": "down"|"move"|"coasting"|"up"}, ...]},
// with "status": {"ok": ..., "reason": ..., "repeated": ..., "lost": ...}
// after "t" for a frame that was refused, repeated or lost. A position that
// is not a number is null.
std::string FrameJson(long long frame, double t, const FrameStatus& status, const std::vector<Contact>& contacts);
// A number with four decimals (null when it is not finite), and a text as a
// JSON string (quotes, backslashes and control characters escaped).
void AppendNumber(std::string& out, double value);
void AppendString(std::string& out, const std::string& text);

}  // namespace quarvel::cli

#endif
