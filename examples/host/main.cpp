// A host program: loads a calibration and corrects the points given on the
// command line (pairs of integers), printing "x y -> X Y" for each.
#include <quarvel/quarvel.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s PARAMS [X Y ...]\n", argv[0]);
        return 2;
    }
    Quarvel calibration;
    if (!calibration.ReadIniParam(argv[1])) {
        std::fprintf(stderr, "cannot read the parameter file %s\n", argv[1]);
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const CvPoint source = cvPoint(std::atoi(argv[i]), std::atoi(argv[i + 1]));
        const CvPoint display = calibration.CorrectPoint(source);
        std::printf("%d %d -> %d %d\n", source.x, source.y, display.x, display.y);
    }
    return 0;
}
