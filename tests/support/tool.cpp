#include "support/tool.h"

#include <unistd.h>

#include <quarvel/quarvel.h>

namespace quarvel::test {

void ToolTest::SetUp() { ASSERT_EQ(access(tool_.c_str(), X_OK), 0) << tool_ << " is not installed"; }

ProcessResult ToolTest::Run(const std::vector<std::string>& args, const std::string& input) const {
    return RunProcess(tool_, args, input);
}

std::string ToolTest::Expected(const std::string& params, const std::vector<CvPoint>& points) const {
    Quarvel q;
    EXPECT_TRUE(q.ReadIniParam(params.c_str()));
    std::string text;
    for (const CvPoint& p : points) {
        const CvPoint r = q.CorrectPoint(p);
        text += std::to_string(r.x) + " " + std::to_string(r.y) + "\n";
    }
    return text;
}

}  // namespace quarvel::test
