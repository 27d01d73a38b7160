// The plot (--plot): each frame's offset against its number, breaks and check failures marked,
// drawn with Qt's painter into an image and encoded as PNG or JPEG. No display is needed: without
// an application object one is made for the drawing, on the offscreen platform unless
// QT_QPA_PLATFORM names another.
#pragma once

#include <optional>
#include <string>

#include "verify/map/verify_report.h"

// The picture's format for a file name: "PNG" for .png, "JPEG" for .jpg and .jpeg (in any case);
// nothing for any other name.
std::optional<std::string> PlotFormatFor(const std::string& path);

// The picture file's bytes in format ("PNG" or "JPEG").
std::string RenderPlot(const VerifyReport& report, const std::string& format = "PNG");
