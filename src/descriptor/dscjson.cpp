#include "descriptor/dscjson.h"
