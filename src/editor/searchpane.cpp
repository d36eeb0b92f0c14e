#include "editor/searchpane.h"
#include "platform/language.h"

#include "editor/commandpanel.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/frmedittab_p.h"
#include "editor/lookups.h"
#include "editor/pagelayout.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "editor/windowlayout.h"
#include "platform/connection.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "session/rowsession.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QShortcut>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace Norvix {

namespace {

// A field as a CSV file holds it: quoted when it holds the separator, a quote or a line break.
QString csvField(const QString &text)
{
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QByteArray csvLine(const QStringList &fields)
{
    QStringList out;
    out.reserve(fields.size());
    for (const QString &f : fields)
        out << csvField(f);
    return (out.join(u';') + QStringLiteral("\r\n")).toUtf8();
}

// What a typed text may hold: digits and the regional separators for a number, digits and "/" for
// a date.
QValidator *keyFilter(const CampoPtr &campo, QObject *parent)
{
    if (!campo)
        return nullptr;
    const QString type = campo->TIPO().trimmed().toUpper();
    static const QStringList numbers{"LONG", "INTEGER", "BYTE", "SINGLE", "DOUBLE", "CURRENCY", "DECIMAL", "AUTOINC", "COUNTER"};
    if (type == u"DATE")
        return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9/]*")), parent);
    if (numbers.contains(type))
        return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-+0-9.,]*")), parent);
    return nullptr;
}

QString textOf(const QWidget *w)
{
    if (const auto *combo = qobject_cast<const QComboBox *>(w))
        return combo->currentText();
    if (const auto *line = qobject_cast<const QLineEdit *>(w))
        return line->text();
    return QString();
}

} // namespace

SearchPane::SearchPane(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls)) {}

void SearchPane::create()
{
    m_cerca = new QPushButton(nxTr("Ce&rca"), m.panel.frame());
    m_cerca->setObjectName(QStringLiteral("CmdCerca"));
    m_cerca->setAutoDefault(false);
    QObject::connect(m_cerca, &QPushButton::clicked, &m.window, underWay(&SearchPane::open));
    auto *shortcut = new QShortcut(QKeySequence::Find, &m.window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &m.window, underWay(&SearchPane::open));

    m_frame = new QFrame(&m.window);
    m_frame->setObjectName(QStringLiteral("FraRicerca"));
    m_frame->setFrameShape(QFrame::StyledPanel);
    m_frame->hide();
    auto *rows = new QVBoxLayout(m_frame);
    rows->setContentsMargins(4, 3, 4, 3);
    rows->setSpacing(3);
    auto *top = new QHBoxLayout;
    m_top = top;
    m_layouts = new QComboBox(m_frame);
    m_layouts->setObjectName(QStringLiteral("CboRicerca"));
    m_layouts->setAccessibleName(nxTr("Ricerca"));
    top->addWidget(m_layouts, 0, Qt::AlignLeft);
    m_inputsBox = new QWidget(m_frame);
    auto *inputs = new QVBoxLayout(m_inputsBox); // rows of inputs, as many as the width asks
    inputs->setContentsMargins(0, 0, 0, 0);
    inputs->setSpacing(3);
    top->addWidget(m_inputsBox, 1);
    rows->addLayout(top);
    auto *bottom = new QHBoxLayout;
    const auto button = [&](const char *name, const char *caption) {
        auto *b = new QPushButton(nxTr(caption), m_frame);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        bottom->addWidget(b);
        return b;
    };
    m_trova = button("CmdTrova", NX_NOOP("&Trova"));
    m_tutti = button("CmdTutti", NX_NOOP("T&utti"));
    m_esporta = button("CmdEsporta", NX_NOOP("E&sporta…"));
    m_trovati = new QLabel(m_frame);
    m_trovati->setObjectName(QStringLiteral("LblTrovati"));
    bottom->addWidget(m_trovati, 1);
    rows->addLayout(bottom);
    QObject::connect(m_trova, &QPushButton::clicked, &m.window, underWay(&SearchPane::find));
    QObject::connect(m_tutti, &QPushButton::clicked, &m.window, underWay(&SearchPane::end));
    QObject::connect(m_esporta, &QPushButton::clicked, &m.window, underWay(&SearchPane::exportRows));
    QObject::connect(m_layouts, &QComboBox::activated, &m.window, [this](int index) {
        const auto busy = m_calls.busy();
        chooseLayout(index);
    });
    for (QWidget *w : {static_cast<QWidget *>(m_layouts), static_cast<QWidget *>(m_trova),
                       static_cast<QWidget *>(m_tutti), static_cast<QWidget *>(m_esporta)})
        w->installEventFilter(&m.window);
}

