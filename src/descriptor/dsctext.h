#pragma once

// The descriptor text format and its reader.
//
// One statement per line, fields split at every comma (no quoting) and trimmed of blanks; the
// first field is the keyword (case-insensitive): PATH, DATABASE, RECORD, CAMPO, INDICE, RICERCA,
// DETTAGLIO, STORIA. Other lines, blank lines and comments (starting with ') are ignored. CAMPO, INDICE,
// RICERCA and DETTAGLIO act only in the section of the record being loaded; PATH and DATABASE act
// everywhere else. Loading stops at the first unique primary INDICE line of the section.
// DETTAGLIO,n,CHILD,caption,page,MASTER;FIELDS,CHILD;FIELDS[,COLUMNS] adds detail n (Rec::Dettagli,
// in number order whatever the order of the lines). STORIA,1 turns the record's history on
// (STORIA,0: off); it is read anywhere in the section, after the primary INDICE line too.
//
// Lines that cannot be applied stop the load with a DescriptorError naming the source and the
// line number; nothing of the offending line is applied and the caller discards the tree:
//  - a CAMPO line with an empty name, or repeating a name the section already declared;
//  - a CAMPO line whose length (field 5) lies outside -32768..32767;
//  - a RICERCA MOSTRA line repeating a layout number the section already declared;
//  - a RICERCA SELEZIONE line for a layout that no earlier MOSTRA line declared, or with an
//    empty control kind naming a field that no earlier CAMPO line declared;
//  - a unique primary INDICE line whose field list holds an empty item or an item that is only
//    a mark character;
//  - a DETTAGLIO line whose number or page is not a whole number from 1, repeating a number,
//    without a child record or a link list, with an empty item in a list, or with fields after
//    the columns (columns split by commas);
//  - a STORIA line whose field 2 is neither 0 nor 1.
// A descriptor with such a line is broken; reporting it beats building an editor that silently
// lacks a field or a key.

#include "descriptor/descriptor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Norvix {

// Decodes a descriptor file line by line (a leading byte-order mark dropped): a line that is
// valid UTF-8 is UTF-8, any other Windows-1252, so that one stray line spoils nothing else.
QString decodeDscText(const QByteArray &bytes);

// Splits text into lines ending at LF, CR LF or CR. A final terminator does not add a line.
QStringList splitDscLines(const QString &text);

// The keywords the reader acts on.
enum class DscKeyword { Other, Path, Database, Record, Campo, Indice, Ricerca, Dettaglio, Storia };

// The keyword of a line: its first field, trimmed and upper-cased.
DscKeyword dscKeyword(QStringView line);

// A forward-only sequence of descriptor lines. The reader asks every line for its keyword and
// decodes only the lines it applies, so scanning past other records stays cheap.
class DscLineSource
{
public:
    virtual ~DscLineSource() = default;
    // Moves to the next line; false when none remains.
    virtual bool next() = 0;
    virtual DscKeyword keyword() const = 0;
    // The current line as read.
    virtual QString line() const = 0;
};

// Lines of the bytes of a descriptor file (encoding as decodeDscText decides, line ends as
// splitDscLines), decoded one at a time and only when asked.
class TextLineSource : public DscLineSource
{
public:
    explicit TextLineSource(QByteArray bytes);
    bool next() override;
    DscKeyword keyword() const override;
    QString line() const override;

private:
    QByteArray m_bytes;
    bool m_hasCr = false;
    qsizetype m_pos = 0;
    qsizetype m_lineStart = 0;
    qsizetype m_lineSize = 0;
};

// Lines held in a list (for example the rows of a descriptor database).
class ListLineSource : public DscLineSource
{
public:
    explicit ListLineSource(const QStringList &lines) : m_lines(lines) {}
    bool next() override;
    DscKeyword keyword() const override { return dscKeyword(m_lines.at(m_index)); }
    QString line() const override { return m_lines.at(m_index); }

private:
    const QStringList &m_lines;
    qsizetype m_index = -1;
};

// Runs the reading algorithm over `lines` and fills `rec` (freshly created by the caller) with
// the record named `recordName`. `sourceName` names the source in error messages.
void readDsc(DscLineSource &lines, const QString &recordName, Rec &rec, const QString &sourceName);

// Reads `path` + "files.dsc" (path already ends with a separator). A file that cannot be opened
// or read throws DescriptorError.
void LeggiDscTesto(const QString &path, const QString &recordName, Rec &rec);

} // namespace Norvix
