// loop's resources: the shared About box, menu text and icon, plus its main dialog.
#pragma once

#include "platform/dialog_template.h"
#include "resources/resource_ids.h"

// Controls of the patcher's main dialog. 1001 went to the channel box, between loop points 1
// and 2.
inline constexpr int IDC_OPEN_FILE = 3;
inline constexpr int IDC_LOOP_POINT_1 = 1000, IDC_CHANNELS = 1001, IDC_LOOP_POINT_2 = 1002,
                     IDC_LOOP_POINT_3 = 1003, IDC_LOOP_POINT_4 = 1004, IDC_LOOP_POINT_5 = 1005,
                     IDC_LOOP_POINT_6 = 1006, IDC_LOOP_POINT_7 = 1007, IDC_LOOP_POINT_8 = 1008,
                     IDC_LOOP_POINT_9 = 1009, IDC_LOOP_POINT_10 = 1010;
// The box of each loop point, in order. 1001 is the channel box, so the ids are not a run.
inline constexpr int kLoopPointIds[] = {
    IDC_LOOP_POINT_1, IDC_LOOP_POINT_2, IDC_LOOP_POINT_3, IDC_LOOP_POINT_4, IDC_LOOP_POINT_5,
    IDC_LOOP_POINT_6, IDC_LOOP_POINT_7, IDC_LOOP_POINT_8, IDC_LOOP_POINT_9, IDC_LOOP_POINT_10};

const ResourceSet& LoopResources();
