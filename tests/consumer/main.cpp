// Loads a calibration written in UTF-8 and corrects one point through the
// installed shared library. Expects no X display (the set-up then fits to
// 1680 x 1050) and prints the corrected point.
#include <quarvel/calibration.h>
#include <quarvel/preview.h>
#include <quarvel/quarvel.h>

#include <cmath>
#include <cstdio>
#include <vector>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer WORK_DIR\n");
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/consumer.ini";
    std::ofstream(path) << "[图像参数]\n图像宽度=64\n图像高度=48\n"
                           "[桶形校正参数]\n焦点Z值=100\n"
                           "[矩阵参数]\na00=1\na01=0\na02=0\na10=0\na11=1\na12=0\na20=0\na21=0\na22=1\n";
    Quarvel q;
    if (!q.ReadIniParam(path.c_str())) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const CvPoint p = q.CorrectPoint(cvPoint(10, 5));
    std::printf("%d %d\n", p.x, p.y);
    std::printf("version %s\n", QUARVEL_VERSION_STRING);

    // The OpenCV-native members, through the installed library.
    const std::vector<cv::Point> points = {cv::Point(10, 5), cv::Point(0, 0)};
    std::vector<cv::Point> corrected;
    const bool batch = q.ReadIniParam(path) && q.CorrectPoints(points, corrected) && corrected.size() == 2 &&
                       corrected[0] == q.CorrectPoint(cv::Point(10, 5));
    const cv::Point2d sub = q.CorrectPointSubpixel(cv::Point2d(10, 5));
    const cv::Point2d back = q.InvertPoint(sub);
    const bool inverse = std::abs(back.x - 10) < 1e-3 && std::abs(back.y - 5) < 1e-3;
    const bool render = q.RenderBarrel(cv::Mat(48, 64, CV_8UC1, cv::Scalar(200))).size() == cv::Size(1680, 1050);
    std::printf("cv api %s\n", batch && inverse && render ? "ok" : "FAILED");

    // The calibration as a value, read with the public reader.
    const quarvel::ParameterFile file = quarvel::ReadParameterFile(path);
    const quarvel::Model model(file.params, cv::Size(1680, 1050));
    const bool value = file.read && model.CorrectPoint(cv::Point(10, 5)) == cv::Point(14, 8) &&
                       quarvel::Diagnose(model).empty() && quarvel::TargetGrid(3, 3, cv::Size(1920, 1080)).size() == 9 &&
                       quarvel::Preview(model).Render(cv::Mat(48, 64, CV_8UC1, cv::Scalar(9))).size() ==
                           cv::Size(quarvel::kCanvasWidth, quarvel::kCanvasHeight);
    std::printf("model api %s\n", value ? "ok" : "FAILED");
    return p.x == 14 && p.y == 8 && batch && inverse && render && value ? 0 : 1;
}
