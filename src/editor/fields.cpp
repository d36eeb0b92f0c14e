// Building the controls of every field.

#include "editor/frmedittab.h"

#include "platform/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTextCursor>

namespace Norvix {

template <typename T>
T *FrmEditTab::loadElement(QVector<QPointer<T>> &array, const QString &arrayName, int index, const Layout::Rect &size)
{
    if (array.size() <= index)
        array.resize(index + 1);
    if (array[index])
        return array[index];
    auto *w = new T(this);
    w->setObjectName(arrayName + QString::number(index));
    w->setProperty("Index", index);
    w->setProperty("DataField", QString());
    w->setProperty("Tag", QString());
    w->hide(); // shown by the tab switching
    w->installEventFilter(this);
    placeTwips(w, size);
    array[index] = w;
    m_fieldControls.append(w);
    return w;
}

void FrmEditTab::markEdited(QWidget *control)
{
    if (control->property("DataChanged").toBool() && m_modified)
        return;
    control->setProperty("DataChanged", true);
    if (!m_modified)
        SETMODIFICATO();
}

bool FrmEditTab::atLength(QWidget *control, const QKeyEvent *key) const
{
    const int max = control->property("MaxLen").toInt();
    if (max <= 0)
        return false;
    const QString typed = key->text();
    const bool memo = qobject_cast<QPlainTextEdit *>(control);
    const bool inserts = typed.size() == 1 && !(key->modifiers() & Qt::ControlModifier)
                         && (typed.at(0).isPrint() || (memo && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)));
    if (!inserts)
        return false;
    qsizetype length = 0, selected = 0;
    if (auto *e = qobject_cast<QLineEdit *>(control)) {
        length = e->text().size();
        selected = e->selectedText().size();
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(control)) {
        length = m->toPlainText().size();
        selected = m->textCursor().selectedText().size();
    }
    return length - selected >= max;
}

void FrmEditTab::cutToLength(QWidget *control)
{
    const int max = control->property("MaxLen").toInt();
    const QString text = controlText(control);
    if (max <= 0 || text.size() <= max)
        return;
    // What went in last (a paste ends at the cursor) is what is cut.
    const qsizetype excess = text.size() - max;
    if (auto *e = qobject_cast<QLineEdit *>(control)) {
        const qsizetype end = std::max<qsizetype>(e->cursorPosition(), excess);
        e->setText(text.left(end - excess) + text.mid(end));
        e->setCursorPosition(int(end - excess));
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(control)) {
        QTextCursor cursor = m->textCursor();
        const int end = std::max(cursor.position(), int(excess));
        cursor.setPosition(end - int(excess));
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        const QSignalBlocker quiet(m);
        cursor.removeSelectedText();
        m->setTextCursor(cursor);
    }
    const int index = control->property("Index").toInt();
    const QString caption = index < TxtLabel.size() && TxtLabel[index] ? TxtLabel[index]->text() : QString();
    msgBox(QStringLiteral("Il campo %1 accetta al massimo %2 caratteri: il testo in eccesso non è stato inserito.")
               .arg(caption)
               .arg(max),
           MsgButtons::OkOnly, windowTitle());
}

QString FrmEditTab::controlText(QWidget *control)
{
    if (auto *e = qobject_cast<QLineEdit *>(control))
        return e->text();
    if (auto *m = qobject_cast<QPlainTextEdit *>(control))
        return m->toPlainText();
    if (auto *c = qobject_cast<QComboBox *>(control))
        return c->currentText();
    if (auto *b = qobject_cast<QCheckBox *>(control))
        return b->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto *p = qobject_cast<QPushButton *>(control))
        return p->text();
    return QString();
}

void FrmEditTab::setControlText(QWidget *control, const QString &text)
{
    if (auto *e = qobject_cast<QLineEdit *>(control)) {
        e->setText(text);
        e->setCursorPosition(0);
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(control)) {
        m->setPlainText(text);
    } else if (auto *c = qobject_cast<QComboBox *>(control)) {
        c->setCurrentText(text);
    } else if (auto *b = qobject_cast<QCheckBox *>(control)) {
        b->setChecked(!text.isEmpty() && text != u"0" && text.compare(u"False", Qt::CaseInsensitive) != 0);
    }
    control->setProperty("DataChanged", false);
}

