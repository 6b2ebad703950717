"""The Python module against the C++ library it binds."""
import os

import numpy as np
import pytest

import quarvel

EXAMPLES = os.environ.get("QUARVEL_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
PARAMS = os.path.join(EXAMPLES, "calibration.ini")


@pytest.fixture
def q():
    c = quarvel.Quarvel()
    c.set_display_size(1680, 1050)
    assert c.read_ini_param(PARAMS)
    return c


def test_loading_and_the_report(q):
    report = q.load_report()
    assert report.loaded
    assert report.encoding == quarvel.Encoding.GBK
    assert len(report.entries) == 21
    assert report.entries[2].key == "焦点Z值" and report.entries[2].value == 1800.0
    assert report.display.source == quarvel.DisplaySource.HOST
    assert quarvel.Quarvel(PARAMS).correct_point((1279, 719)) == (1502, 854)  # the tool's answer headless
    with pytest.raises(ValueError):
        quarvel.Quarvel("/nonexistent.ini")
    assert not quarvel.Quarvel().read_ini_param("/nonexistent.ini")


def test_integer_batches_are_bit_identical_and_keep_their_dtype_rule(q):
    rng = np.random.default_rng(7)
    points = rng.integers(-200, 1500, size=(2_000_000, 2))  # int64 in
    out = q.correct_points(points)
    assert out.dtype == np.int32 and out.shape == points.shape
    for i in rng.integers(0, len(points), size=200):
        assert tuple(out[i]) == q.correct_point(tuple(int(v) for v in points[i]))
    as32 = q.correct_points(points[:1000].astype(np.int32))
    assert np.array_equal(as32, out[:1000])
    with pytest.raises(ValueError):
        q.correct_points(np.array([[2**40, 0]]))  # does not fit 32 bits


def test_float_batches_are_subpixel(q):
    points = np.array([[10.25, 5.75], [639.5, 359.5]], dtype=np.float32)
    out = q.correct_points(points)
    assert out.dtype == np.float64
    assert tuple(out[1]) == q.correct_point_subpixel((639.5, 359.5))
    # Rounded, integer positions give the integer chain.
    grid = np.array([[x, y] for x in range(0, 1280, 97) for y in range(0, 720, 89)])
    rounded = np.trunc(q.correct_points(grid.astype(np.float64)) + 0.5).astype(np.int32)
    assert np.array_equal(rounded, q.correct_points(grid))
    back = q.invert_points(out)
    assert np.allclose(back, points, atol=1e-2)
    with pytest.raises(ValueError):
        q.correct_points(np.zeros((3, 3)))
    with pytest.raises(TypeError):
        q.correct_points(np.array([["a", "b"]]))


def test_render_barrel_shape_and_the_kept_canvas(q):
    image = (np.arange(720 * 1280) % 251).astype(np.uint8).reshape(720, 1280)
    canvas = q.render_barrel(image)
    assert canvas.shape == (1050, 1680) and canvas.dtype == np.uint8
    assert q.get_barrel_image() is None
    q.test_barrel_correct(image)
    assert np.array_equal(q.get_barrel_image(), canvas)
    # A strided view is read in place (every other row).
    tall = np.repeat(image, 2, axis=0)
    assert np.array_equal(q.render_barrel(tall[::2]), canvas)
    with pytest.raises(TypeError):
        q.render_barrel(image.astype(np.float32))
    filled = q.render_barrel_filled(np.full((720, 1280), 9, np.uint8))
    assert filled.shape == (1050, 1680) and filled[500, 800] == 9


def test_displays_are_listed():
    displays = quarvel.Quarvel.list_displays()
    assert len(displays) >= 1 and sum(d.used for d in displays) == 1


def test_fit_and_write(tmp_path):
    truth = quarvel.Quarvel()
    truth.set_display_size(1920, 1080)
    params = quarvel.CalibrationParams()
    params.image_width, params.image_height = 1280, 720
    params.focal_z = 2000.0
    params.matrix = np.array([[1.2, 0.02, 30], [-0.01, 1.2, 20], [2e-5, 3e-5, 1]])
    truth.load_params(params)
    targets = np.array([[x, y] for y in np.linspace(135, 945, 4) for x in np.linspace(240, 1680, 5)])
    cameras = truth.invert_points(targets)
    fit = quarvel.fit_calibration(np.hstack([cameras, targets]), image=(1280, 720), display=(1920, 1080))
    assert fit.ok, fit.reason
    assert fit.used == 20 and fit.rms < 0.01 and fit.inliers.all()
    path = tmp_path / "fit.ini"
    quarvel.write_parameter_file(str(path), fit.params, utf8=True)
    loaded = quarvel.Quarvel()
    loaded.set_display_size(1920, 1080)
    assert loaded.read_ini_param(str(path))
    assert np.array_equal(loaded.correct_points(cameras), fit.fitted)
    with pytest.raises(ValueError):
        quarvel.write_parameter_file("/nonexistent/dir/x.ini", fit.params)
    assert not quarvel.fit_calibration(np.hstack([cameras, targets])[:3], (1280, 720), (1920, 1080)).ok


def test_opencv_point_layouts_are_kept(q):
    flat = np.array([[10.25, 5.75], [640.0, 360.0], [-3.5, 700.0]], dtype=np.float32)
    opencv = flat.reshape(-1, 1, 2)  # what cv2.findChessboardCorners returns
    corrected = q.correct_points(opencv)
    assert corrected.shape == (3, 1, 2)
    assert corrected.dtype == np.float64
    assert np.array_equal(corrected.reshape(-1, 2), q.correct_points(flat))
    ints = np.array([[[0, 0]], [[640, 360]]], dtype=np.int32)
    assert q.correct_points(ints).shape == (2, 1, 2)
    assert q.correct_points(ints)[1, 0].tolist() == list(q.correct_point((640, 360)))
    back = q.invert_points(corrected)
    assert back.shape == (3, 1, 2)
    assert np.allclose(back.reshape(-1, 2), flat, atol=1e-3)
    for bad in (np.zeros((3, 2, 2)), np.zeros((3, 1, 3)), np.zeros((2, 3))):
        with pytest.raises(ValueError):
            q.correct_points(bad)


def _camera_of_half_size(shown):
    """A camera that sees the whole display at half its size: pixel (x, y) averages display pixels 2x..2x+1."""
    h, w = shown.shape
    return shown.reshape(h // 2, 2, w // 2, 2).mean(axis=(1, 3)).round().astype(np.uint8)


def test_calibration_pattern_and_its_detection():
    pattern = quarvel.calibration_pattern(display=(1280, 800))
    assert pattern.shape == (800, 1280) and pattern.dtype == np.uint8
    assert set(np.unique(pattern).tolist()) == {0, 255}
    seen = quarvel.detect_calibration_pattern(pattern, display=(1280, 800))
    pairs = seen.pairs
    assert pairs.dtype == np.float64 and pairs.shape[1] == 4 and len(pairs) > 100 and len(seen) == len(pairs)
    assert np.array_equal(np.asarray(seen), pairs)  # the detection reads as its pairs
    assert np.allclose(pairs[:, :2], pairs[:, 2:], atol=0.05)  # the display seen by itself
    bgr = np.dstack([_camera_of_half_size(pattern)] * 3)
    half = quarvel.detect_calibration_pattern(bgr, display=(1280, 800)).pairs
    assert np.allclose(half[:, 2], 2 * half[:, 0] + 0.5, atol=0.1)
    assert quarvel.detect_calibration_pattern(np.zeros((480, 640), np.uint8), display=(1280, 800)).pairs.shape == (0, 4)
    with pytest.raises(TypeError):
        quarvel.detect_calibration_pattern(np.zeros((480, 640), np.float32), display=(1280, 800))


def test_calibrate_with_a_camera_the_host_drives():
    shown_sizes = []

    def capture(shown):
        shown_sizes.append(shown.shape)
        return _camera_of_half_size(shown)

    result = quarvel.calibrate_with_camera(capture, display=(1280, 800))
    assert result.ok, result.reason
    assert result.fit.ok and result.fit.params.image_width == 640
    assert result.camera_size == (640, 400)
    assert result.validation_rms < 0.1
    assert result.frames_used == 10 and result.frames_read == len(shown_sizes)
    assert set(shown_sizes) == {(800, 1280)}
    # The camera's own failure comes back as it was raised.
    with pytest.raises(ZeroDivisionError):
        quarvel.calibrate_with_camera(lambda shown: 1 / 0, display=(1280, 800))
    with pytest.raises(TypeError):
        quarvel.calibrate_with_camera(lambda shown: "no frame", display=(1280, 800))
    ended = quarvel.calibrate_with_camera(lambda shown: None, display=(1280, 800))
    assert not ended.ok and ended.reason == "the camera gave no frame"


def _ir_frame(fingers, size=(480, 640), seed=0):
    """An infrared frame: a lit surface with noise and a bright blob (sigma 2 px) at each (x, y)."""
    rng = np.random.default_rng(seed)
    h, w = size
    ys, xs = np.mgrid[0:h, 0:w]
    light = 40.0 + 20.0 * xs / w + rng.normal(0.0, 1.5, size)
    for x, y in fingers:
        light += 100.0 * np.exp(-((xs - x) ** 2 + (ys - y) ** 2) / (2 * 2.0 ** 2))
    return np.clip(light.round(), 0, 255).astype(np.uint8)


def test_touch_tracker_reports_calibrated_contacts(q):
    tracker = quarvel.TouchTracker(q)
    for i in range(15):
        assert len(tracker.track(_ir_frame([], seed=i))) == 0
    assert not tracker.learning
    assert tracker.track(_ir_frame([(300.3, 200.7)], seed=20)).contacts == []  # confirmed one frame late
    down = tracker.track(_ir_frame([(301.3, 200.7)], seed=21))
    assert [(c.id, c.state) for c in down] == [(1, "down")]
    assert down.frame == 16 and down.t == pytest.approx(16 / 30) and down.status.ok
    c = down[0]
    assert abs(c.cx - 301.3) < 0.05 and abs(c.cy - 200.7) < 0.05 and c.area > 10
    expected = q.correct_points(np.array([[c.cx, c.cy]]))[0]
    assert (c.x, c.y) == (pytest.approx(expected[0]), pytest.approx(expected[1]))
    bgr = np.dstack([_ir_frame([(302.3, 200.7)], seed=22)] * 3)
    assert [c.state for c in tracker.track(bgr)] == ["move"]
    # Unseen, it coasts two frames, then lifts.
    coasting = tracker.track(_ir_frame([], seed=23))
    assert [c.state for c in coasting] == ["coasting"]
    assert coasting.status.ok and not coasting.status.lost
    with pytest.warns(DeprecationWarning, match="frame_status"):
        assert tracker.frame_status.ok
    assert [c.state for c in tracker.track(_ir_frame([], seed=24))] == ["coasting"]
    up = tracker.track(_ir_frame([], seed=25))
    assert [(c.id, c.state) for c in up] == [(1, "up")]
    assert tracker.frames == 21
    background = tracker.background
    assert background.learned and background.threshold >= 12 and background.noise > 0
    # A host that stops lifts what is still down.
    tracker.track(_ir_frame([(400.0, 300.0)], seed=26))
    tracker.track(_ir_frame([(400.0, 300.0)], seed=27), time=27 / 30)
    assert [(c.id, c.state) for c in tracker.lift_all()] == [(2, "up")]
    # From parameters and a display, without a loaded instance: here a
    # matrix that doubles every coordinate.
    params = quarvel.CalibrationParams()
    params.image_width, params.image_height = 640, 480
    params.matrix = np.diag([2.0, 2.0, 1.0])
    doubled = quarvel.TouchTracker(params, display=(1280, 960), background_frames=3, confirm_next_frame=False)
    for i in range(3):
        doubled.track(_ir_frame([], seed=i))
    (c,) = doubled.track(_ir_frame([(100.5, 50.25)], seed=3))
    assert c.state == "down" and abs(c.x - 201.0) < 0.1 and abs(c.y - 100.5) < 0.1
    # A new calibration (here tripling): the contact stays down, under its id.
    params.matrix = np.diag([3.0, 3.0, 1.0])
    doubled.recalibrate(quarvel.Model(params, display=(1920, 1440)))
    (c,) = doubled.track(_ir_frame([(100.5, 50.25)], seed=4))
    assert (c.id, c.state) == (1, "move") and abs(c.x - 301.5) < 0.1 and abs(c.y - 150.75) < 0.1
    assert doubled.model.display == (1920, 1440)
    with pytest.raises(TypeError):
        tracker.track(np.zeros((480, 640), np.float32))


def test_touch_calibration_measures_held_touches():
    # A camera at half the display's size: the target (X, Y) is seen at (X / 2, Y / 2).
    tc = quarvel.TouchCalibration(targets=(3, 3), display=(1280, 800))
    assert len(tc.targets) == 9 and tc.current_target() == (160.0, 100.0)
    frame = 0
    for i in range(15):
        assert tc.feed(_ir_frame([], size=(400, 640), seed=i)).phase == "learning"
        frame += 1
    while tc.current_target() is not None and frame < 1000:
        x, y = tc.current_target()
        phases = []
        for _ in range(14):  # held 0.4 s from the 1st to the 13th frame; the 14th waits for the lift
            phases.append(tc.feed(_ir_frame([(x / 2, y / 2)], size=(400, 640), seed=frame), time=frame / 30).phase)
            frame += 1
        assert phases[:13] == ["holding"] * 12 + ["measured"], phases
        assert phases[13] == ("done" if tc.current_target() is None else "waiting_lift")
        for _ in range(3):
            tc.feed(_ir_frame([], size=(400, 640), seed=frame))
            frame += 1
    assert tc.measurements.shape == (9, 4)
    assert np.allclose(tc.measurements[:, :2] * 2, tc.measurements[:, 2:], atol=0.1)
    fit = tc.result()
    assert fit.ok, fit.reason
    assert fit.params.image_width == 640 and fit.params.image_height == 400
    assert fit.rms < 0.2


def test_a_file_without_a_calibration_is_refused_where_it_would_give_wrong_points(tmp_path):
    garbage = tmp_path / "garbage.ini"
    garbage.write_bytes(b"\x89PNG\r\n\x1a\n not a parameter file")
    empty = tmp_path / "empty.ini"
    empty.write_bytes(b"")
    for path in (garbage, empty):
        with pytest.raises(ValueError, match="holds no usable calibration: it holds none of the 21"):
            quarvel.Quarvel(str(path))
        # The class's own load reads any readable file, as it always has;
        # its report says what the load gives.
        q = quarvel.Quarvel()
        assert q.read_ini_param(str(path))
        assert not q.load_report().ok and "none of the 21" in q.load_report().reason
        f = quarvel.read_parameter_file(str(path))
        assert f.read and not f.ok and f.reason == q.load_report().reason
    good = quarvel.read_parameter_file(PARAMS)
    assert good.read and good.ok and good.reason == "" and good.params.focal_z == 1800.0
    assert not quarvel.read_parameter_file(str(tmp_path / "none.ini")).read


def test_the_model_corrects_like_the_instance_and_is_diagnosed(q):
    params = quarvel.read_parameter_file(PARAMS).params
    model = quarvel.Model(params, display=(1680, 1050))
    assert model.display == (1680, 1050) and model.geometry.out_width == 1536
    grid = np.array([[x, y] for x in range(0, 1280, 61) for y in range(0, 720, 47)])
    assert np.array_equal(model.correct_points(grid), q.correct_points(grid))
    assert np.array_equal(model.correct_points(grid.astype(float)), q.correct_points(grid.astype(float)))
    assert model.correct_point((640, 360)) == q.correct_point((640, 360))
    assert np.allclose(model.invert_points(model.correct_points(grid.astype(float))), grid, atol=1e-3)
    assert quarvel.diagnose(model) == []
    params.matrix = np.array([[1, 0, 0], [0, 1, 0], [0, 0, 0]])
    ((kind, message),) = quarvel.diagnose(quarvel.Model(params, (1680, 1050)))
    assert kind == "points_lost" and "w" in message


def test_points_may_be_plain_sequences(q):
    assert q.correct_points([[0, 0], [640, 360]]).tolist() == [list(q.correct_point((0, 0))),
                                                               list(q.correct_point((640, 360)))]
    assert q.correct_points([(10.25, 5.75)]).dtype == np.float64
    assert q.correct_points([]).shape == (0, 2)
    with pytest.raises(TypeError, match=r"sequence of \(x, y\)"):
        q.correct_points([["a", "b"]])
    with pytest.raises(ValueError, match=r"\(N, 2\)"):
        q.correct_points([1, 2, 3])


def test_the_whole_detection_and_displays_no_pattern_fits():
    pattern = quarvel.calibration_pattern(display=(1280, 800))
    seen = quarvel.detect_calibration_pattern(pattern, display=(1280, 800))
    assert seen.ok and seen.reason == "" and not seen.mirrored
    assert seen.pairs.shape == (len(seen.corners), 4) and seen.markers > 50 and 0.6 < seen.coverage < 1
    with pytest.warns(DeprecationWarning, match="detect_calibration_pattern"):
        assert np.array_equal(seen.pairs, quarvel.detect_pattern(pattern, display=(1280, 800)).pairs)
    unseen = quarvel.detect_calibration_pattern(np.zeros((480, 640), np.uint8), display=(1280, 800))
    assert not unseen.ok and "not in the frame" in unseen.reason and unseen.pairs.shape == (0, 4)
    for display in ((0, 720), (1280, -1), (30, 20)):
        with pytest.raises(ValueError):
            quarvel.detect_calibration_pattern(pattern, display=display)
        with pytest.raises(ValueError), pytest.warns(DeprecationWarning):
            quarvel.detect_pattern(pattern, display=display)


def test_touch_options_are_named_as_in_cpp(q):
    options = quarvel.TrackerOptions(threshold=25.0, max_area=900.0, max_jump=40.0)
    assert options.blobs.threshold == 25.0 and options.threshold == 25.0 and options.max_jump == 40.0
    tracker = quarvel.TouchTracker(q, options, min_area=9.0)
    assert tracker.options.threshold == 25.0 and tracker.options.min_area == 9.0
    with pytest.raises(TypeError, match="no option 'treshold'"):
        quarvel.TouchTracker(q, treshold=25.0)
    tc = quarvel.TouchCalibration((3, 3), (1280, 800), hold_seconds=0.2, still_pixels=3.0, frames_per_second=60.0,
                                  threshold=30.0, outlier_pixels=2.0)
    assert len(tc.targets) == 9
    with pytest.warns(DeprecationWarning, match="hold_seconds"):
        quarvel.TouchCalibration((3, 3), (1280, 800), hold=0.2)
    tco = quarvel.TouchCalibrationOptions(hold_seconds=0.3, max_area=500.0)
    assert tco.blobs.max_area == 500.0 and tco.hold_seconds == 0.3


def test_frames_the_tracker_takes_and_refuses(q):
    grey, bgra = quarvel.TouchTracker(q), quarvel.TouchTracker(q)
    for i in range(15):
        frame = _ir_frame([], seed=i)
        grey.track(frame)
        bgra.track(np.dstack([frame] * 3 + [np.full_like(frame, 255)]))
    for i in range(15, 18):
        frame = _ir_frame([(300.3 + i, 200.7)], seed=i)
        a = grey.track(frame)
        b = bgra.track(np.dstack([frame] * 3 + [np.full_like(frame, 255)]))
        assert [(c.id, c.state, round(c.cx, 6)) for c in a] == [(c.id, c.state, round(c.cx, 6)) for c in b]
    assert [c.state for c in b] == ["move"]
    refused = grey.track(np.zeros((0, 0), np.uint8))
    assert not refused.status.ok and refused.status.reason == "the frame is empty"
    assert [c.state for c in refused] == ["coasting"]  # as through a lost frame


def test_trackers_shared_between_threads_take_one_frame_at_a_time(q):
    import threading
    tracker = quarvel.TouchTracker(q, background_frames=3)
    frames = [_ir_frame([(300.0 + i % 5, 200.0)], seed=i) for i in range(40)]
    errors = []

    def run():
        try:
            for f in frames:
                tracker.track(f)
        except Exception as e:  # noqa: BLE001 - the test reports any
            errors.append(e)

    threads = [threading.Thread(target=run) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and tracker.frames == 160


def test_a_lens_stage_where_the_pairs_support_one(tmp_path):
    cv2 = pytest.importorskip("cv2")
    # Targets seen through a wide lens (OpenCV's model), the display on a plane.
    k = np.array([[700.0, 0, 645.0], [0, 700.0, 362.0], [0, 0, 1]])
    dist = np.array([-0.3, 0.1, 0.0, 0.0, 0.0])
    targets = np.array([[x, y] for y in np.linspace(135, 945, 6) for x in np.linspace(240, 1680, 9)])
    plane = np.hstack([(targets - [960, 540]) / 1400.0, np.ones((len(targets), 1))])
    seen, _ = cv2.projectPoints(plane, np.zeros(3), np.zeros(3), k, dist)
    pairs = np.hstack([seen.reshape(-1, 2), targets])
    staged = quarvel.fit_calibration(pairs, image=(1280, 720), display=(1920, 1080))
    plain = quarvel.fit_calibration(pairs, image=(1280, 720), display=(1920, 1080), lens=False)
    assert staged.ok and plain.ok
    assert staged.lens_stage and "lens stage" in staged.model and not plain.lens_stage
    assert staged.expected_rms < plain.expected_rms and staged.expected_max >= staged.expected_rms
    path = tmp_path / "staged.ini"
    quarvel.write_parameter_file(str(path), staged.params)
    back = quarvel.read_parameter_file(str(path))
    assert back.ok and back.params.lens.form == staged.params.lens.form and back.report.lens.applied
    assert quarvel.Model(back.params, (1920, 1080)).has_lens_stage


def test_fusion_of_two_cameras_is_one_surface():
    # Two cameras of a wall: the left shows display x 0..1280 at twice its
    # pixels, the right x 1000..2280; a finger in the overlap is seen by both.
    def camera(shift):
        params = quarvel.CalibrationParams()
        params.image_width, params.image_height = 640, 480
        params.matrix = np.array([[2.0, 0, shift], [0, 2.0, 0], [0, 0, 1]])
        return quarvel.TouchTracker(params, display=(2280, 960), background_frames=3, confirm_next_frame=False)

    trackers = [camera(0.0), camera(1000.0)]
    fusion = quarvel.TouchFusion(silent_seconds=0.2)
    for i, t in enumerate(trackers):
        assert fusion.add_camera(f"camera {i}", t.model) == i
    for i in range(3):
        for k, t in enumerate(trackers):
            assert fusion.push(k, t.track(_ir_frame([], seed=i), time=i / 30))
        assert len(fusion.fuse(i / 30)) == 0
    seen = []
    for i in range(3, 8):
        frames = [t.track(_ir_frame([(550.0, 200.0)] if k == 0 else [(50.0, 200.0)], seed=i + 10 * k), time=i / 30)
                  for k, t in enumerate(trackers)]
        for k, f in enumerate(frames):
            fusion.push(k, f)
        fused = fusion.fuse(i / 30)
        assert len(fused) == 1, [str(c) for c in fused]
        xs = sorted(f[0].x for f in frames)
        assert xs[0] - 1e-6 <= fused[0].x <= xs[1] + 1e-6
        seen.append(fused[0].id)
    assert len(set(seen)) == 1
    assert [c.name for c in fusion.cameras] == ["camera 0", "camera 1"]
    # The right camera falls silent: the finger the left one sees stays.
    for i in range(8, 20):
        fusion.push(0, trackers[0].track(_ir_frame([(550.0, 200.0)], seed=i), time=i / 30))
        fused = fusion.fuse(i / 30)
        assert [c.id for c in fused if c.state != "up"] == seen[:1]
    assert [c.state for c in fusion.lift_all()] == ["up"]
    assert not fusion.push(5, frames[0])
    with pytest.raises(TypeError):
        quarvel.TouchFusion(no_such_option=1)
