#ifndef QUARVEL_TESTS_SUPPORT_TEST_PEER_H
#define QUARVEL_TESTS_SUPPORT_TEST_PEER_H

#include <quarvel/quarvel.h>

// The tests' one door into Quarvel's private record and steps, for what no
// public call shows: the sphere model and the plane steps, the zero test,
// the reader handle and the normal list.
class QuarvelTestPeer {
public:
#define QUARVEL_PEER_FIELD(name) \
    static auto& name(Quarvel& q) { return q.name; } \
    static const auto& name(const Quarvel& q) { return q.name; }
    QUARVEL_PEER_FIELD(reader)
    QUARVEL_PEER_FIELD(imageWidth)
    QUARVEL_PEER_FIELD(imageHeight)
    QUARVEL_PEER_FIELD(centerX)
    QUARVEL_PEER_FIELD(centerY)
    QUARVEL_PEER_FIELD(focalZ)
    QUARVEL_PEER_FIELD(scale)
    QUARVEL_PEER_FIELD(outCenterX)
    QUARVEL_PEER_FIELD(outCenterY)
    QUARVEL_PEER_FIELD(outWidth)
    QUARVEL_PEER_FIELD(outHeight)
    QUARVEL_PEER_FIELD(mapTop)
    QUARVEL_PEER_FIELD(mapBottom)
    QUARVEL_PEER_FIELD(keyStoneOriginX)
    QUARVEL_PEER_FIELD(keyStoneOriginY)
    QUARVEL_PEER_FIELD(planeNormal)
    QUARVEL_PEER_FIELD(rotateAngle)
    QUARVEL_PEER_FIELD(shearX)
    QUARVEL_PEER_FIELD(keyStoneMat)
    QUARVEL_PEER_FIELD(barrelImage)
#undef QUARVEL_PEER_FIELD

    static bool IsZero(float v) { return Quarvel::IsZero(v); }
    static void ComputeBarrelParam(Quarvel& q) { q.ComputeBarrelParam(); }
    static FPoint CorrectBarrelPoint(const Quarvel& q, const CvPoint& p) { return q.CorrectBarrelPoint(p); }
    static CvPoint CorrectKeyStonePointByMat(const Quarvel& q, const FPoint& p) {
        return q.CorrectKeyStonePointByMat(p);
    }

    static void ComputeBallParam(Quarvel& q) { q.ComputeBallParam(); }
    static FPoint CorrectBallPoint(const Quarvel& q, const CvPoint& p) { return q.CorrectBallPoint(p); }
    static FPoint CorrectKeyStonePoint(const Quarvel& q, const FPoint& p) { return q.CorrectKeyStonePoint(p); }
    static FPoint RotatePoint(const Quarvel& q, const FPoint& p) { return q.RotatePoint(p); }
    static CvPoint Warp(const Quarvel& q, const FPoint& p) { return q.Warp(p); }
    static FPoint ScreenToDescartes(const Quarvel& q, const CvPoint& p, const FPoint& origin) {
        return q.ScreenToDescartes(p, origin);
    }
    static FPoint ScreenToDescartes(const Quarvel& q, const FPoint& p, const FPoint& origin) {
        return q.ScreenToDescartes(p, origin);
    }
    static FPoint DescartesToScreen(const Quarvel& q, const FPoint& p, const FPoint& origin) {
        return q.DescartesToScreen(p, origin);
    }
};

#endif
