#include "track_service.h"

#include <cstdio>
#include <optional>

#include "config_file.h"
#include "track_setup.h"

namespace quarvel::cli {

int TrackService::Open(const ParsedArgs& parsed, const std::vector<std::string>& names,
                       const std::vector<std::string>& sources, const std::vector<Model>& models) {
    params_ = names;
    values_ = parsed.values;
    board_ = std::make_unique<HealthBoard>(names, sources, models);
    if (!parsed.Has("status")) {
        return kSuccess;
    }
    server_ = std::make_unique<StatusServer>(*board_);
    std::string error;
    if (!server_->Start(parsed.Get("status"), error)) {
        return UsageError("track ", "track: " + error);
    }
    std::fprintf(stderr, "status at %s (status.json, metrics)\n", server_->url().c_str());
    return kSuccess;
}

FrameRecord Describe(const TouchTracker& tracker, const TouchFrame& touches, double processingMs) {
    FrameRecord record;
    record.touches = &touches;
    record.background = tracker.background();
    record.drift = tracker.drift();
    record.processingMs = processingMs;
    return record;
}

void TrackService::Frame(int camera, FrameRecord record, Clock::time_point captured, Clock::time_point output) {
    record.latencyMs = Milliseconds(captured, output);
    board_->Record(camera, record);
}

void TrackService::View(int camera, const cv::Mat& frame, const std::vector<Contact>& contacts) {
    if (server_ && board_->WantsView(camera)) {
        board_->SetView(camera, frame, contacts);
    }
}

void TrackService::Done(const TrackOutputs& out) {
    OutputsHealth outputs;
    outputs.json = out.json;
    outputs.tuio = out.tuio != nullptr;
    outputs.tuioFailing = out.tuioFailing;
    outputs.uinput = out.screen != nullptr;
    board_->SetOutputs(outputs);
    notifier_.FrameDone([this] { return board_->Summary(); });
}

bool TrackService::Reload(std::vector<Model>& models) {
    notifier_.Reloading();
    const auto fail = [this](const std::string& why) {
        std::fprintf(stderr, "quarvel: reload refused (tracking goes on as it was): %s\n", why.c_str());
        notifier_.Reloaded();
        return false;
    };
    ExpandedArgs expanded;
    if (const auto error = ExpandConfig(original_, expanded)) {
        return fail(*error);
    }
    Args rest;
    const std::vector<WallCamera> wall = SplitCameras(expanded.args, known_, {"video", "camera"}, rest);
    ParsedArgs parsed;
    if (const auto error = ParseOptions(wall.empty() ? expanded.args : rest, known_, parsed)) {
        return fail(*error);
    }
    std::vector<std::string> params;
    for (const WallCamera& c : wall) {
        params.push_back(c.params);
    }
    if (wall.empty()) {
        params = parsed.positional;
    }
    if (params.size() != params_.size()) {
        return fail("it names " + std::to_string(params.size()) + " cameras, the tracking " +
                    std::to_string(params_.size()));
    }
    std::vector<Model> loaded;
    for (const std::string& p : params) {
        std::optional<Model> model;
        if (LoadCalibration(parsed, p, model) != kSuccess) {
            return fail("'" + p + "' cannot be used");
        }
        loaded.push_back(*model);
    }
    for (std::size_t k = 0; k < loaded.size(); ++k) {
        if (loaded[k].display() != models.front().display()) {
            return fail("'" + params[k] + "' is for another display than the one touches go to");
        }
    }
    std::string changed;
    for (const auto& [name, value] : parsed.values) {
        const auto was = values_.find(name);
        changed += was == values_.end() || was->second != value ? " --" + name : "";
    }
    for (const auto& [name, value] : values_) {
        changed += parsed.values.count(name) == 0 ? " --" + name : "";
    }
    if (!changed.empty()) {
        std::fprintf(stderr, "quarvel: changed options take effect when the tool starts again:%s\n", changed.c_str());
    }
    models = std::move(loaded);
    std::fprintf(stderr, "quarvel: reloaded %zu calibration%s; the contacts down stay down\n", models.size(),
                 models.size() == 1 ? "" : "s");
    notifier_.Reloaded();
    return true;
}

}  // namespace quarvel::cli
