#include "render/render.h"

void render() {}
