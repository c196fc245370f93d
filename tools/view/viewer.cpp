#include "tools/view/viewer.h"

#include <algorithm>
#include <limits>

#include "scene/model.h"

#include "tools/view/screen.h"

namespace {

using clock_type = std::chrono::steady_clock;

// A moving frame should take at most this long to render, leaving the rest
// of a thirtieth of a second for drawing it and for the events. A frame
// twice as fine takes about four times as long (a little less: some of the
// cost is the frame's, not its pixels'), and is chosen only when that would
// take at most 80% of it, so the choice does not flicker.
constexpr double moving_budget = 0.02;
constexpr int finest_moving = 2;
constexpr int coarsest_moving = 8;

// The exact picture's rows are drawn as they come only once it has run
// this long: one that follows a pause in a drag is abandoned at the next
// motion without a flash of sharp rows.
constexpr double exact_rows_after = 0.05;

double seconds_since(clock_type::time_point t) {
    return std::chrono::duration<double>(clock_type::now() - t).count();
}

}  // namespace

long long session_primary_rays(const camera_view& window) {
    constexpr long long pictures = 300;
    return pictures * window.width * window.height;
}

dvec model_centre(const scene& s) {
    const mesh* m = static_cast<const model*>(s.objects[0])->geometry.get();
    if (m->vertex_count <= 0) return {};
    const double huge = std::numeric_limits<double>::max();
    dvec lo{huge, huge, huge}, hi{-huge, -huge, -huge};
    for (int k = 0; k < m->vertex_count; ++k) {
        const vector3& v = m->vertices[k];
        lo = {std::min<double>(lo.x, v.x), std::min<double>(lo.y, v.y), std::min<double>(lo.z, v.z)};
        hi = {std::max<double>(hi.x, v.x), std::max<double>(hi.y, v.y), std::max<double>(hi.z, v.z)};
    }
    return {(lo.x + hi.x) / 2.0, (lo.y + hi.y) / 2.0, (lo.z + hi.z) / 2.0};
}

viewer::viewer(scene* s, const orbit_rig& rig, int threads)
    : renderer_(s, threads, rig.home.width), rig_(rig) {
    start(true);
}

camera viewer::camera_for(int scale) const {
    camera_view view = view_of(rig_, position_);
    view.width /= scale;
    view.height /= scale;
    return setup_camera(view);
}

void viewer::start(bool exact) {
    frame_scale_ = exact ? 1 : scale_;
    frame_ = &renderer_.start(camera_for(frame_scale_));
    state_ = exact ? showing::exact : showing::moving;
    if (exact) drawn_.assign(static_cast<std::size_t>(frame_->cam.height), false);
    moved_ = false;
    started_ = clock_type::now();
}

void viewer::move_to(const orbit& o) {
    position_ = o;
    moved_ = true;
}

bool viewer::step(SDL_Surface* screen, std::chrono::microseconds most) {
    if (moved_ && state_ != showing::moving) start(false);
    if (state_ == showing::exact_done) return false;

    const bool complete = renderer_.wait(most);
    const double seconds = seconds_since(started_);
    const frame& f = *frame_;
    bool drew = false;
    if (state_ == showing::moving) {
        if (!complete) return false;
        drew = draw_rows(screen, f.pixels.data(), f.cam.width, frame_scale_, 0, f.cam.height);
        // The next moving frame at the size that keeps within the budget.
        if (seconds > moving_budget && scale_ < coarsest_moving) scale_ *= 2;
        else if (seconds * 4.0 < moving_budget * 0.8 && scale_ > finest_moving) scale_ /= 2;
    } else if (complete || seconds >= exact_rows_after) {
        // The exact picture's rows that are done and not yet drawn.
        for (int y = 0; y < f.cam.height; ++y) {
            if (drawn_[static_cast<std::size_t>(y)] || !f.done(y)) continue;
            if (!draw_rows(screen, f.pixels.data(), f.cam.width, 1, y, y + 1)) break;
            drawn_[static_cast<std::size_t>(y)] = true;
            drew = true;
        }
        if (!complete || std::find(drawn_.begin(), drawn_.end(), false) != drawn_.end()) return drew;
    } else {
        return false;
    }

    latest_ = {f.cam.width, f.cam.height, seconds, state_ == showing::exact, latest_.count + 1};
    if (state_ == showing::exact)
        state_ = showing::exact_done;
    else
        start(!moved_);
    return drew;
}

rgb_picture viewer::finished_picture() const {
    rgb_picture p;
    p.width = frame_->cam.width;
    p.height = frame_->cam.height;
    p.pixels = frame_->pixels;
    return p;
}
