// What the README's C++ examples take from the program around them: a
// loaded calibration, a camera and a window of the host's own, frames and
// paths. Each example is compiled as a function body after this header and
// its own #include lines, against the installed package.
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quarvel/quarvel.h>

namespace readme_host {

struct Window {
    void Show(const cv::Mat&) {}
};
struct Camera {
    cv::Mat NextFrame() { return cv::Mat(); }
};
inline Window window;
inline Camera camera;
inline Quarvel q;
inline cv::Mat frame;
inline double seconds = 0.0;  // when the camera took it
inline cv::Mat grey;
inline std::string path = "calibration.ini";
inline std::vector<cv::Point> in;
inline std::vector<cv::Point> out;
template <typename State>
void Send(long long, double, double, State) {}

}  // namespace readme_host
