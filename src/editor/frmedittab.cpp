// The editor window: fixed controls, geometry in twips, lifecycle.

#include "editor/frmedittab.h"

#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>

#include <cmath>

namespace Norvix {

namespace {
// The design's inner size of the window: the button panel at the right edge, as tall as the window.
constexpr int kDesignWidth = Layout::Design::buttonPanel.left + Layout::Design::buttonPanel.width;
constexpr int kDesignHeight = Layout::Design::buttonPanel.height;
// Height of the row of tabs, and the frame around the pages.
constexpr int kTabsHeight = Layout::Design::labelTop - Layout::Design::tabStrip.top - 0;
constexpr int kFrame = 30;
const char *const kCaptions[5] = {"&Nuovo", "&Conferma", "&Annulla", "&Elimina", "&Fine"};
} // namespace

FrmEditTab::FrmEditTab(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmEditTab"));
    QFont f = font();
    f.setPointSize(9);
    setFont(f);

    m_formWidth = kDesignWidth;
    m_formHeight = kDesignHeight;
    m_listRect = Layout::Design::recordList;
    m_tabRect = Layout::Design::tabStrip;
    m_panelRect = Layout::Design::buttonPanel;
    for (int i = 0; i < 5; ++i)
        m_buttonRects[i] = Layout::Design::buttons[i];

    m_list = new RecordListView(this);
    m_list->setObjectName(QStringLiteral("LstSelect"));
    m_list->setAccessibleName(QStringLiteral("Elenco dei record"));
    connect(m_list, &RecordListView::currentRowChanged, this, [this](int row) {
        if (row >= 0 && !m_applying)
            LstSelect_Click();
    });

    m_tabFrame = new QFrame(this);
    m_tabFrame->setObjectName(QStringLiteral("TabPageFrame"));
    m_tabFrame->setFrameShape(QFrame::StyledPanel);
    m_tabs = new QTabBar(this);
    m_tabs->setObjectName(QStringLiteral("TabPage"));
    m_tabs->setExpanding(false);
    m_tabs->setDrawBase(false);
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int) { TabPage_Click(); });

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("PicButton"));
    for (int i = 0; i < 5; ++i) {
        auto *b = new QPushButton(QString::fromUtf8(kCaptions[i]), m_panel);
        b->setObjectName(QStringLiteral("CmdButton%1").arg(i));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, i] { CmdButton_Click(i); });
        m_buttons[i] = b;
    }

    m_lblScala = new QLabel(this);
    m_lblScala->setObjectName(QStringLiteral("LblScala"));
    m_lblScala->hide();

    // Element 0 of every array is the template: never shown, never bound.
    TxtText.resize(1);
    TxtNumeric.resize(1);
    TxtDate.resize(1);
    txtFile.resize(1);
    TxtUMOD.resize(1);
    TxtLabel.resize(1);
    TxtDesc.resize(1);
    TxtMemo.resize(1);
    ChkBoolean.resize(1);
    CmbBounded.resize(1);
    CmdShowBin.resize(1);

    SETPROP(); // as the window loads
    applyGeometry();
}

FrmEditTab::~FrmEditTab()
{
    if (!m_unloaded)
        Form_Unload();
}

QRect FrmEditTab::twipsOf(QWidget *control) const
{
    const Layout::Rect r = m_twips.value(control);
    return QRect(r.left, r.top, r.width, r.height);
}

void FrmEditTab::placeTwips(QWidget *w, const Layout::Rect &r)
{
    m_twips.insert(w, r);
    const double tx = screenService().twipsPerPixelX();
    const double ty = screenService().twipsPerPixelY();
    w->setGeometry(int(std::lround(r.left / tx)), int(std::lround(r.top / ty)), int(std::lround(r.width / tx)),
                   int(std::lround(r.height / ty)));
}

void FrmEditTab::applyGeometry()
{
    m_applying = true;
    const double tx = screenService().twipsPerPixelX();
    const double ty = screenService().twipsPerPixelY();
    resize(int(std::lround(m_formWidth / tx)), int(std::lround(m_formHeight / ty)));
    placeTwips(m_list, m_listRect);
    placeTwips(m_tabs, Layout::Rect{m_tabRect.left, m_tabRect.top, m_tabRect.width, kTabsHeight});
    placeTwips(m_tabFrame, Layout::Rect{m_tabRect.left, m_tabRect.top + kTabsHeight - kFrame, m_tabRect.width,
                                        std::max(0, m_tabRect.height - kTabsHeight + kFrame)});
    m_tabFrame->lower();
    placeTwips(m_panel, m_panelRect);
    for (int i = 0; i < 5; ++i)
        placeTwips(m_buttons[i], m_buttonRects[i]);
    m_applying = false;
}

Layout::Rect FrmEditTab::tabClient() const
{
    return Layout::Rect{m_tabRect.left + kFrame, m_tabRect.top + kTabsHeight, m_tabRect.width - 2 * kFrame,
                        m_tabRect.height - kTabsHeight - kFrame};
}

