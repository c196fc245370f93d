#pragma once

// Renders current_scene between two readings of the clock and prints
// "completed in N seconds\n": the program and raytracer-snapshot report
// their render alike.
void timed_render();
