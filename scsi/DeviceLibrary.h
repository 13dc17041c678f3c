// Opening the device library, told to the operator.
#pragma once

#include "framework/afxwin.h"

// Opens the library's device source (ZurvaxOpen). A failure is shown in a message box owned
// by owner, with the library's reason; a warning of an opened library likewise. Returns
// true when the library opened (with or without a warning).
bool OpenDeviceLibrary(CWnd& owner);
