#pragma once

// Builds the field controls of a descriptor (METTICAMPI, MettiCampo): for each field the input of
// its kind, its caption and description boxes, sized by the page layout, bound to the column
// and marked with the page that shows them.

#include "descriptor/descriptor.h"
#include "editor/pagelayout.h"

#include <QString>
#include <QVector>
#include <QPointer>

#include <functional>
#include <memory>

class QLineEdit;
class QWidget;

namespace Norvix {

class RowSession;
class FieldControl;
class FieldSet;
class Lookups;
class WindowLayout;
struct EditorState;

class FieldFactory
{
public:
    // What the controls made call when the user works them.
    struct Calls
    {
        std::function<void(QWidget *control)> edited;       // the user changed the control
        std::function<void(QWidget *control)> cutToLength;  // its text may pass the field's length
        std::function<void(QLineEdit *input)> chooseFile;   // typed into a file field
        std::function<void(int index)> lookupChosen;        // an item of lookup `index` chosen
    };
    // The controls are made on `window`, which filters their events, placed by `layout` and
    // added to `fields`; lookups fill their combos.
    FieldFactory(QWidget &window, EditorState &state, const RowSession &session, FieldSet &fields,
                 WindowLayout &layout, Lookups &lookups, Calls calls);

    void METTICAMPI();
    void MettiCampo(const CampoPtr &campo);

private:
    // Element `index` of an array, made the first time it is asked for.
    template <typename T>
    T *element(QVector<QPointer<T>> &array, const QString &arrayName, int index, const Layout::Rect &size);
    // The field control of a field's kind, its input made and sized by `boxes`.
    std::unique_ptr<FieldControl> makeInput(const CampoPtr &campo, Layout::Kind kind, const Layout::FieldBoxes &boxes);
    std::unique_ptr<FieldControl> makeLineInput(const CampoPtr &campo, Layout::Kind kind, const Layout::FieldBoxes &boxes);
    std::unique_ptr<FieldControl> makeLookup(const CampoPtr &campo, const Layout::FieldBoxes &boxes);
    // Binds the controls and marks the page that shows them, as the kind asks.
    void bind(const CampoPtr &campo, QWidget *main, QWidget *caption, QWidget *desc, const QString &mark);

    // The column may hold a time of day (an input of dates then shows it).
    bool mayHoldTime(const QString &column) const;

    QWidget &m_window;
    EditorState &m_state;
    const RowSession &m_session;
    FieldSet &m_fields;
    WindowLayout &m_layout;
    Lookups &m_lookups;
    Calls m_calls;
};

} // namespace Norvix
