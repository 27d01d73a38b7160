// vrellok's resources: the shared About box, menu text and icon, plus its main dialog.
#pragma once

#include "platform/dialog_template.h"
#include "resources/resource_ids.h"

// Controls of the generator's main dialog.
inline constexpr int IDC_TYPE_S = 1000;  // first of the type group: choice 0, 36015 Hz
inline constexpr int IDC_TYPE_F = 1001;
inline constexpr int IDC_SAMPLE_LENGTH = 1002;
inline constexpr int IDC_GENERATE = 1003;
inline constexpr int IDC_METHOD_1 = 1004;  // first of the method group
inline constexpr int IDC_METHOD_2 = 1005;
inline constexpr int IDC_DTMF_ID = 1006;

const ResourceSet& VrellokResources();
