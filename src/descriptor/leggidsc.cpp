#include "descriptor/leggidsc.h"