std::function<void()> SearchPane::underWay(void (SearchPane::*action)())
{
    return [this, action] {
        const auto busy = m_calls.busy();
        (this->*action)();
    };
}

void SearchPane::load()
{
    if (!m.state.rec)
        return;
    m_all = searchLayouts(*m.state.rec, m.state.descField);
    m_layouts->clear();
    for (const SearchLayout &l : std::as_const(m_all))
        m_layouts->addItem(l.caption);
    const int standard = standardSearch(m_all, *m.state.rec);
    m_layouts->setCurrentIndex(standard);
    chooseLayout(standard);
}

void SearchPane::chooseLayout(int index)
{
    qDeleteAll(m_cells);
    m_cells.clear();
    m_inputs.clear();
    if (index < 0 || index >= m_all.size())
        return;
    const SearchLayout &layout = m_all[index];
    for (int i = 0; i < layout.inputs.size(); ++i) {
        const SearchField &f = layout.inputs[i];
        // A caption and its input, kept together when the inputs take several rows.
        auto *cell = new QWidget(m_inputsBox);
        auto *pair = new QHBoxLayout(cell);
        pair->setContentsMargins(0, 0, 0, 0);
        QString shownCaption = inputCaption(f);
        shownCaption.replace(u'&', QStringLiteral("&&")); // a "&" of the descriptor is no key
        auto *caption = new QLabel(shownCaption, cell);
        QWidget *input = f.isLookup() && f.campo && !f.campo->RecRif().isEmpty() ? lookupInput(f.campo, cell)
                                                                                 : lineInput(f.campo, cell);
        input->setObjectName(QStringLiteral("Ricerca%1").arg(i));
        input->setAccessibleName(inputCaption(f));
        input->installEventFilter(&m.window);
        caption->setBuddy(input);
        pair->addWidget(caption);
        pair->addWidget(input, 1);
        m_cells << cell;
        m_inputs << input;
    }
    arrange();
    if (m_frame->isVisible())
        fitPanel();
}

QWidget *SearchPane::lookupInput(const CampoPtr &campo, QWidget *parent)
{
    // Listed and typed like the editor's lookups: "[code] description", a code or words of the
    // description typed; a dependent lookup lists the rows of the value in its source's input.
    auto *combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    try {
        for (const QString &item : m.lookups.completionItems(campo, QString()))
            if (item.startsWith(u'['))
                combo->addItem(item);
        combo->setProperty("Completing", combo->count() >= Lookups::kCompletionRows); // it lists no more
        combo->setCurrentIndex(-1);
    } catch (const Error &) {
        // An empty list; a typed code still searches.
    }
    m.lookups.searchAsTyped(combo, campo, sourceOf(campo));
    combo->lineEdit()->installEventFilter(&m.window);
    return combo;
}

std::function<QString()> SearchPane::sourceOf(const CampoPtr &campo)
{
    if (campo->SourceRif().isEmpty())
        return [] { return QString(); };
    return [this, source = campo->SourceRif()] {
        const int layout = m_layouts->currentIndex();
        for (int i = 0; layout >= 0 && layout < m_all.size() && i < m_inputs.size() && i < m_all[layout].inputs.size(); ++i)
            if (m_all[layout].inputs[i].field.compare(source, Qt::CaseInsensitive) == 0)
                return typedCode(textOf(m_inputs[i]));
        return QString();
    };
}

