#include "descriptor/dsctext.h"
