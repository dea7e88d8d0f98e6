// How much of an injected defect a step's grey template regions can see at
// best: the largest part of it inside one region, as the region's tolerance
// and filter let it show and as the region measures blob areas (by their
// outlines). Used by the accuracy slice and the accuracy benchmark to tell
// the defects that must be found (larger than the region's smallest defect
// area) from those too small or faint for the region's settings.
#pragma once

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "scenerenderer.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

inline int visibleDefectArea(mouldcam::SceneRenderer& renderer, quint64 frame, const mouldcam::RenderState& state,
                             const CammerRecong& engine, const CammerSingleton& rec, int step)
{
    int area = 0;
    for (int i = 0; i < std::clamp(rec.roiCount[step], 0, CammerRecong::kRois); ++i) {
        const GrayMatch& m = engine.grayMatch[step][i];
        if (!m.IsValid())
            continue;
        const cv::Mat seen = renderer.defectMask(frame, state, m.tolerance(), 3);
        const cv::Rect r = CammerRecong::boundingRect(rec, step, i) & cv::Rect(0, 0, seen.cols, seen.rows);
        if (r.area() <= 0)
            continue;
        std::vector<std::vector<cv::Point>> blobs;
        cv::findContours(seen(r).clone(), blobs, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        double sum = 0.0;
        for (const auto& b : blobs)
            sum += cv::contourArea(b);
        area = std::max(area, static_cast<int>(sum));
    }
    return area;
}
