#pragma once

// The pages of the record list held in memory: a bounded number, the least recently used going
// first, so that a table of millions of rows costs no more memory than a small one.

#include "editor/listqueries.h"

#include <QHash>
#include <QList>

#include <memory>

namespace Norvix {

class PageCache
{
public:
    static constexpr int kMaxPages = 64;

    // Page `number` when read (a guessed one too), marked as used; nullptr when not read yet.
    const ListPage *cached(int number);
    // Page `number` without marking it as used; nullptr when not read yet.
    std::shared_ptr<ListPage> value(int number) const { return m_pages.value(number); }
    bool hasExact(int number) const; // read, and not guessed
    // Keeps page `number` as the most recently used; the least recently used go beyond kMaxPages.
    void keep(int number, std::shared_ptr<ListPage> page);
    // The first page of a list read again: the only page then.
    void keepFirst(std::shared_ptr<ListPage> page);
    void remove(int number);
    void removeFrom(int number); // that page and those after it
    void clear();
    int size() const { return int(m_pages.size()); }
    // How page `number` of a list of `rows` lines is read: from a neighbouring page's boundary
    // key when one is cached (keyset), otherwise by position (from the nearer end once `counted`).
    PageQuery queryFor(int number, const ListQueries &queries, int rows, bool counted) const;

private:
    void touch(int number);

    QHash<int, std::shared_ptr<ListPage>> m_pages;
    QList<int> m_lru;
};

} // namespace Norvix
