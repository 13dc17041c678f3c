// The framework's tests build the program's own dialogs: their templates are installed
// before any test runs, as the program's application object does.
#include "framework/Templates.h"
#include "res/Templates.h"

namespace {

const bool kInstalled = (fw::InstallDialogTemplates(res::AllDialogTemplates()), true);

} // namespace
