#include "resources/vrellok_rc.h"

#include "resources/about_template.h"

namespace {

ResourceSet Build() {
  ResourceSet set =
      ShellResources(AboutBoxTemplate("About vrellok", "vrellok Version 2.0", "Copyright (C) 2002"),
                     "&About vrellok...");
  // ---- Dialog 102, the generator's main dialog: added here with the dialog. ----
  return set;
}

}  // namespace

const ResourceSet& VrellokResources() {
  static const ResourceSet set = Build();
  return set;
}
