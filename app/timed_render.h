#pragma once

#include <functional>

#include "render/render.h"

// Renders between two readings of the clock and prints
// "completed in N seconds\n": the program and raytracer-snapshot report
// their render alike. `render_step` is the program's render() unless given.
void timed_render(const std::function<void()>& render_step = [] { render(); });
