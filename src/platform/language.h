#pragma once

// The language of the program's texts. The texts are written in Italian, the source language;
// an English translation ships beside them (translations/norvix_en.ts, built into the library).
// The language follows the system's locale (LC_ALL, LC_MESSAGES, LANG): Italian under an Italian,
// C or POSIX locale, English under any other. A program or a host may choose one instead.

#include "norvix_export.h"

#include <QString>

namespace Norvix {

// "it" or "en".
QString language();
// Chooses "it" or "en"; empty follows the system. False, and nothing changes, for any other.
bool setLanguage(const QString &language);
// The language the system's locale asks for.
QString systemLanguage();
// Loads Qt's own translations (message box buttons, file dialogs) for the chosen language into
// the running application, once per language.
void installQtTranslations();

// A text of the program in the chosen language: `text` as written (Italian, UTF-8) when the
// language is Italian or the translation lacks it.
QString nxTr(const char *text);
// A count with its noun: `one` for 1, `many` otherwise, each holding %1 for the number
// (nxTrCount(n, NX_NOOP("%1 riga"), NX_NOOP("%1 righe"))).
QString nxTrCount(qint64 n, const char *one, const char *many);

} // namespace Norvix

// Marks a text for translation where it is kept for later (an array of captions): nxTr() at use.
#define NX_NOOP(text) text
