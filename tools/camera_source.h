#ifndef QUARVEL_TOOLS_CAMERA_SOURCE_H
#define QUARVEL_TOOLS_CAMERA_SOURCE_H

#include <string>

#include <opencv2/videoio.hpp>

namespace quarvel::cli {

// Opens a camera by number (V4L2), an image sequence ("frames/%04d.png",
// through OpenCV's image reader) or anything else FFmpeg reads (a video
// file, a stream). `allowNumber` false takes a number as a file name.
bool OpenSource(cv::VideoCapture& capture, const std::string& source, bool allowNumber = true);

// The frame rate of `source` as opened in `capture`: what a video says, 30
// when it says nothing and for image sequences (OpenCV reports 1 for those).
double FramesPerSecond(cv::VideoCapture& capture, const std::string& source);

// An image file as 8-bit grey; empty when it cannot be read.
cv::Mat ReadGreyImage(const std::string& path);

// Enter pressed in the terminal (a key, where the terminal is in raw mode).
bool TerminalKey();

}  // namespace quarvel::cli

#endif
