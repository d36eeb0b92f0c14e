#pragma once

// Builds the field controls of a descriptor (METTICAMPI, MettiCampo): for each field the input of
// its kind, its caption and description boxes, sized by the page layout, bound to the column
// and marked with the page that shows them.

#include "descriptor/descriptor.h"
#include "editor/pagelayout.h"

#include <QString>
#include <QVector>
#include <QPointer>

#include <memory>

class QWidget;

namespace Norvix {

class FieldControl;
class FrmEditTabPrivate;

class FieldFactory
{
public:
    explicit FieldFactory(FrmEditTabPrivate &d);

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

    FrmEditTabPrivate &d;
};

} // namespace Norvix
