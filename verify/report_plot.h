// The plot (--plot): each frame's offset against its number, breaks and check failures marked,
// drawn with Qt's painter into an image and encoded as PNG. No display is needed: without an
// application object one is made for the drawing, on the offscreen platform unless
// QT_QPA_PLATFORM names another.
#pragma once

#include <string>

#include "verify/verify_report.h"

// The PNG file's bytes.
std::string RenderPlotPng(const VerifyReport& report);
