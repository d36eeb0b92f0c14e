#include "editor/windowlayout.h"

#include "editor/commandpanel.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/frmedittab_p.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "editor/searchpane.h"
#include "platform/language.h"
#include "platform/window.h"

#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyleOptionFrame>
#include <QLabel>
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
} // namespace

WindowLayout::WindowLayout(const Parts &parts) : m_parts(parts)
{
    m_formWidth = kDesignWidth;
    m_formHeight = kDesignHeight;
    m_listRect = Layout::Design::recordList;
    m_tabRect = Layout::Design::tabStrip;
    m_panelRect = Layout::Design::buttonPanel;
    for (int i = 0; i < 5; ++i)
        m_buttonRects[i] = Layout::Design::buttons[i];
}

void WindowLayout::create()
{
    m_tabFrame = new QFrame(&m_parts.window);
    m_tabFrame->setObjectName(QStringLiteral("TabPageFrame"));
    m_tabFrame->setFrameShape(QFrame::StyledPanel);
    m_tabs = new QTabBar(&m_parts.window);
    m_tabs->setObjectName(QStringLiteral("TabPage"));
    m_tabs->setExpanding(false);
    m_tabs->setDrawBase(false);
    QObject::connect(m_tabs, &QTabBar::currentChanged, &m_parts.window, [this](int) { TabPage_Click(); });
}

void WindowLayout::finish()
{
    m_lblScala = new QLabel(&m_parts.window);
    m_lblScala->setObjectName(QStringLiteral("LblScala"));
    m_lblScala->hide();
    m_inputProbe = new QLineEdit(&m_parts.window);
    m_inputProbe->setObjectName(QStringLiteral("TxtMisura"));
    m_inputProbe->hide();
    SETPROP(); // as the window loads
    applyGeometry();
}

QRect WindowLayout::twipsOf(QWidget *w) const
{
    const Layout::Rect r = m_twips.value(w);
    return QRect(r.left, r.top, r.width, r.height);
}

void WindowLayout::place(QWidget *w, const Layout::Rect &r)
{
    m_twips.insert(w, r);
    setPixels(w, shown(w, r));
}

void WindowLayout::setPixels(QWidget *w, const Layout::Rect &r) const
{
    const double tx = screenService().twipsPerPixelX();
    const double ty = screenService().twipsPerPixelY();
    w->setGeometry(int(std::lround(r.left / tx)), int(std::lround(r.top / ty)), int(std::lround(r.width / tx)),
                   int(std::lround(r.height / ty)));
}

int WindowLayout::wantedList() const
{
    // A header (when the list shows columns) and eight lines, inside the list's frame.
    const RecordListView *list = m_parts.list.view();
    const int px = list->verticalHeader()->defaultSectionSize() * 9 + 2 * list->frameWidth();
    return Layout::roundTwips(px * screenService().twipsPerPixelY());
}

void WindowLayout::updateGrowth()
{
    m_growth = Layout::listGrowth(m_listRect.height, wantedList(), m_searchHeight, m_formHeight, available().height());
}

QSize WindowLayout::available() const
{
    const QSize px = availableWindowSize();
    return QSize(Layout::roundTwips(px.width() * screenService().twipsPerPixelX()),
                 Layout::roundTwips(px.height() * screenService().twipsPerPixelY()));
}

void WindowLayout::keepOnScreen()
{
    const QRect area = screenService().workArea();
    QRect frame = m_parts.window.frameGeometry();
    const int wider = frame.width() - area.width();
    const int taller = frame.height() - area.height();
    if (wider > 0 || taller > 0) {
        m_parts.window.resize(m_parts.window.width() - std::max(0, wider), m_parts.window.height() - std::max(0, taller));
        frame = m_parts.window.frameGeometry();
    }
    const int left = std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width()));
    const int top = std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
    if (left != frame.left() || top != frame.top())
        m_parts.window.move(left, top);
}

Layout::Rect WindowLayout::shown(QWidget *w, const Layout::Rect &r) const
{
    if (m_growth <= 0 || w == m_searchPanel)
        return r;
    const int grow = m_growth;
    const auto down = [&](const Layout::Rect &x) { return Layout::Rect{x.left, x.top + grow, x.width, x.height}; };
    if (w == m_parts.list.view())
        return Layout::Rect{r.left, r.top + m_searchHeight, r.width, std::max(0, r.height + grow - m_searchHeight)};
    if (w == m_parts.panel.frame())
        return Layout::Rect{r.left, r.top, r.width, r.height + grow};
    if (w->parentWidget() == m_parts.panel.frame()) // the buttons under the first keep to the bottom
        return r.top > m_buttonRects[0].bottom() ? down(r) : r;
    if (w->parentWidget() == &m_parts.window) // the pages, their fields and captions
        return down(r);
    return r;
}

void WindowLayout::setSearchPanel(QWidget *panel, int height)
{
    m_searchPanel = panel;
    m_searchHeight = panel ? height : 0;
    updateGrowth();
    applyGeometry();
    if (m_parts.window.isVisible())
        keepOnScreen(); // grown downwards, it may have to move up
}

