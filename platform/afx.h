// Everything a dialog program needs from the framework, in one include.
#pragma once

#include "platform/data_exchange.h"
#include "platform/dialog.h"
#include "platform/dialog_template.h"
#include "platform/file.h"
#include "platform/framework_ids.h"
#include "platform/message_map.h"
#include "platform/prompts.h"
#include "platform/trace.h"
#include "platform/winapp.h"