QWidget *SearchPane::lineInput(const CampoPtr &campo, QWidget *parent)
{
    auto *line = new QLineEdit(parent);
    if (QValidator *v = keyFilter(campo, line))
        line->setValidator(v);
    // Wide enough for a date or a number of the field whole; a dozen letters of a text.
    QStringList longest{QString(8, u'X')};
    if (campo) {
        const FieldKind kind = fieldKindOf(campo->ObjType());
        if (kind == FieldKind::Date || kind == FieldKind::Numeric || kind == FieldKind::Umod)
            longest = Layout::longestValues(*campo, kind, false);
        else if (campo->MaxLen() > 0)
            longest = QStringList{QString(std::clamp(int(campo->MaxLen()), 4, 12), u'X')};
    }
    line->setMinimumWidth(m.layout.inputPixels(longest));
    return line;
}

void SearchPane::arrange()
{
    // Beside the list of layouts when they all fit there, else under it, as wide as the panel;
    // each row holds as many inputs as fit.
    constexpr int kSpacing = 6;
    const int panel = int(std::lround(m.layout.twipsOf(m.list.view()).width() / screenService().twipsPerPixelX()));
    const int inner = panel - 2 * m_frame->frameWidth() - 8;
    const int beside = inner - kSpacing - m_layouts->sizeHint().width();
    int total = 0;
    for (const QWidget *cell : std::as_const(m_cells))
        total += (total > 0 ? kSpacing : 0) + cell->minimumSizeHint().width();
    auto *frameRows = static_cast<QVBoxLayout *>(m_frame->layout());
    frameRows->removeWidget(m_inputsBox);
    m_top->removeWidget(m_inputsBox);
    if (total > beside)
        frameRows->insertWidget(1, m_inputsBox);
    else
        m_top->addWidget(m_inputsBox, 1);
    const int room = total > beside ? inner : beside;

    auto *rows = static_cast<QVBoxLayout *>(m_inputsBox->layout());
    while (QLayoutItem *row = rows->takeAt(0))
        delete row;
    QHBoxLayout *row = nullptr;
    int used = 0;
    for (QWidget *cell : std::as_const(m_cells)) {
        const int width = cell->minimumSizeHint().width();
        if (!row || used + kSpacing + width > room) {
            row = new QHBoxLayout;
            row->setSpacing(kSpacing);
            rows->addLayout(row);
            used = 0;
        } else {
            used += kSpacing;
        }
        row->addWidget(cell, width);
        used += width;
    }
}

void SearchPane::fitPanel()
{
    arrange();
    m.layout.setSearchPanel(m_frame, Layout::roundTwips(m_frame->sizeHint().height() * screenService().twipsPerPixelY()));
}

void SearchPane::open()
{
    if (m_calls.closed() || m_all.isEmpty())
        return;
    m_frame->show();
    fitPanel();
    if (!m_inputs.isEmpty())
        m_inputs.constFirst()->setFocus(Qt::ShortcutFocusReason);
    else
        m_layouts->setFocus(Qt::ShortcutFocusReason);
}

void SearchPane::settleLookups()
{
    // A lookup's text that finds one row stands for that row's code.
    const int layout = m_layouts->currentIndex();
    for (int i = 0; layout >= 0 && layout < m_all.size() && i < m_inputs.size() && i < m_all[layout].inputs.size(); ++i) {
        auto *combo = qobject_cast<QComboBox *>(m_inputs[i]);
        const CampoPtr campo = m_all[layout].inputs[i].campo;
        if (!combo || !campo)
            continue;
        try {
            if (const auto j = m.lookups.settleTyped(combo, campo, sourceOf(campo)); j && combo->itemText(*j) != combo->currentText())
                combo->setCurrentIndex(*j);
        } catch (const Error &) {
            // The text searches as it is.
        }
    }
}

QStringList SearchPane::typed() const
{
    QStringList texts;
    for (const QWidget *w : m_inputs)
        texts << textOf(w);
    return texts;
}

