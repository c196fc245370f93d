#pragma once

#include <SDL.h>

#include <chrono>
#include <vector>

#include "tools/png_file.h"
#include "tools/view/frames.h"
#include "tools/view/orbit.h"

// The centre of the box of the scene's model (its first object, as
// build_scene lays it out): the point the camera circles. The origin for a
// mesh without vertices.
dvec model_centre(const scene& s);

// The primary rays a viewing session is built for (build_scene): a few
// hundred pictures the window's size, as a session renders an exact
// picture at every stop of the camera and many moving frames in between;
// so the model gets the tree that renders quickest.
long long session_primary_rays(const camera_view& window);

// The viewer's pictures: while the camera moves, each frame is rendered at
// a fraction of the window's size (a half, a quarter or an eighth, chosen
// from the time the last ones took) and drawn enlarged; once it stops, the
// window's own picture, exactly as raytracer-snapshot renders it from that
// camera, replaces it in place. That picture's rows are drawn as they are
// done once it has run for a moment (a quick one appears whole), and the
// viewer is finished when the last is drawn.
class viewer {
public:
    viewer(scene* s, const orbit_rig& rig, int threads);

    // The camera is at `o` from now on. A moving frame under way is finished
    // first (so that frames keep coming while the camera moves); the exact
    // picture under way is abandoned.
    void move_to(const orbit& o);
    const orbit& position() const { return position_; }

    // One round, waiting at most `most` for the frame under way: starts
    // the frames that are due and draws into `screen` whatever is new.
    // Returns true when it drew (the caller flips).
    bool step(SDL_Surface* screen, std::chrono::microseconds most);

    // True once the exact picture of the camera's position is drawn, until
    // the camera moves; there is nothing to do then.
    bool finished() const { return state_ == showing::exact_done && !moved_; }

    // The finished picture; call only while finished().
    rgb_picture finished_picture() const;

    // The latest complete frame: its size, its render time, whether it is
    // the exact picture, and how many frames were complete by then.
    struct frame_figures {
        int width = 0;
        int height = 0;
        double seconds = 0.0;
        bool exact = false;
        long count = 0;
    };
    const frame_figures& latest() const { return latest_; }

    // The fraction of the window's size moving frames are rendered at.
    int moving_scale() const { return scale_; }

private:
    enum class showing { moving, exact, exact_done };
    void start(bool exact);
    camera camera_for(int scale) const;

    frame_renderer renderer_;
    orbit_rig rig_;
    orbit position_;
    bool moved_ = false;             // since the frame under way started
    showing state_ = showing::moving;
    const frame* frame_ = nullptr;   // the frame under way
    int frame_scale_ = 1;
    int scale_ = 2;
    std::chrono::steady_clock::time_point started_;
    std::vector<bool> drawn_;        // the exact picture's rows on screen
    frame_figures latest_;
};
