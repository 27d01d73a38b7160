#include "resources/loop_rc.h"

#include "platform/framework_ids.h"
#include "resources/about_template.h"

namespace {

ResourceSet Build() {
  ResourceSet set =
      ShellResources(AboutBoxTemplate("About Skelmer", "Skelmer Version 3.0", "Copyright (C) 2003"),
                     "&About loop...");
  // ---- Dialog 102, the patcher's main dialog, goes here, e.g.
  //   set.dialogs.emplace(IDD_MAIN_DIALOG, DialogTemplate{"Caption", cx, cy, "MS Sans Serif", 8, {
  //       RadioButton("Text", 1000, {20, 34, 113, 10}, kGroup),
  //       EditText(1002, {69, 140, 65, 14}, kDigitsOnly),
  //       DefPushButton("OK", IDOK, {188, 7, 50, 14}),
  //   }});
  // ----
  return set;
}

}  // namespace

const ResourceSet& LoopResources() {
  static const ResourceSet set = Build();
  return set;
}
