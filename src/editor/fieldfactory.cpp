#include "editor/fieldfactory.h"
#include "platform/language.h"

#include "session/rowsession.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/lookups.h"
#include "editor/windowlayout.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>

namespace Norvix {

FieldFactory::FieldFactory(QWidget &window, EditorState &state, const RowSession &session, FieldSet &fields,
                           WindowLayout &layout, Lookups &lookups, Calls calls)
    : m_window(window), m_state(state), m_session(session), m_fields(fields), m_layout(layout), m_lookups(lookups),
      m_calls(std::move(calls))
{
}

template <typename T>
T *FieldFactory::element(QVector<QPointer<T>> &array, const QString &arrayName, int index, const Layout::Rect &size)
{
    if (array.size() <= index)
        array.resize(index + 1);
    if (array[index])
        return array[index];
    auto *w = new T(&m_window);
    w->setObjectName(arrayName + QString::number(index));
    w->setProperty("Index", index);
    w->setProperty("DataField", QString());
    w->setProperty("Tag", QString());
    w->hide(); // shown by the tab switching
    w->installEventFilter(&m_window);
    m_layout.place(w, size);
    array[index] = w;
    m_fields.made(w);
    return w;
}

bool FieldFactory::mayHoldTime(const QString &column) const
{
    // A column of dates alone shows no time; any other may (a text, a date and time, unknown).
    const auto table = m_session.table();
    const int i = table ? table->indexOf(column) : -1;
    return i < 0 || table->columns.at(i).kind != ColumnKind::Date;
}

void FieldFactory::METTICAMPI()
{
    m_layout.startPages();
    m_state.canShow = false;
    const auto campi = m_state.rec->Campi();
    for (int i = 1; i <= campi->Count(); ++i)
        MettiCampo(campi->Item(i));
    if (!m_state.canShow)
        msgBox(nxTr("Impossibile visualizzare l'editor"), MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
}

void FieldFactory::MettiCampo(const CampoPtr &campo)
{
    using Layout::Kind;
    Layout::PageLayout &pages = *m_layout.pages();
    const int i = campo->Indice();
    const int p = Layout::pageIndexOf(campo->Page());
    const QString word = campo->ObjType().toUpper();
    const Kind kind = fieldKindOf(word);
    pages.usePage(p);

    if (kind == Kind::Unknown)
        msgBox(nxTr("Incontrata  tipo control non prevista: %1.\nPer il campo: %2").arg(campo->ObjType(), campo->Nome()));
    if (kind == Kind::Umod)
        campo->setDesc(nxTr("Data ultima modifica"));

    int comboWidth = Layout::Design::combo.width;
    if (kind == Kind::Combo) {
        // The list is read first: the combo is as wide as its widest item.
        auto *c = element(m_fields.CmbBounded, QStringLiteral("CmbBounded"), i, Layout::Design::combo);
        c->setEditable(true);
        comboWidth = m_lookups.FILLCOMBO(c, campo); // a missing table or database reaches the caller
    }
    Layout::Measures measures;
    measures.caption = [this](const QString &t) { return m_layout.textWidth(t); };
    measures.input = [this](const QString &t) { return m_layout.inputWidth(t); };
    measures.comboWidth = comboWidth;
    measures.withTime = mayHoldTime(campo->Nome());
    Layout::FieldBoxes boxes = Layout::sizeField(*campo, kind, pages.fieldWidthLimit(), measures);
    if (kind == Kind::Hidden && campo->FieldRif().toString().isEmpty())
        campo->setObjType(QStringLiteral("NESSUNO")); // from here on a field that is never shown

    std::unique_ptr<FieldControl> field = makeInput(campo, kind, boxes);
    QWidget *main = field->focusTarget();
    auto *caption = element(m_fields.TxtLabel, QStringLiteral("TxtLabel"), i, boxes.caption);
    caption->setReadOnly(true);
    caption->setFrame(false);
    caption->setFocusPolicy(Qt::NoFocus);
    caption->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    QLineEdit *desc = nullptr;
    if (boxes.description) {
        desc = element(m_fields.TxtDesc, QStringLiteral("TxtDesc"), i, *boxes.description);
        desc->setReadOnly(true);
        desc->setFocusPolicy(Qt::ClickFocus); // reached by a click (for F2), never by Tab
    }
    main->setFocusPolicy(Qt::StrongFocus);
    main->setAccessibleName(campo->Desc());
    if (word != u"HIDDENFIELD" && word != u"LOCKEDFIELD" && word != u"NESSUNO" && !m_state.canShow) {
        m_state.firstControl = main;
        m_state.canShow = true;
    }

    if (campo->ObjType().toUpper() != u"NESSUNO")
        pages.place(p, boxes, kind == Kind::Hidden, campo->CodPos());
    m_layout.place(caption, boxes.caption);
    m_layout.place(main, boxes.main);
    if (desc && boxes.description)
        m_layout.place(desc, *boxes.description);
    bind(campo, main, caption, desc, Layout::tabMark(campo->Page(), pages.pageFill(p)));
    caption->setCursorPosition(0);

    if (word == u"LOCKEDFIELD")
        main->setEnabled(false);
    // Key fields cannot be changed on a saved row.
    const QString column = field->column().toUpper();
    for (const QString &id : m_state.keyIds()) {
        if (!column.isEmpty() && column == id.toUpper()) {
            main->setEnabled(false);
            if (desc)
                desc->setEnabled(false);
        }
    }
    field->setBoxes(caption, desc);
    m_fields.add(std::move(field));
}

std::unique_ptr<FieldControl> FieldFactory::makeInput(const CampoPtr &campo, Layout::Kind kind, const Layout::FieldBoxes &boxes)
{
    using Layout::Kind;
    const int i = campo->Indice();
    switch (kind) {
    case Kind::Memo: {
        auto *m = element(m_fields.TxtMemo, QStringLiteral("TxtMemo"), i, boxes.main);
        m->setProperty("MaxLen", std::max(0, int(campo->MaxLen())));
        m->setTabChangesFocus(true); // Tab goes to the next field, as from any other input
        QObject::connect(m, &QPlainTextEdit::textChanged, &m_window, [this, m] {
            if (!m->hasFocus())
                return; // set by the editor, not typed
            m_calls.cutToLength(m);
            m_calls.edited(m);
        });
        return std::make_unique<MemoField>(campo, m);
    }
    case Kind::Check: {
        auto *c = element(m_fields.ChkBoolean, QStringLiteral("ChkBoolean"), i, boxes.main);
        QObject::connect(c, &QCheckBox::clicked, &m_window, [this, c] { m_calls.edited(c); });
        return std::make_unique<BooleanField>(campo, c);
    }
    case Kind::Combo:
        return makeLookup(campo, boxes);
    case Kind::Binary: {
        auto *b = element(m_fields.CmdShowBin, QStringLiteral("CmdShowBin"), i, boxes.main);
        b->setText(nxTr("Mostra File"));
        return std::make_unique<BinaryField>(campo, b);
    }
    default:
        return makeLineInput(campo, kind, boxes);
    }
}

std::unique_ptr<FieldControl> FieldFactory::makeLineInput(const CampoPtr &campo, Layout::Kind kind,
                                                          const Layout::FieldBoxes &boxes)
{
    using Layout::Kind;
    const int i = campo->Indice();
    QLineEdit *e = nullptr;
    std::unique_ptr<FieldControl> field;
    switch (kind) {
    case Kind::Date:
        e = element(m_fields.TxtDate, QStringLiteral("TxtDate"), i, boxes.main);
        field = std::make_unique<DateField>(campo, e);
        break;
    case Kind::Numeric:
        e = element(m_fields.TxtNumeric, QStringLiteral("TxtNumeric"), i, boxes.main);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field = std::make_unique<NumericField>(campo, e);
        break;
    case Kind::File:
        e = element(m_fields.txtFile, QStringLiteral("txtFile"), i, boxes.main);
        QObject::connect(e, &QLineEdit::textEdited, &m_window, [this, e] { m_calls.chooseFile(e); }); // typing opens the dialog
        field = std::make_unique<FileField>(campo, e);
        break;
    case Kind::Umod:
        e = element(m_fields.TxtUMOD, QStringLiteral("TxtUMOD"), i, boxes.main);
        e->setReadOnly(true);
        field = std::make_unique<StampField>(campo, e);
        break;
    default:
        e = element(m_fields.TxtText, QStringLiteral("TxtText"), i, boxes.main);
        field = std::make_unique<TextField>(campo, e);
        break;
    }
    if (kind == Kind::Text || kind == Kind::Numeric)
        e->setProperty("MaxLen", std::max(0, int(campo->MaxLen()))); // see cutToLength()
    QObject::connect(e, &QLineEdit::textEdited, &m_window, [this, e] {
        m_calls.cutToLength(e);
        m_calls.edited(e);
    });
    return field;
}

std::unique_ptr<FieldControl> FieldFactory::makeLookup(const CampoPtr &campo, const Layout::FieldBoxes &boxes)
{
    const int i = campo->Indice();
    auto *c = element(m_fields.CmbBounded, QStringLiteral("CmbBounded"), i, boxes.main);
    c->setEditable(true);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QObject::connect(c, &QComboBox::currentTextChanged, &m_window, [this, c] {
        if (c->hasFocus())
            m_calls.edited(c);
    });
    QObject::connect(c, &QComboBox::activated, &m_window, [this, i] { m_calls.lookupChosen(i); });
    QObject::connect(c, &QComboBox::editTextChanged, &m_window, [this] { m_layout.tabs()->update(); });
    if (c->lineEdit())
        c->lineEdit()->installEventFilter(&m_window);
    auto *bound = element(m_fields.TxtText, QStringLiteral("TxtText"), i, Layout::Design::text);
    bound->setProperty("DataField", campo->Nome());
    bound->setVisible(false);
    // The field this combo depends on asks for a refill when it changes.
    if (!campo->SourceRif().isEmpty() && m_state.rec->Campi()->Contains(campo->SourceRif()))
        m_state.rec->Campi()->Item(campo->SourceRif())->setTag(QStringLiteral("REFILLCOMBO, %1").arg(i));
    return std::make_unique<LookupField>(campo, bound, c);
}

void FieldFactory::bind(const CampoPtr &campo, QWidget *main, QWidget *caption, QWidget *desc, const QString &mark)
{
    const QString kind = campo->ObjType().toUpper();
    auto *captionBox = qobject_cast<QLineEdit *>(caption);
    if (kind == u"CHKBOOLEAN" || kind == u"CMDSHOWBIN" || kind == u"CHECKBOX") {
        main->setProperty("DataField", campo->Nome());
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        captionBox->setText(QString());
        // A "&" of the descriptor is shown, never taken for a key of the window.
        QString text = campo->Desc();
        text.replace(u'&', QStringLiteral("&&"));
        if (auto *c = qobject_cast<QCheckBox *>(main))
            c->setText(text);
        else if (auto *b = qobject_cast<QPushButton *>(main))
            b->setText(text);
        caption->setEnabled(false);
    } else if (kind == u"CMBBOUNDED" || kind == u"COMBOBOX") {
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        captionBox->setText(campo->Desc());
    } else if (kind == u"NESSUNO") {
        main->setProperty("Tag", QString());
        caption->setProperty("Tag", QString());
        main->setProperty("DataField", campo->Nome());
    } else if (kind == u"HIDDENFIELD") {
        main->setProperty("Tag", QString());
        caption->setProperty("Tag", mark);
        main->setProperty("DataField", campo->Nome());
        captionBox->setText(campo->Desc());
        if (desc)
            desc->setProperty("Tag", mark);
    } else {
        main->setProperty("DataField", campo->Nome());
        main->setProperty("Tag", mark);
        caption->setProperty("Tag", mark);
        captionBox->setText(campo->Desc());
        if (desc)
            desc->setProperty("Tag", mark);
    }
}

} // namespace Norvix
