// The programs' icons as SVG text, compiled in from app_icon.svg (vrellok, and the default of
// every program) and loop_icon.svg (loop).
#pragma once

#include <string_view>

std::string_view AppIconSvg();
std::string_view LoopIconSvg();
