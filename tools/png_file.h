#pragma once

#include <string>
#include <vector>

// A rendered picture, stored by row, three floats a pixel on the display's
// 0..255 scale.
struct rgb_picture {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;
};

// Writes `pic` to `path` as 8-bit RGB PNG, each channel truncated and held
// to 0..255 as the window shows it, and returns the reason it failed, or
// "". A regular file (or a new one) is written under a temporary name in
// the same folder (".NAME.XXXXXX", NAME cut short to keep within 255 bytes),
// on the disk before it is renamed into place, with the mode of the file it
// replaces; so a failure keeps whatever was there. Symbolic links are
// followed to the file they name, even one that does not exist yet. A
// device or a pipe is written directly, and so is a file mounted on its own
// (a bind mount), which no rename may replace. A SIGINT, SIGTERM, SIGHUP or
// SIGQUIT while the temporary file exists removes it and ends the process
// by that signal; the caller's handlers are back in place on return.
std::string write_png(const char* path, const rgb_picture& pic);
