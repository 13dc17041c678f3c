// The program's dialog templates: the one description of every window's layout. The Windows
// resource script is generated from it and the model-based backends build their windows
// from it once it is installed (fw::InstallDialogTemplates), so no position, text or style
// is written down twice.
#pragma once

#include <span>

#include "framework/Templates.h"

namespace res {

using fw::ControlKind;
using fw::ControlTemplate;
using fw::DialogTemplate;

// Every dialog of the program.
std::span<const DialogTemplate> AllDialogTemplates();
// The program's template with this resource id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

} // namespace res
