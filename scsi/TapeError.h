// The one report of a library call whose status its caller does not accept.
#pragma once

#include "framework/afxwin.h"
#include "zurvax/ZurvaxApi.h"

// Names the status in a message box owned by hWnd (or by nobody) and, if the operator
// asks, shows the sense data of the drive at library index device (the one the failed
// call addressed). Safe on either thread.
// Without an owner on the user-interface thread the main window is still kept from taking
// clicks while the boxes are up, so no scan or selection can start inside another.
void ReportTapeError(HWND hWnd, UINT status, UINT device);

// The name of a sense key (its low four bits), as the sense display shows it.
const char* SenseKeyName(unsigned key);

// The thirteen lines of the sense display for a sense record.
CString FormatSenseText(const SENSE_DATA& sense);
