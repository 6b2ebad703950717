#ifndef QUARVEL_TOOLS_TOUCH_JSON_H
#define QUARVEL_TOOLS_TOUCH_JSON_H

#include <string>
#include <vector>

#include <quarvel/touch.h>

namespace quarvel::cli {

// One frame's contacts as one JSON line (no newline):
// {"frame": N, "contacts": [{"id": I, "x": X, "y": Y, "cx": x, "cy": y,
// "area": A, "state": "down"|"move"|"up"}, ...]}. A position that is not a
// number is null.
std::string ContactsJson(long long frame, const std::vector<Contact>& contacts);

}  // namespace quarvel::cli

#endif
