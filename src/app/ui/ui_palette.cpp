#include "app/ui/ui_palette.h"
