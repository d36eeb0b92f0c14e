#pragma once

#include "descriptor/descriptor.h"

#include <QString>

namespace Norvix {

// Normalises a folder for the descriptor functions: backslashes become separators (descriptors
// written on other systems use them), an empty folder means the current one, and the result
// ends with a separator.
QString normaliseFolder(const QString &folder);

// Finds the descriptors in folder `path` and fills `rec` (freshly created) with the record named
// `recordName`: from `files.dsc` when present, otherwise from `dsc.mdb`. `path` is normalised in
// place (see normaliseFolder), so the caller keeps the completed folder.
//
// Returns true when a source was found and read (a record it lacks leaves `rec` empty); false,
// after the message "Dsc non trovato", when the folder holds neither. Errors of the loaders
// (DescriptorError) pass to the caller.
bool LeggiDsc(QString &path, const QString &recordName, Rec &rec);

} // namespace Norvix
