// The application icon as SVG text, compiled in from app_icon.svg.
#pragma once

#include <string_view>

std::string_view AppIconSvg();
