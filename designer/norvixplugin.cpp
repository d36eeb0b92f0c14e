#include "norvixplugin.h"

#include "control/norvix.h"

QWidget *NorvixDesignerPlugin::createWidget(QWidget *parent)
{
    auto *w = new Norvix::Norvix(parent);
    w->show(); // hidden at run time, drawn as a labelled placeholder in the form
    return w;
}
