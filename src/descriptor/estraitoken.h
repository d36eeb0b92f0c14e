#pragma once

#include <QString>

namespace Norvix {

// Returns the Numero-th field (counted from 1) of Testo, fields being separated by Separatore
// (which may be longer than one character and must not be empty). Occurrences of the separator
// are found left to right without overlapping.
//
// - No such field: empty result, Testo unchanged.
// - Numero <= 0: the number of fields, in decimal; Testo unchanged.
// - Rimuovi: the field is cut out of Testo together with one adjacent separator (the one after
//   it for the first field, the one before it otherwise).
// - SenzaVirgolette: a double quote at the very start of the result is dropped, and then one at
//   its very end, before trimming; a closing quote goes only with an opening one, so a quoted
//   text with a blank before its opening quote keeps both quotes.
// The result has its leading and trailing spaces removed; Testo itself is never trimmed.
QString EstraiToken(QString &Testo, const QString &Separatore, int Numero, bool SenzaVirgolette = false,
                    bool Rimuovi = false);

// Convenience form for callers that never remove.
QString EstraiToken(const QString &Testo, const QString &Separatore, int Numero,
                    bool SenzaVirgolette = false);

// Drops a double quote at the very start of text and, when there was one, one at its very end.
QStringView stripQuotes(QStringView text);

// Removes leading and trailing blanks (U+0020 only, as descriptor texts expect).
QString trimBlanks(const QString &text);
QStringView trimBlanks(QStringView text);

} // namespace Norvix
