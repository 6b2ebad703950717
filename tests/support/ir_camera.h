#ifndef QUARVEL_TESTS_SUPPORT_IR_CAMERA_H
#define QUARVEL_TESTS_SUPPORT_IR_CAMERA_H

// A simulated infrared camera watching a touch surface through a known
// calibration: a lit surface with a gradient, a static hot spot, ambient
// light that drifts and sensor noise, and a bright blob wherever a finger
// touches. Fingers are scripted in display pixels; each is drawn at the
// camera position the truth maps to that display position. A scene adds
// what real cameras meet: exposure that settles and steps, flicker, lamps,
// glints, palms, specks, lost and repeated frames; the options add black
// level, gamma, motion blur and JPEG.

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>

namespace quarvel::test {

struct IrOptions {
    double noiseSigma = 2.0;      // sensor noise, grey levels
    double fingerDiameter = 0.0;  // camera pixels; 0: 8 on a 640-wide camera, in proportion on others
    double fingerLevel = 110.0;   // a finger's brightness above the surface, grey levels
    // A fingertip drawn as a Gaussian of this sigma (camera pixels; 3.2 on
    // a 640-wide camera is 7.5 pixels across at half height) instead of a
    // soft-edged disc of fingerDiameter; 0: the disc.
    double fingerSigma = 0.0;
    double hotSpotLevel = 150.0;  // a static reflection, grey levels above the surface (saturating)
    // The light beyond the display's edges as a share of the surface's: the
    // surface's frame, where the camera sees past it (1: no frame to see).
    double surroundShare = 1.0;
    double ambientDrift = 10.0;   // amplitude of the ambient light's swing, grey levels
    double ambientPeriod = 300.0; // frames per swing
    double blackLevel = 0.0;      // the sensor's floor, grey levels, added after the exposure and gamma
    double gamma = 1.0;           // the camera's response: 255 (light / 255)^(1 / gamma)
    double motionBlur = 0.0;      // share of a frame interval the shutter is open: moving fingers smear
    int jpegQuality = 0;          // frames through JPEG at this quality (0: none), as MJPEG cameras send them
    unsigned seed = 1;
};

// What happens in front of the camera over a session, beyond the fingers.
struct IrScene {
    // Automatic exposure: the factor on all light at a frame (none: 1).
    std::function<double(int frame)> exposure;
    // Mains flicker of the room light: the share by which the surface's
    // light swings, at 100 Hz seen at 30 frames a second.
    double flicker = 0.0;
    struct Lamp {  // switched on at `from`: `level` grey levels over `area` (camera pixels), soft-edged
        int from = 0;
        cv::Rect2d area;
        double level = 40.0;
    };
    std::vector<Lamp> lamps;
    struct Glint {  // a still, finger-bright spot from `from` on (sunlight off a fitting)
        int from = 0;
        cv::Point2d at;  // camera pixels
    };
    std::vector<Glint> glints;
    struct Palm {  // a hand resting on the surface: 10 x a finger's area, fading in and out over `fade` frames
        int from = 0;
        int to = 0;
        cv::Point2d at;  // camera pixels, the centre
        int fade = 5;
    };
    std::vector<Palm> palms;
    struct Specks {  // `count` bright specks of `size` x `size` pixels at new places in each frame
        int from = 0;
        int to = 0;
        int count = 0;
        int size = 1;
    };
    std::vector<Specks> specks;
    std::vector<int> lost;      // frames the camera delivers black
    std::vector<int> repeated;  // frames the camera delivers the frame before again
};

// One finger: down from frame `first` to frame `last` (both included), at
// display position `at(frame)`.
struct ScriptedTouch {
    int first = 0;
    int last = 0;
    std::function<cv::Point2d(int frame)> at;
    bool Down(int frame) const { return frame >= first && frame <= last; }
};

// The truth of a touch surface: a camera of `camera` size that sees all
// of a 1920 x 1080 display (and a little around it) through a barrel of
// corner magnification 1.15 and a mild keystone.
Model TouchTruth(cv::Size camera);

class IrCamera {
public:
    // `truth` maps camera pixels (its image size) to display pixels.
    IrCamera(const Model& truth, const IrOptions& options, IrScene scene = IrScene());

    // Frame number `frame` (8-bit grey, the camera's size) with the
    // fingers down in it.
    cv::Mat Render(int frame, const std::vector<ScriptedTouch>& script);
    // The same with fingers at the given camera positions.
    cv::Mat RenderAt(int frame, const std::vector<cv::Point2d>& fingers);

    // The frame whose fingers frame `frame` shows: the one before for a
    // repeated frame, else itself.
    int Shown(int frame) const;
    // Where the camera sees a display position (through the truth's inverse).
    cv::Point2d CameraOf(const cv::Point2d& display) const;
    // The display position of a camera position (through the truth).
    cv::Point2d DisplayOf(const cv::Point2d& camera) const;
    const Model& truth() const { return truth_; }
    double fingerDiameter() const { return diameter_; }

private:
    // The frame with each finger drawn at its positions over the shutter's
    // opening (one position each without motion blur).
    cv::Mat Compose(int frame, const std::vector<std::vector<cv::Point2d>>& fingers);
    // Adds a soft-edged disc of `level` at `centre`, 4 x 4 samples a pixel.
    void Disc(cv::Mat& light, const cv::Point2d& centre, double radius, double level) const;
    // Adds a Gaussian of peak `level` and `sigma` at `centre`, 4 x 4
    // samples a pixel.
    void Gaussian(cv::Mat& light, const cv::Point2d& centre, double sigma, double level) const;
    void Palm(cv::Mat& light, const IrScene::Palm& palm, int frame) const;
    // Dims the surface beyond the display's edges to `share` of its light.
    void Surround(double share);

    Model truth_;
    IrOptions options_;
    IrScene scene_;
    double diameter_;
    cv::Mat last_;     // the last frame rendered
    cv::Mat surface_;  // CV_32F: the lit surface and the hot spot
    cv::Mat drift_;    // CV_32F: how the ambient light's swing falls across the surface
    cv::RNG random_;
};

}  // namespace quarvel::test

#endif
