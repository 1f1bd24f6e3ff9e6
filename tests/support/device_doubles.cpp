#include "support/device_doubles.h"