int FrmEditTab::textWidth(const QString &text) const
{
    // The measuring label: its width for a caption, in twips, with room for the margins a text box
    // keeps around its text.
    m_lblScala->setText(text);
    const int px = m_lblScala->fontMetrics().horizontalAdvance(text) + 8;
    return Layout::roundTwips(px * screenService().twipsPerPixelX());
}

void FrmEditTab::SETPROP()
{
    for (int i = 0; i < 5; ++i) {
        if (m_buttonTopRatio[i] == 0)
            m_buttonTopRatio[i] = double(m_buttonRects[i].top) / m_panelRect.height;
        if (m_buttonHeightRatio[i] == 0)
            m_buttonHeightRatio[i] = double(m_buttonRects[i].height) / m_panelRect.height;
    }
    if (m_panelHeightRatio == 0)
        m_panelHeightRatio = double(Layout::Design::buttonPanel.height) / kDesignHeight;
    if (m_pageWidthRatio == 0)
        m_pageWidthRatio = double(Layout::Design::tabStrip.width) / kDesignWidth;
    if (m_pageHeightRatio == 0)
        m_pageHeightRatio = double(Layout::Design::tabStrip.height) / kDesignHeight;
    if (m_labelLeft == 0)
        m_labelLeft = Layout::Design::labelLeft;
    if (m_labelTop == 0)
        m_labelTop = Layout::Design::labelTop;
    if (m_panelWidth == 0)
        m_panelWidth = m_panelRect.width + 15;
}

void FrmEditTab::SCREENMODE(int width, int height)
{
    const QRect screen = screenService().screenGeometry();
    const double tx = screenService().twipsPerPixelX();
    const double ty = screenService().twipsPerPixelY();
    move(screen.topLeft());
    if (width == 0 || height == 0) {
        m_formHeight = Layout::roundTwips(screen.height() * ty);
        m_formWidth = Layout::roundTwips(screen.width() * tx);
    } else {
        m_formHeight = Layout::roundTwips(height * ty);
        m_formWidth = Layout::roundTwips(width * tx);
    }
    applyGeometry();
}

void FrmEditTab::REPROP()
{
    m_panelRect.height = Layout::roundTwips(m_formHeight * m_panelHeightRatio);
    m_panelRect.left = m_formWidth - m_panelWidth;
    m_tabRect.width = m_panelRect.left - 100;
    m_tabRect.height = m_panelRect.height - m_tabRect.top;
    m_listRect.width = m_tabRect.width;
    PicButton_Resize();
    applyGeometry();
}

void FrmEditTab::PicButton_Resize()
{
    for (int i = 0; i < 5; ++i) {
        m_buttonRects[i].top = Layout::roundTwips(m_panelRect.height * m_buttonTopRatio[i]);
        m_buttonRects[i].height = Layout::roundTwips(m_panelRect.height * m_buttonHeightRatio[i]);
    }
}

void FrmEditTab::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_applying)
        return;
    // The user resized the window: the panel and the pages follow, the fields stay where they are.
    const int w = Layout::roundTwips(width() * screenService().twipsPerPixelX());
    const int h = Layout::roundTwips(height() * screenService().twipsPerPixelY());
    if (w != m_formWidth || h != m_formHeight) {
        m_formWidth = w;
        m_formHeight = h;
        REPROP();
    }
}

void FrmEditTab::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Activation: back on the row of the recordset; an empty table puts the focus on the first field.
    if (m_recordset) {
        // A pending new row or change is never dropped by showing the window.
        if (m_recordset->editMode() == EditMode::None) {
            try {
                // The row shown is read again, never swapped for the table's first row (the
                // editor opened on a key shows a row of the whole table).
                if (m_recordset->hasCurrentRow())
                    m_recordset->setBookmark(m_recordset->Bookmark());
                else
                    m_recordset->MoveFirst();
            } catch (const Error &) {
            }
        }
        if (m_recordset->Eof() || m_recordset->editMode() == EditMode::Add)
            CTRLSETFOCUS(m_firstControl);
    }
    Shared::EditorVisible = true;
}

void FrmEditTab::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    emit Hidden();
}

void FrmEditTab::closeEvent(QCloseEvent *event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    if (m_modified && msgBox(QStringLiteral("Annulli le modifiche ?"), MsgButtons::OkCancel, QStringLiteral("ATTENZIONE !"))
                          == MsgAnswer::Cancel) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
    QDialog::closeEvent(event);
}

void FrmEditTab::Form_Unload()
{
    m_unloaded = true;
    m_rec.reset();
    m_firstControl = nullptr;
    if (m_recordset) {
        m_recordset->Close();
        m_recordset.reset();
    }
    if (m_connection) {
        m_connection->Close();
        m_connection.reset();
    }
    while (m_tabs->count() > 0)
        m_tabs->removeTab(0);
    Shared::EditorVisible = false;
    emit CloseEditor();
}

} // namespace Norvix
