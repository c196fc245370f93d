#include "world/build_scene.h"

#include "scene/scene.h"

void build_scene() {}
