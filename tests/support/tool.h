#ifndef QUARVEL_TESTS_SUPPORT_TOOL_H
#define QUARVEL_TESTS_SUPPORT_TOOL_H

// The installed quarvel tool, run as a user would. The build names the
// installed binary (QUARVEL_TOOL) and the examples folder
// (QUARVEL_EXAMPLES).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <opencv2/core/types_c.h>

#include "support/fixtures.h"
#include "support/process.h"

namespace quarvel::test {

class ToolTest : public testing::Test {
protected:
    void SetUp() override;

    // The tool with `args` and `input`, without a display.
    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "") const;

    std::string Example(const std::string& name) const { return examples_ + "/" + name; }

    // What the library itself gives for the points, one "X Y" line each.
    std::string Expected(const std::string& params, const std::vector<CvPoint>& points) const;

    TempDir dir;
    const std::string tool_ = QUARVEL_TOOL;
    const std::string examples_ = QUARVEL_EXAMPLES;
};

}  // namespace quarvel::test

#endif