void SearchPane::find()
{
    const int index = m_layouts->currentIndex();
    if (m_calls.closed() || index < 0 || index >= m_all.size())
        return;
    if (m.state.modified) { // the rows found would replace the line of a row being changed
        msgBox(nxTr("Confermare o annullare le modifiche prima di cercare."), MsgButtons::OkOnly,
               nxTr("ATTENZIONE !"));
        return;
    }
    ListFilter filter;
    try {
        settleLookups();
        filter = searchFilter(*m.data.connection(), *m.session.table(), m_all[index], typed());
    } catch (const DataError &e) {
        msgBox(e.description(), MsgButtons::OkOnly, nxTr("ATTENZIONE !"));
        return;
    }
    std::unique_ptr<RecordListModel> results;
    try {
        results = std::make_unique<RecordListModel>(m.data.connection(), m.session.tableName(), m.session.keyColumns(), filter);
    } catch (const DataError &e) {
        m_calls.readFailed(e);
        return;
    }
    QObject::connect(results.get(), &RecordListModel::counted, &m.window, [this](qint64 rows) { count(rows); });
    const Applying applying(m.state);
    if (!m_active) {
        const int row = m.list.view()->currentRow();
        m_shownKey = row >= 0 ? m.list.view()->keyAt(row) : QVariantList();
        m_whole = m.list.view()->takeRecordModel(); // back as it is when the search ends
        m_changed = false;
    }
    m_active = true;
    m_filter = filter;
    m_trovati->setText(nxTr("Ricerca in corso…"));
    RecordListView *list = m.list.view();
    list->setRecordModel(std::move(results));
    // Each column as wide as its field's texts usually are, or its caption: measured from the
    // descriptor, since reading lines to measure them would wait for the search.
    const QFontMetrics metrics = list->fontMetrics();
    const auto campi = m.state.rec->Campi();
    for (int i = 0; i < filter.columns.size(); ++i) {
        const ListFilter::Column &c = filter.columns[i];
        const auto campo = campi->Contains(c.name) ? campi->Item(c.name) : nullptr;
        const bool text = campo && campo->TIPO().toUpper() == u"TEXT";
        const int chars = text ? std::clamp(campo->MaxLen(), 4, 30) : 12;
        list->horizontalHeader()->resizeSection(
            i, std::max(metrics.horizontalAdvance(c.caption) + 16, metrics.averageCharWidth() * chars + 8));
    }
}

void SearchPane::count(qint64 rows)
{
    m_trovati->setText(rows < 0 ? nxTr("Ricerca non riuscita") : nxTr("Trovati %1").arg(rows));
}

void SearchPane::end()
{
    const bool wasActive = m_active;
    m_active = false;
    m_trovati->clear();
    m_frame->hide();
    m.layout.setSearchPanel(nullptr, 0);
    if (!wasActive || m_calls.closed())
        return;
    // The row shown now (a result selected since), or the one shown when the search began.
    QVariantList key = m_shownKey;
    if (Recordset *rs = m.session.recordset(); rs && rs->hasCurrentRow())
        key = rs->Bookmark();
    // The whole list as it was, read again only when rows changed meanwhile.
    {
        const Applying applying(m.state);
        m.list.view()->setRecordModel(std::move(m_whole));
    }
    if (!m.list.view()->recordModel() || m_changed)
        m.list.RIEMPILISTA();
    // That row, as stored, on its line.
    m.list.showRow(key);
    if (m.list.view()->isEnabled())
        m.list.view()->setFocus(Qt::OtherFocusReason);
}

bool SearchPane::run(int layout, const QStringList &texts)
{
    int index = -1;
    for (int i = 0; i < m_all.size(); ++i)
        if (m_all[i].key == QString::number(layout))
            index = i;
    if (index < 0) {
        msgBox(nxTr("La ricerca %1 non esiste per %2.").arg(layout).arg(m.state.recordName), MsgButtons::OkOnly,
               nxTr("ATTENZIONE !"));
        return false;
    }
    m_layouts->setCurrentIndex(index);
    chooseLayout(index);
    open();
    for (int i = 0; i < m_inputs.size() && i < texts.size(); ++i) {
        if (auto *combo = qobject_cast<QComboBox *>(m_inputs[i]))
            combo->setEditText(texts[i]);
        else if (auto *line = qobject_cast<QLineEdit *>(m_inputs[i]))
            line->setText(texts[i]);
    }
    find();
    return true;
}

