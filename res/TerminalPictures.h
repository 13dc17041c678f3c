// The program's pictures for the terminal program, drawn by res/tools/pictures.py (the
// same drawings as the Windows bitmaps) into a source file of the build. Linux builds only;
// hand them to fw::tui::InstallPictures before the first window.
#pragma once

#include <span>

#include "framework/tui/Pictures.h"

namespace res {

std::span<const fw::tui::Picture> TerminalPictures();

} // namespace res
