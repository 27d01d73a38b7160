// A small resource set for the framework's own tests: the shared About box and a dialog that
// has one of every kind of control.
#pragma once

#include "platform/dialog_template.h"
#include "resources/resource_ids.h"

inline constexpr int IDD_TEST_DIALOG = 200;
inline constexpr int IDC_COUNT = 1000;   // "Count": digits only, exchanged with a 1..10 check
inline constexpr int IDC_VALUE = 1001;   // "Value": any integer
inline constexpr int IDC_SECOND = 1002;  // starts its radio group, placed below IDC_FIRST
inline constexpr int IDC_FIRST = 1003;
inline constexpr int IDC_OPTION_A = 1004;  // starts the second radio group
inline constexpr int IDC_OPTION_B = 1005;
inline constexpr int IDC_SHOWN = 1006;  // "Shown" (named in the template, no label): digits
                                        // only, read-only, not a tab stop
inline constexpr int IDC_GO = 1007;

// A fresh copy each call, so a test may change it (an empty string 101, say) and install it.
ResourceSet TestResources();
