#include "app/progress_line.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// Nothing for a render shorter than this, then a redraw at most this often.
constexpr double first_draw = 1.0;
constexpr double redraw_every = 0.25;

// "about 12 s left", or minutes from 100 s on; the time so far, scaled by
// the share of rows still to do.
std::string time_left(const render_progress& p, double seconds) {
    if (p.finished <= 0) return "";
    const double left = seconds * (p.total - p.finished) / p.finished;
    char text[64];
    if (left < 100.0)
        std::snprintf(text, sizeof text, ", about %.0f s left", std::ceil(left));
    else
        std::snprintf(text, sizeof text, ", about %.0f min left", std::ceil(left / 60.0));
    return text;
}

}  // namespace

void progress_line::update(const render_progress& p, double seconds) {
    if (!out_) return;
    if (p.finished >= p.total) {
        if (length_ > 0) std::fprintf(out_, "\r%*s\r", length_, "");
        std::fflush(out_);
        length_ = 0;
        return;
    }
    if (seconds < first_draw || (drawn_at_ >= 0.0 && seconds - drawn_at_ < redraw_every)) return;
    drawn_at_ = seconds;

    const int percent = static_cast<int>(100LL * p.finished / p.total);
    const std::string text = "rendering: " + std::to_string(percent) + "% done" + time_left(p, seconds);
    // Spaces over whatever a longer line before left behind.
    const int length = static_cast<int>(text.size());
    std::fprintf(out_, "\r%s%*s", text.c_str(), length_ > length ? length_ - length : 0, "");
    std::fflush(out_);
    length_ = std::max(length, length_);
}
