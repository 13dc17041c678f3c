// The program's one include for the framework: the class layer, with its names in scope as
// the program uses them (CDialog, Sleep, IDOK, ...).
#pragma once

#include "framework/fw.h"

using namespace fw; // NOLINT(google-global-names-in-headers): the framework's names are the
                    // program's vocabulary