void WindowLayout::applyGeometry()
{
    const Applying applying(m_parts.state);
    const double tx = screenService().twipsPerPixelX();
    const double ty = screenService().twipsPerPixelY();
    m_parts.window.resize(int(std::lround(m_formWidth / tx)), int(std::lround((m_formHeight + m_growth) / ty)));
    place(m_parts.list.view(), m_listRect);
    place(m_tabs, Layout::Rect{m_tabRect.left, m_tabRect.top, m_tabRect.width, kTabsHeight});
    place(m_tabFrame, Layout::Rect{m_tabRect.left, m_tabRect.top + kTabsHeight - kFrame, m_tabRect.width,
                                   std::max(0, m_tabRect.height - kTabsHeight + kFrame)});
    m_tabFrame->lower();
    place(m_parts.panel.frame(), m_panelRect);
    for (int i = 1; i < 5; ++i)
        place(m_parts.panel.button(i), m_buttonRects[i]);
    // Storia, for a record that keeps history, at the foot of the first button, which gives it
    // the room (the others stay where they are).
    Layout::Rect nuovo = m_buttonRects[0];
    if (m_parts.panel.showsHistory()) {
        const int height = std::clamp(nuovo.height / 4, 240, 375);
        place(m_parts.panel.historyButton(), Layout::Rect{nuovo.left, nuovo.bottom() - height, nuovo.width, height});
        nuovo.height -= height + 90;
    }
    place(m_parts.panel.button(0), nuovo);
    // Cerca under the first button, in the room before the second.
    if (QPushButton *cerca = m_parts.search.button()) {
        const Layout::Rect &first = m_buttonRects[0];
        const int room = m_buttonRects[1].top - first.bottom();
        const int height = std::clamp(room - 90, 240, 375);
        place(cerca, Layout::Rect{first.left, first.bottom() + std::max(0, (room - height) / 2), first.width, height});
    }
    if (m_searchPanel && m_searchHeight > 0)
        place(m_searchPanel, Layout::Rect{m_listRect.left, m_listRect.top, m_listRect.width, m_searchHeight});
    // A widget filling a page reaches the page's right and bottom edges.
    const Layout::Rect client = tabClient();
    for (QWidget *w : fillers()) {
        Layout::Rect &r = m_twips[w];
        r.width = std::max(0, client.right() - Layout::kGap - r.left);
        // The frame's bottom: what the list grows by moves the pages and the frame down alike.
        r.height = std::max(Layout::kBlockHeight / 2, m_tabRect.bottom() - kFrame - Layout::kGap / 2 - r.top);
    }
    // The fields too, from where they were placed, moved down by what the list grew by (the
    // children only: a widget dropped since is no longer among them).
    for (QWidget *w : m_parts.window.findChildren<QWidget *>())
        if (m_twips.contains(w))
            setPixels(w, shown(w, m_twips.value(w)));
}

Layout::Rect WindowLayout::tabClient() const
{
    // Less the room the list will grow by, which moves the pages down.
    return Layout::Rect{m_tabRect.left + kFrame, m_tabRect.top + kTabsHeight, m_tabRect.width - 2 * kFrame,
                        m_tabRect.height - kTabsHeight - kFrame - m_listReserve};
}

int WindowLayout::textWidth(const QString &text) const
{
    // The measuring label: its width for a caption, in twips, with room for the margins a text box
    // keeps around its text.
    m_lblScala->setText(text);
    const int px = m_lblScala->fontMetrics().horizontalAdvance(text) + 8;
    return Layout::roundTwips(px * screenService().twipsPerPixelX());
}

int WindowLayout::inputPixels(const QStringList &texts) const
{
    const QFontMetrics metrics = m_inputProbe->fontMetrics();
    QChar widest = u'0';
    for (char16_t c = u'1'; c <= u'9'; ++c)
        if (metrics.horizontalAdvance(QChar(c)) > metrics.horizontalAdvance(widest))
            widest = QChar(c);
    int text = 0;
    for (QString t : texts) {
        for (QChar &c : t)
            if (c.isDigit())
                c = widest;
        text = std::max(text, metrics.horizontalAdvance(t));
    }
    // The line edit's own margins (2 pixels a side) and its cursor, then the style's frame.
    QStyleOptionFrame option;
    option.initFrom(m_inputProbe);
    option.lineWidth = m_inputProbe->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, m_inputProbe);
    option.state |= QStyle::State_Sunken;
    const QSize contents(text + 2 * 2 + 1, metrics.height());
    return m_inputProbe->style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, m_inputProbe).width();
}

int WindowLayout::inputWidth(const QString &text) const
{
    return int(std::ceil(inputPixels({text}) * screenService().twipsPerPixelX()));
}

void WindowLayout::SETPROP()
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

