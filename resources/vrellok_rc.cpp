#include "resources/vrellok_rc.h"

#include "platform/framework_ids.h"
#include "resources/about_template.h"
#include "version.h"

namespace {

ResourceSet Build() {
  ResourceSet set = ShellResources(
      AboutBoxTemplate("About vrellok", std::string("vrellok Version ") + kProjectVersion,
                       "Copyright (C) 2002"),
      "&About vrellok...");
  // The type group starts at 1000, the DTMF-S button, which sits below DTMF-F: the radio index
  // counts in template order, so DTMF-S is choice 0 whatever its place on screen.
  set.dialogs.emplace(
      IDD_MAIN_DIALOG,
      DialogTemplate{
          "Quorvane",
          247,
          166,
          "MS Sans Serif",
          8,
          {
              RadioButton("DTMF-S timecode (SR=36015)", IDC_TYPE_S, {20, 34, 113, 10}, kGroup),
              RadioButton("DTMF-F timecode (SR=44100)", IDC_TYPE_F, {20, 20, 113, 10}),
              GroupBox("Timecode Type", IDC_STATIC, {7, 7, 132, 46}),
              RadioButton("Method 1", IDC_METHOD_1, {20, 79, 46, 10}, kGroup),
              RadioButton("Method 2", IDC_METHOD_2, {20, 92, 46, 10}),
              GroupBox("Method", IDC_STATIC, {7, 67, 131, 43}),
              LText("Sample Length", IDC_STATIC, {15, 146, 48, 8}),
              EditText(IDC_SAMPLE_LENGTH, {69, 140, 65, 14}),
              PushButton("Generate", IDC_GENERATE, {185, 140, 50, 14}),
              DefPushButton("OK", IDOK, {188, 7, 50, 14}),
              PushButton("Cancel", IDCANCEL, {188, 23, 50, 14}),
              EditText(IDC_DTMF_ID, {70, 120, 40, 14}),
              LText("DTMF ID#", IDC_STATIC, {25, 125, 35, 8}),
          },
          kMinimizeBox});
  return set;
}

}  // namespace

const ResourceSet& VrellokResources() {
  static const ResourceSet set = Build();
  return set;
}
