// The program's dialog templates: 102, the main update window, and 129, the
// key update window.
#pragma once

#include "framework/dialog_template.h"

// The template with the resource id; null when there is none.
const DialogTemplate* FindDialogTemplate(int templateId);
const DialogTemplate& MainDialogTemplate();
const DialogTemplate& KeyDialogTemplate();
