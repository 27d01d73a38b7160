// The About box both programs show, which differs only in its texts.
#pragma once

#include <string>

#include "platform/dialog_template.h"

DialogTemplate AboutBoxTemplate(std::string caption, std::string versionLine,
                                std::string yearsLine);

// The resources every program has: About box 100, its menu text 101 and icon 128.
ResourceSet ShellResources(DialogTemplate aboutBox, std::string aboutMenuText);
