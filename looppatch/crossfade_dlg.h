// The small window that asks how to crossfade a loop into a copy: the length (1 to 500 ms)
// and the shape of the fade.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "looppatch/crossfade.h"

struct FadeChoice {
  std::uint32_t ms = 0;
  FadeShape shape = FadeShape::linear;
};

// Runs the window modally; nothing when the user cancelled.
std::optional<FadeChoice> AskCrossfade(QWidget* parent);
