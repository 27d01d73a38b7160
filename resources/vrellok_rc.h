// vrellok's resources: the shared About box, menu text and icon, plus its main dialog.
#pragma once

#include "platform/dialog_template.h"
#include "resources/resource_ids.h"

const ResourceSet& VrellokResources();
