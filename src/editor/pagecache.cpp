#include "editor/pagecache.h"

#include <algorithm>

namespace Norvix {

void PageCache::touch(int number)
{
    if (!m_lru.isEmpty() && m_lru.constLast() == number)
        return;
    m_lru.removeOne(number);
    m_lru.append(number);
}

const ListPage *PageCache::cached(int number)
{
    const auto it = m_pages.constFind(number);
    if (it == m_pages.constEnd())
        return nullptr;
    touch(number);
    return it->get();
}

bool PageCache::hasExact(int number) const
{
    const auto it = m_pages.constFind(number);
    return it != m_pages.constEnd() && !(*it)->guessed;
}

void PageCache::keep(int number, std::shared_ptr<ListPage> page)
{
    m_pages.insert(number, std::move(page));
    touch(number);
    // The least recently used pages go; the one just kept is the most recent.
    while (m_pages.size() > kMaxPages && !m_lru.isEmpty())
        m_pages.remove(m_lru.takeFirst());
}

void PageCache::keepFirst(std::shared_ptr<ListPage> page)
{
    m_pages.insert(0, std::move(page));
    m_lru = {0};
}

void PageCache::remove(int number)
{
    if (m_pages.remove(number))
        m_lru.removeOne(number);
}

void PageCache::removeFrom(int number)
{
    for (auto it = m_pages.begin(); it != m_pages.end();) {
        if (it.key() >= number) {
            m_lru.removeOne(it.key());
            it = m_pages.erase(it);
        } else {
            ++it;
        }
    }
}

void PageCache::clear()
{
    m_pages.clear();
    m_lru.clear();
}

PageQuery PageCache::queryFor(int number, const ListQueries &queries, int rows, bool counted) const
{
    constexpr int kPageSize = ListPage::kSize;
    // From the boundary of a neighbouring page the database seeks straight to the rows wanted;
    // by position it has to walk past every row before them.
    if (const auto previous = m_pages.value(number - 1);
        previous && !previous->failed && !previous->guessed && previous->size() == kPageSize) {
        QVariantList values;
        const QString where = queries.keyCondition(previous->keys.constLast(), true, values);
        return queries.pageQuery(where, values, false, -1);
    }
    if (const auto next = m_pages.value(number + 1); next && !next->failed && !next->guessed && next->size() > 0) {
        QVariantList values;
        const QString where = queries.keyCondition(next->keys.constFirst(), false, values);
        return queries.pageQuery(where, values, true, -1);
    }
    // By position: from the nearer end of the table, once its length is known.
    const qint64 start = qint64(number) * kPageSize;
    if (counted && start > rows / 2 && start < rows) {
        const qint64 end = std::min<qint64>(start + kPageSize, rows);
        return queries.pageQuery(QString(), {}, true, rows - end, int(end - start));
    }
    return queries.pageQuery(QString(), {}, false, start);
}

} // namespace Norvix
