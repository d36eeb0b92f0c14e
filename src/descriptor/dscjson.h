#pragma once

#include "descriptor/descriptor.h"

#include <QJsonObject>

namespace Norvix {

// The whole tree of a record as one JSON object (the form `norvix dsc dump` prints).
QJsonObject recToJson(Rec &rec);

} // namespace Norvix
