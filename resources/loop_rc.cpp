#include "resources/loop_rc.h"

#include "resources/about_template.h"

namespace {

ResourceSet Build() {
  ResourceSet set =
      ShellResources(AboutBoxTemplate("About Skelmer", "Skelmer Version 3.0", "Copyright (C) 2003"),
                     "&About loop...");
  // ---- Dialog 102, the patcher's main dialog: added here with the dialog. ----
  return set;
}

}  // namespace

const ResourceSet& LoopResources() {
  static const ResourceSet set = Build();
  return set;
}
