#pragma once

// What the parts of one editor share besides their data: the record it edits, how it was started,
// and the modes the user's actions and the editor's own moves set. Plain values; each part is
// handed this, never the editor as a whole.

#include "descriptor/descriptor.h"
#include "editor/shared.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Norvix {

struct EditorState
{
    // What the editors and controls of the process share.
    SharedSettings &shared = SharedSettings::process();
    // Settings of the start.
    QString recordName, dscPath, descField;
    bool readOnly = false;
    std::shared_ptr<Rec> rec;
    // The control that gets the focus on a new row.
    QPointer<QWidget> firstControl;
    // Modes.
    bool canShow = false;
    bool modified = false;
    bool unloaded = false;
    bool applying = false; // the editor itself moves widgets or selects lines: no user event
    bool checking = false; // a field is being checked on leaving it
    bool rowGone = false;  // the row in hand was deleted by another user, as the editor has shown

    // The columns of the descriptor's primary index.
    QStringList keyIds() const
    {
        QStringList ids;
        if (rec && rec->Indice())
            for (const auto &n : *rec->Indice()->NomiCampi())
                ids << n->ID();
        return ids;
    }
};

} // namespace Norvix
