#pragma once

// The program's dialog templates, as the resource editor laid them out.

#include "DialogTemplate.h"

// The template of resource id; null for an unknown id.
const DialogTemplate* LoadDialogTemplate(int id);
