#include "descriptor/estraitoken.h"

#include <QVarLengthArray>

namespace Norvix {

QStringView trimBlanks(QStringView text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.sliced(b, e - b);
}

QStringView stripQuotes(QStringView text)
{
    if (!text.startsWith(u'"'))
        return text;
    text = text.sliced(1);
    if (text.endsWith(u'"'))
        text.chop(1);
    return text;
}

QString trimBlanks(const QString &text)
{
    const QStringView v = trimBlanks(QStringView(text));
    return v.size() == text.size() ? text : v.toString();
}

QString EstraiToken(QString &Testo, const QString &Separatore, int Numero, bool SenzaVirgolette, bool Rimuovi)
{
    if (Separatore.isEmpty())
        return QString(); // no separator: no field can be told apart (callers never do this)

    const qsizetype L = Separatore.size();
    // Positions (0-based) of the separators; only the first Numero of them are ever needed,
    // except when counting fields.
    QVarLengthArray<qsizetype, 32> pos;
    const qsizetype needed = Numero >= 1 ? qsizetype(Numero) : -1;
    for (qsizetype from = 0;;) {
        const qsizetype p = Testo.indexOf(Separatore, from);
        if (p < 0)
            break;
        pos.append(p);
        if (needed > 0 && pos.size() >= needed)
            break; // enough to isolate the field; the rest of the text does not matter
        from = p + L;
    }
    const qsizetype c = pos.size();

    QString result;
    if (Numero <= 0) {
        // Counting needs every separator, which the loop above found.
        result = QString::number(c + 1);
    } else if (c < Numero - 1) {
        return QString();
    } else if (c == 0) {
        result = Testo;
        if (Rimuovi)
            Testo.clear();
    } else if (Numero == 1) {
        result = Testo.left(pos[0]);
        if (Rimuovi)
            Testo.remove(0, pos[0] + L);
    } else if (c == Numero - 1) {
        // The last field: everything after the last separator.
        const qsizetype start = pos[c - 1] + L;
        result = Testo.mid(start);
        if (Rimuovi)
            Testo.truncate(pos[c - 1]);
    } else {
        const qsizetype start = pos[Numero - 2] + L;
        const qsizetype end = pos[Numero - 1];
        result = Testo.mid(start, end - start);
        if (Rimuovi)
            Testo.remove(pos[Numero - 2], end - pos[Numero - 2]);
    }

    if (SenzaVirgolette)
        return trimBlanks(stripQuotes(result)).toString();
    return trimBlanks(result);
}

QString EstraiToken(const QString &Testo, const QString &Separatore, int Numero, bool SenzaVirgolette)
{
    QString copy = Testo;
    return EstraiToken(copy, Separatore, Numero, SenzaVirgolette, false);
}

} // namespace Norvix
