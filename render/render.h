#pragma once

// Renders current_scene from the fixed camera into `image`, printing
// "spawning rays", the progress dots and "done \n".
void render();