bool SearchPane::filter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_frame->isVisible())
        return false;
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || (w != m_frame && !m_frame->isAncestorOf(w)))
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Escape) {
        end();
        return true;
    }
    // Enter finds, in an input; it never presses the editor's default button.
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !qobject_cast<QPushButton *>(w)) {
        find();
        return true;
    }
    return false;
}

QList<ListFilter::Column> SearchPane::allColumns() const
{
    QList<ListFilter::Column> columns;
    const auto table = m.session.table();
    for (const auto &c : *m.state.rec->Campi())
        if (table->indexOf(c->Nome()) >= 0)
            columns << ListFilter::Column{c->Nome(), c->Desc().isEmpty() ? c->Nome() : c->Desc(), c->Format()};
    return columns;
}

void SearchPane::exportRows()
{
    if (m_calls.closed())
        return;
    const QString folder = QFileInfo(m.data.connection()->params().database).absolutePath();
    QString path = fileDialogService().saveFile(nxTr("Esporta"), folder, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    ListFilter filter = m_active ? m_filter : ListFilter{};
    if (!m_active)
        filter.columns = allColumns();
    std::shared_ptr<const RecordListModel> rows;
    try {
        rows = std::make_shared<RecordListModel>(m.data.connection(), m.session.tableName(), m.session.keyColumns(), filter,
                                                 nullptr, false);
    } catch (const DataError &e) {
        m_calls.readFailed(e);
        return;
    }
    QStringList captions;
    for (const auto &c : std::as_const(filter.columns))
        captions << c.caption;
    const qint64 total = m_active && m.list.view()->recordModel() && m.list.view()->recordModel()->isCounted()
                             ? m.list.view()->count()
                             : -1;

    // Written on a thread of its own, with a reader of its own, into a file renamed over the one
    // chosen only once every row is in.
    std::atomic<bool> cancel{false};
    std::atomic<qint64> written{0};
    QString failure;
    const auto connection = m.data.connection();
    QThread *worker = QThread::create([&, params = connection->params()] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            failure = file.errorString();
            return;
        }
        file.write("\xEF\xBB\xBF");
        file.write(csvLine(captions));
        QString readError;
        bool read = false;
        try {
            const auto reader = Connection::open(params, Access::ReadOnly);
            read = rows->readAll(*reader, 1000, [&](const QList<QStringList> &chunk) {
                for (const QStringList &cells : chunk)
                    file.write(csvLine(cells));
                written += chunk.size();
                return !cancel;
            }, &readError);
        } catch (const Error &e) {
            readError = e.message();
        }
        if (!read)
            failure = readError;
        else if (!cancel && !file.commit())
            failure = file.errorString();
        // Given up or failed: QSaveFile leaves the chosen file as it was.
    });
    QProgressDialog progress(nxTr("Esportazione in corso…"), nxTr("Annulla"), 0,
                             total > 0 ? int(std::min<qint64>(total, INT_MAX)) : 0, &m.window);
    progress.setObjectName(QStringLiteral("FrmEsporta"));
    progress.setWindowTitle(nxTr("Esporta"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    QObject::connect(&progress, &QProgressDialog::canceled, &m.window, [&cancel] { cancel = true; });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &m.window, [&] {
        if (total > 0)
            progress.setValue(int(std::min<qint64>(written, total)));
    });
    tick.start(100);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    tick.stop();
    progress.reset();
    if (cancel)
        m_trovati->setText(nxTr("Esportazione annullata"));
    else if (!failure.isEmpty())
        msgBox(nxTr("Impossibile esportare in %1: %2").arg(QDir::toNativeSeparators(path), failure),
               MsgButtons::OkOnly, nxTr("ATTENZIONE !"));
    else
        m_trovati->setText(nxTr("Esportate %1 righe").arg(written.load()));
}

} // namespace Norvix