void FrmEditTab::METTICAMPI()
{
    m_layout = std::make_unique<Layout::PageLayout>(tabClient(), m_labelLeft, m_labelTop);
    m_canShow = false;
    const auto campi = m_rec->Campi();
    for (int i = 1; i <= campi->Count(); ++i)
        MettiCampo(campi->Item(i));
    if (!m_canShow)
        msgBox(QStringLiteral("Impossibile visualizzare l'editor"), MsgButtons::OkOnly, QStringLiteral("ATTENZIONE!"));
}

void FrmEditTab::MettiCampo(const CampoPtr &campo)
{
    using Layout::Kind;
    const int i = campo->Indice();
    const int p = Layout::pageIndexOf(campo->Page());
    const QString word = campo->ObjType().toUpper();
    const Kind kind = Layout::kindOf(word);
    m_layout->usePage(p);

    if (kind == Kind::Unknown)
        msgBox(QStringLiteral("Incontrata  tipo control non prevista: %1.\nPer il campo: %2").arg(campo->ObjType(), campo->Nome()));
    if (kind == Kind::Umod)
        campo->setDesc(QStringLiteral("Data ultima modifica"));

    int comboWidth = Layout::Design::combo.width;
    if (kind == Kind::Combo) {
        // The list is read first: the combo is as wide as its widest item.
        auto *c = loadElement(CmbBounded, QStringLiteral("CmbBounded"), i, Layout::Design::combo);
        c->setEditable(true);
        comboWidth = FILLCOMBO(c, campo); // a missing table or database reaches the caller
    }
    Layout::FieldBoxes boxes = Layout::sizeField(*campo, kind, m_layout->fieldWidthLimit(),
                                                 [this](const QString &t) { return textWidth(t); }, comboWidth);
    if (kind == Kind::Hidden && campo->FieldRif().toString().isEmpty())
        campo->setObjType(QStringLiteral("NESSUNO")); // from here on a field that is never shown

    QWidget *main = nullptr;
    const QString accessible = campo->Desc();
    switch (kind) {
    case Kind::Memo: {
        auto *m = loadElement(TxtMemo, QStringLiteral("TxtMemo"), i, boxes.main);
        m->setProperty("MaxLen", std::max(0, int(campo->MaxLen())));
        m->setTabChangesFocus(true); // Tab goes to the next field, as from any other input
        connect(m, &QPlainTextEdit::textChanged, this, [this, m] {
            if (!m->hasFocus())
                return; // set by the editor, not typed
            cutToLength(m);
            markEdited(m);
        });
        main = m;
        break;
    }
    case Kind::Date:
    case Kind::Numeric:
    case Kind::File:
    case Kind::Umod:
    case Kind::Text:
    case Kind::None:
    case Kind::Hidden:
    case Kind::Unknown: {
        QLineEdit *e = nullptr;
        switch (kind) {
        case Kind::Date: e = loadElement(TxtDate, QStringLiteral("TxtDate"), i, boxes.main); break;
        case Kind::Numeric: e = loadElement(TxtNumeric, QStringLiteral("TxtNumeric"), i, boxes.main); break;
        case Kind::File: e = loadElement(txtFile, QStringLiteral("txtFile"), i, boxes.main); break;
        case Kind::Umod: e = loadElement(TxtUMOD, QStringLiteral("TxtUMOD"), i, boxes.main); break;
        default: e = loadElement(TxtText, QStringLiteral("TxtText"), i, boxes.main); break;
        }
        if (kind == Kind::Text || kind == Kind::Numeric)
            e->setProperty("MaxLen", std::max(0, int(campo->MaxLen()))); // see cutToLength()
        if (kind == Kind::Numeric)
            e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (kind == Kind::Umod)
            e->setReadOnly(true);
        if (kind == Kind::File)
            connect(e, &QLineEdit::textEdited, this, [this, e] { chooseFile(e); }); // typing opens the dialog
        connect(e, &QLineEdit::textEdited, this, [this, e] {
            cutToLength(e);
            markEdited(e);
        });
        main = e;
        break;
    }
    case Kind::Check: {
        auto *c = loadElement(ChkBoolean, QStringLiteral("ChkBoolean"), i, boxes.main);
        connect(c, &QCheckBox::clicked, this, [this, c] { markEdited(c); });
        main = c;
        break;
    }
    case Kind::Combo: {
        auto *c = loadElement(CmbBounded, QStringLiteral("CmbBounded"), i, boxes.main);
        c->setEditable(true);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        connect(c, &QComboBox::currentTextChanged, this, [this, c] {
            if (c->hasFocus())
                markEdited(c);
        });
        connect(c, &QComboBox::activated, this, [this, i] { CmbBounded_Click(i); });
        connect(c, &QComboBox::editTextChanged, this, [this] { m_tabs->update(); });
        if (c->lineEdit())
            c->lineEdit()->installEventFilter(this);
        auto *bound = loadElement(TxtText, QStringLiteral("TxtText"), i, Layout::Design::text);
        bound->setProperty("DataField", campo->Nome());
        bound->setVisible(false);
        // The field this combo depends on asks for a refill when it changes.
        if (!campo->SourceRif().isEmpty() && m_rec->Campi()->Contains(campo->SourceRif()))
            m_rec->Campi()->Item(campo->SourceRif())->setTag(QStringLiteral("REFILLCOMBO, %1").arg(i));
        main = c;
        break;
    }
    case Kind::Binary: {
        auto *b = loadElement(CmdShowBin, QStringLiteral("CmdShowBin"), i, boxes.main);
        b->setText(QStringLiteral("Mostra File"));
        main = b;
        break;
    }
    }
    auto *caption = loadElement(TxtLabel, QStringLiteral("TxtLabel"), i, boxes.caption);
    caption->setReadOnly(true);
    caption->setFrame(false);
    caption->setFocusPolicy(Qt::NoFocus);
    caption->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    QLineEdit *desc = nullptr;
    if (boxes.description) {
        desc = loadElement(TxtDesc, QStringLiteral("TxtDesc"), i, *boxes.description);
        desc->setReadOnly(true);
        desc->setFocusPolicy(Qt::ClickFocus); // reached by a click (for F2), never by Tab
    }
    main->setFocusPolicy(Qt::StrongFocus);
    main->setAccessibleName(accessible);

    if (word != u"HIDDENFIELD" && word != u"LOCKEDFIELD" && word != u"NESSUNO" && !m_canShow) {
        m_firstControl = main;
        m_canShow = true;
    }

    const QString current = campo->ObjType().toUpper();
    if (current != u"NESSUNO")
        m_layout->place(p, boxes, kind == Kind::Hidden, campo->CodPos());
    placeTwips(caption, boxes.caption);
    placeTwips(main, boxes.main);
    if (desc && boxes.description)
        placeTwips(desc, *boxes.description);
    const QString mark = Layout::tabMark(campo->Page(), m_layout->pageFill(p));

    if (current == u"CHKBOOLEAN" || current == u"CMDSHOWBIN" || current == u"CHECKBOX") {
        main->setProperty("DataField", campo->Nome());
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        caption->setText(QString());
        if (auto *c = qobject_cast<QCheckBox *>(main))
            c->setText(campo->Desc());
        else if (auto *b = qobject_cast<QPushButton *>(main))
            b->setText(campo->Desc());
        caption->setEnabled(false);
    } else if (current == u"CMBBOUNDED" || current == u"COMBOBOX") {
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        caption->setText(campo->Desc());
    } else if (current == u"NESSUNO") {
        main->setProperty("Tag", QString());
        caption->setProperty("Tag", QString());
        main->setProperty("DataField", campo->Nome());
    } else if (current == u"HIDDENFIELD") {
        main->setProperty("Tag", QString());
        caption->setProperty("Tag", mark);
        main->setProperty("DataField", campo->Nome());
        caption->setText(campo->Desc());
        if (desc)
            desc->setProperty("Tag", mark);
    } else {
        main->setProperty("DataField", campo->Nome());
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        caption->setText(campo->Desc());
        if (desc)
            desc->setProperty("Tag", mark);
    }
    caption->setCursorPosition(0);
    caption->setFocusPolicy(Qt::NoFocus);

    if (word == u"LOCKEDFIELD")
        main->setEnabled(false);
    // Key fields cannot be changed on a saved row.
    const QString field = main->property("DataField").toString().toUpper();
    for (const QString &id : keyIds()) {
        if (!field.isEmpty() && field == id.toUpper()) {
            main->setEnabled(false);
            if (desc)
                desc->setEnabled(false);
        }
    }
}

QStringList FrmEditTab::keyIds() const
{
    QStringList ids;
    if (m_rec && m_rec->Indice())
        for (const auto &n : *m_rec->Indice()->NomiCampi())
            ids << n->ID();
    return ids;
}

} // namespace Norvix
