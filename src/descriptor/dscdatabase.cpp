#include "descriptor/dscdatabase.h"
