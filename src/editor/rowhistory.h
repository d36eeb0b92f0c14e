#pragma once

// The history of the row in hand, for a record that keeps one (STORIA): "Storia" (CmdStoria,
// Ctrl+H) opens FrmStoria over the editor on the row's changes, and Ripristina puts values from
// before a change back into the fields as if typed: the row becomes modified, and Conferma saves
// it as any change (its checks, the check against another user's change, its own history entry).

#include "session/history.h"

#include <QHash>
#include <QPointer>
#include <QVariantList>

#include <functional>
#include <memory>

class QWidget;

namespace Norvix {

class DetailLookups;
class EditorData;
class FieldControl;
class FieldSet;
class FrmStoria;
class Lookups;
class RowSession;
struct EditorState;
struct HistoryColumn;
struct HistoryLine;

class RowHistory
{
public:
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        FieldSet &fields;
        Lookups &lookups;
    };
    struct Calls
    {
        std::function<void(QWidget *)> edited;        // the user changed a control
        std::function<std::shared_ptr<void>()> busy; // held while the values are put back
    };
    RowHistory(Parts parts, Calls calls);
    ~RowHistory();
    RowHistory(const RowHistory &) = delete;
    RowHistory &operator=(const RowHistory &) = delete;

    // Whether the row in hand has a history to show: the record keeps one and the row is stored.
    bool available() const;
    // Opens the viewer on the row in hand (raises it when it is open).
    void open();

private:
    HistoryColumn columnOf(const QString &column) const;
    DetailLookups &lookupsFor(const QString &filter);
    // The values before the changes of `lines` (newest first) put into the fields of the row of
    // `key`, if it is still the one in hand.
    void restore(const QVariantList &key, const QList<HistoryLine> &lines);
    void put(FieldControl &field, const QVariant &value);

    Parts m;
    Calls m_calls;
    // The lookups' descriptions, by the source value a dependent one lists its rows for (""
    // for the others), kept while the editor lives.
    QHash<QString, std::shared_ptr<DetailLookups>> m_lookups;
    QPointer<FrmStoria> m_viewer;
};

} // namespace Norvix