void WindowLayout::SCREENMODE(int width, int height)
{
    // The whole room the screen leaves a window, or the size asked within it.
    const QSize most = available();
    m_parts.window.move(screenService().workArea().topLeft()); // where its frame starts
    m_formHeight = most.height();
    m_formWidth = most.width();
    if (width != 0 && height != 0) {
        m_formHeight = std::min(m_formHeight, Layout::roundTwips(height * screenService().twipsPerPixelY()));
        m_formWidth = std::min(m_formWidth, Layout::roundTwips(width * screenService().twipsPerPixelX()));
    }
    m_growth = 0;
    applyGeometry();
}

void WindowLayout::REPROP()
{
    m_panelRect.height = Layout::roundTwips(m_formHeight * m_panelHeightRatio);
    m_panelRect.left = m_formWidth - m_panelWidth;
    m_tabRect.width = m_panelRect.left - 100;
    m_tabRect.height = m_panelRect.height - m_tabRect.top;
    m_listRect.width = m_tabRect.width;
    PicButton_Resize();
    applyGeometry();
}

void WindowLayout::PicButton_Resize()
{
    for (int i = 0; i < 5; ++i) {
        m_buttonRects[i].top = Layout::roundTwips(m_panelRect.height * m_buttonTopRatio[i]);
        m_buttonRects[i].height = Layout::roundTwips(m_panelRect.height * m_buttonHeightRatio[i]);
    }
}

void WindowLayout::resized()
{
    if (m_parts.state.applying)
        return;
    // The panel and the pages follow the window; the fields stay where they are.
    const int w = Layout::roundTwips(m_parts.window.width() * screenService().twipsPerPixelX());
    const int h = Layout::roundTwips(m_parts.window.height() * screenService().twipsPerPixelY()) - m_growth;
    if (w != m_formWidth || h != m_formHeight) {
        m_formWidth = w;
        m_formHeight = h;
        REPROP();
    }
}

Layout::PageLayout &WindowLayout::startPages()
{
    // The pages leave the list room to grow to eight lines, if the rest keeps its design height.
    m_listReserve = Layout::listGrowth(m_listRect.height, wantedList(), 0, kDesignHeight, available().height());
    m_pages = std::make_unique<Layout::PageLayout>(tabClient(), m_labelLeft, m_labelTop);
    return *m_pages;
}

void WindowLayout::fillPage(QWidget *w, int page)
{
    int subPage = 1;
    const Layout::Rect r = m_pages->block(page, Layout::kBlockHeight, &subPage);
    w->setProperty("Tag", Layout::tabMark(float(page), subPage));
    w->setProperty("FillsPage", true);
    place(w, r);
}

QList<QWidget *> WindowLayout::fillers() const
{
    // The window's children only: a widget dropped since is no longer among them.
    QList<QWidget *> out;
    for (QWidget *w : m_parts.window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (w->property("FillsPage").toBool() && m_twips.contains(w))
            out << w;
    return out;
}

void WindowLayout::makeTabs()
{
    {
        const Applying applying(m_parts.state);
        removeTabs();
        const QStringList names = m_parts.state.rec ? m_parts.state.rec->NomiPagine().split(u',') : QStringList();
        for (int p = 1; p <= Layout::kPages; ++p) {
            for (int k = 1; k <= m_pages->pageFill(p); ++k) {
                const int index = m_tabs->addTab(Layout::tabCaption(p, k, m_pages->pageFill(p), names));
                m_tabs->setTabData(index, Layout::tabMark(float(p), k));
            }
        }
    }
    // Sized to the pages, within the screen.
    const QSize most = available();
    m_formHeight = std::min(m_pages->formHeight(), most.height() - m_listReserve);
    m_formWidth = std::min(m_pages->formWidth(m_panelWidth), most.width());
    updateGrowth();
    applyGeometry();
    m_tabFrame->lower();
}

void WindowLayout::dropSingleTab()
{
    if (m_pages->pageFill(2) != 0 || m_pages->pageFill(1) != 1 || m_tabs->count() == 0)
        return;
    {
        const Applying applying(m_parts.state);
        m_tabs->removeTab(0);
    }
    TabPage_Click();
}

void WindowLayout::removeTabs()
{
    while (m_tabs->count() > 0)
        m_tabs->removeTab(0);
}

void WindowLayout::TabPage_Click()
{
    if (m_tabs->currentIndex() < 0)
        return;
    const QString tag = m_tabs->tabData(m_tabs->currentIndex()).toString();
    for (QWidget *w : m_parts.fields.widgets() + fillers()) {
        const QString t = w->property("Tag").toString();
        if (!t.isEmpty())
            w->setVisible(t == tag);
    }
}

void WindowLayout::showPageOf(const QWidget *control)
{
    const QString tag = control->property("Tag").toString();
    for (int i = 0; i < m_tabs->count(); ++i)
        if (m_tabs->tabData(i).toString() == tag)
            m_tabs->setCurrentIndex(i);
}

void WindowLayout::CTRLSETFOCUS(QWidget *control)
{
    if (!m_parts.window.isVisible() || !control)
        return;
    showPageOf(control);
    TabPage_Click();
    if (control->isEnabled() && control->isVisible())
        control->setFocus(Qt::OtherFocusReason);
}

} // namespace Norvix
