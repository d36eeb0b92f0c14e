#pragma once

// The editor window's geometry and pages: the design proportions, the window fitted to the screen
// (SETPROP, SCREENMODE, REPROP), every widget placed in twips, the tab strip and which page's
// controls show (ImpostaForm's tabs, TabPage_Click, CTRLSETFOCUS).

#include "editor/pagelayout.h"

#include <QHash>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QTabBar;
class QWidget;

namespace Norvix {

class CommandPanel;
class FieldSet;
class RecordListPane;
class SearchPane;
struct EditorState;

class WindowLayout
{
public:
    // The window laid out and the parts whose widgets it places or shows.
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        const FieldSet &fields;
        const RecordListPane &list;
        const CommandPanel &panel;
        const SearchPane &search;
    };
    explicit WindowLayout(const Parts &parts);

    // Makes the tab strip and its frame; then, once the list and the buttons exist, the measuring
    // label and the design's geometry.
    void create();
    void finish();
    QTabBar *tabs() const { return m_tabs; }

    void SETPROP();
    void SCREENMODE(int width, int height);
    void REPROP();
    // The window was resized by the user: the panel and the pages follow.
    void resized();

    // Places a widget at a rectangle in twips, and remembers it.
    void place(QWidget *w, const Layout::Rect &r);
    QRect twipsOf(QWidget *w) const;
    int formWidth() const { return m_formWidth; }
    int formHeight() const { return m_formHeight; }
    // The width a text needs in the editor's font, in twips.
    int textWidth(const QString &text) const;
    // The width a one-line input needs to show each of the texts whole (its digits at the font's
    // widest, its margins and frame), in pixels and in twips.
    int inputPixels(const QStringList &texts) const;
    int inputWidth(const QString &text) const;
    // The largest inner size of a window on the screen: the work area less the decoration, in
    // twips.
    QSize available() const;
    // A shown window whose frame passes the work area is made smaller and moved inside it.
    void keepOnScreen();

    // The page layout of the fields, started over the tab strip's client area.
    Layout::PageLayout &startPages();
    const Layout::PageLayout *pages() const { return m_pages.get(); }
    Layout::PageLayout *pages() { return m_pages.get(); }
    // A widget under the fields of page `page`, filling what they leave of it (a detail's grid):
    // it shows with that page and grows with the window.
    void fillPage(QWidget *w, int page);
    // One tab per page in use, and the window sized to the pages.
    void makeTabs();
    // Drops the only tab of a record whose fields all stand on one page.
    void dropSingleTab();
    void removeTabs();
    // Shows the controls of the selected page.
    void TabPage_Click();
    // Selects the page a control stands on.
    void showPageOf(const QWidget *control);
    void CTRLSETFOCUS(QWidget *control);

    // The search panel over the record list, `height` twips high (0: hidden). The list gives it
    // room down to a few lines; the window grows by what more it needs, and everything under
    // the list moves down by as much.
    void setSearchPanel(QWidget *panel, int height);

private:
    void applyGeometry();
    // Where a widget placed at `r` shows, with the search panel's room.
    Layout::Rect shown(QWidget *w, const Layout::Rect &r) const;
    void setPixels(QWidget *w, const Layout::Rect &r) const;
    // Twips the window grows by under the list: the list up to eight lines and the search panel,
    // as far as the screen has room; decided when the pages or the panel change.
    void updateGrowth();
    int wantedList() const;
    void PicButton_Resize();
    // The widgets placed by fillPage().
    QList<QWidget *> fillers() const;
    Layout::Rect tabClient() const;

    Parts m_parts;
    // Proportions of the design (measured once).
    std::array<double, 10> m_buttonTopRatio{};
    std::array<double, 10> m_buttonHeightRatio{};
    double m_panelHeightRatio = 0, m_pageWidthRatio = 0, m_pageHeightRatio = 0;
    int m_labelLeft = 0, m_labelTop = 0, m_panelWidth = 0;
    // The window's inner size and the rectangles of its fixed parts, in twips.
    int m_formWidth = 0, m_formHeight = 0;
    Layout::Rect m_listRect, m_tabRect, m_panelRect;
    std::array<Layout::Rect, 5> m_buttonRects{};
    QHash<QWidget *, Layout::Rect> m_twips;
    QTabBar *m_tabs = nullptr;
    QFrame *m_tabFrame = nullptr;
    QLabel *m_lblScala = nullptr;
    QLineEdit *m_inputProbe = nullptr; // measures inputs as the field inputs are

    std::unique_ptr<Layout::PageLayout> m_pages;
    QWidget *m_searchPanel = nullptr;
    int m_searchHeight = 0;
    int m_listReserve = 0; // the list's growth the pages leave room for
    int m_growth = 0;
};

} // namespace Norvix
