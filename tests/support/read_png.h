// Reading PNG files back for a test: qm-capture's output, and the pictures the build makes.
#pragma once

#include <string>

#include "player/player.h"

// Reads an RGB or RGBA PNG into a Frame (rows bottom-up, alpha 255 when absent).
Frame Read_Png(const std::string &path);
