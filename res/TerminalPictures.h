// The program's pictures as pixels (fw::InstallPictures), drawn by res/tools/pictures.py
// from the same drawings as the Windows bitmaps into a source file of the build. The Windows
// program draws its bitmap resources and has none here.
#pragma once

#include <span>

#include "framework/Pictures.h"

namespace res {

std::span<const fw::Picture> TerminalPictures();

} // namespace res
