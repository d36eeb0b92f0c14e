#pragma once

// The history a reliability run expects in NORVIX_STORIA. Every acknowledged change has exactly
// one history row that says what it changed. No other change has one, except the change under
// way when the program was cut or killed, which has one exactly when that change itself landed.
//
// The runs change two tables through a row session: SALVATAGGI (ID, TESTO), whose rows are
// inserted with the text payload(ID) and deleted, and STATO (ID, ULTIMO), whose row 1 moves its
// marker ULTIMO to the id just saved. A change is known by its action and its row's key; a marker
// move by its new value. The fields of each history row are checked once, when it is first seen:
// an insert or a delete holds exactly ID and TESTO, a marker move [old, new] where old is the new
// value of the move before it.

#include "session/history.h"
#include "session/rowsession.h"
#include "target.h"

#include <QHash>
#include <QVariantMap>

#include <cstdio>

namespace Reliability {

// The record the programs save through: keeps history or not, and no field rules.
inline std::shared_ptr<Norvix::Rec> record(bool history)
{
    auto rec = std::make_shared<Norvix::Rec>();
    rec->setStoria(history);
    return rec;
}

// A save's or a delete's outcome as the programs take it: anything but done throws its error.
inline void done(const Norvix::RowOutcome &outcome)
{
    if (!outcome.done())
        throw outcome.error.value_or(
            Norvix::DataError(Norvix::DataError::Generic, QStringLiteral("value refused: ") + outcome.column));
}

struct Change
{
    char action = 0; // 'I' insert of row `key`, 'D' its delete, 'U' the marker moved to `key`; 0: none
    qint64 key = 0;

    bool none() const { return action == 0; }
    QString table() const { return action == 'U' ? QStringLiteral("STATO") : QStringLiteral("SALVATAGGI"); }
    QString name() const { return QStringLiteral("%1 %2").arg(QLatin1Char(action)).arg(key); }
};

struct LedgerFigures
{
    qint64 rows = 0;           // history rows at the last check
    qint64 missing = 0;        // an acknowledged change (or one that landed) without its history row
    qint64 duplicated = 0;     // a change with more than one
    qint64 unacknowledged = 0; // a history row without its change
    qint64 wrong = 0;          // a history row whose table or fields are not the change's

    bool ok() const { return missing == 0 && duplicated == 0 && unacknowledged == 0 && wrong == 0; }
    void print() const
    {
        std::printf("  history rows %lld: missing %lld, duplicated %lld, without their change %lld, wrong fields %lld\n",
                    static_cast<long long>(rows), static_cast<long long>(missing), static_cast<long long>(duplicated),
                    static_cast<long long>(unacknowledged), static_cast<long long>(wrong));
    }
};

class Ledger
{
public:
    // `event`: what a check follows, as the messages name it ("cut", "kill").
    explicit Ledger(const char *event) : m_event(event) {}

    // Whether the database has the history table yet (the first save with history makes it).
    static QString existsSql(bool postgresql)
    {
        return postgresql ? QStringLiteral("SELECT to_regclass('norvix_storia') IS NOT NULL")
                          : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'NORVIX_STORIA'");
    }
    // Every history row in order: ID, TABELLA, CHIAVE, AZIONE, and CAMPI for those not seen yet
    // and for the marker's (null for the others, whose texts are long).
    QString selectSql(bool postgresql) const
    {
        return QStringLiteral("SELECT ID, TABELLA, CHIAVE%1, AZIONE, CASE WHEN AZIONE = 'U' OR ID > %2 THEN CAMPI%1 END "
                              "FROM NORVIX_STORIA ORDER BY ID")
            .arg(postgresql ? QStringLiteral("::text") : QString())
            .arg(m_seen);
    }

    void acknowledge(const Change &c) { m_expected.insert(c.name(), c); }

    // Checks `rows` (read by selectSql) after cut `cut`; `underWay` is the change under way then
    // and `landed` whether it is stored. One that landed is expected from then on.
    void check(const QList<QVariantList> &rows, const Change &underWay, bool landed, int cut)
    {
        QHash<QString, int> found;
        qint64 marker = 0; // the marker's value before the next move
        const qint64 seen = m_seen;
        for (const QVariantList &row : rows) {
            ++found[read(row, marker, row.value(0).toLongLong() > seen, cut).name()];
            m_seen = std::max(m_seen, row.value(0).toLongLong());
        }
        m_figures.rows = rows.size();
        QStringList lost;
        for (const Change &c : std::as_const(m_expected))
            if (count(cut, c, found.take(c.name()), 1) < 0)
                lost << c.name();
        for (const QString &c : std::as_const(lost))
            m_expected.remove(c); // each loss counted once
        if (!underWay.none() && !m_expected.contains(underWay.name())) {
            count(cut, underWay, found.take(underWay.name()), landed ? 1 : 0);
            if (landed)
                acknowledge(underWay);
        }
        for (auto it = found.cbegin(); it != found.cend(); ++it) {
            m_figures.unacknowledged += it.value();
            std::printf("%s %d: history row of %s, a change never acknowledged\n", m_event, cut, qPrintable(it.key()));
        }
    }

    const LedgerFigures &figures() const { return m_figures; }

private:
    // The change a history row (ID, TABELLA, CHIAVE, AZIONE, CAMPI) records; a row first seen
    // (`fresh`) is checked whole.
    Change read(const QVariantList &row, qint64 &marker, bool fresh, int cut)
    {
        const auto json = [&](int column) {
            return Norvix::parseHistoryJson(row.value(column).toString()).value_or(QVariant());
        };
        Change c{row.value(3).toString().toLatin1().append('?').at(0), json(2).toList().value(0).toLongLong()};
        const QVariantMap fields = upper(json(4).toMap());
        QString why;
        if (c.action == 'U') {
            const QVariantList move = fields.value(QStringLiteral("ULTIMO")).toList();
            if (c.key != 1 || move.size() != 2 || move[0].toLongLong() != marker)
                why = QStringLiteral("the marker's move does not follow the one before");
            c.key = marker = move.value(1).toLongLong();
        } else if (fresh && fields != QVariantMap{{QStringLiteral("ID"), c.key}, {QStringLiteral("TESTO"), payload(c.key)}}) {
            why = QStringLiteral("fields not those of its row");
        }
        if (row.value(1).toString() != c.table() || (c.action != 'I' && c.action != 'U' && c.action != 'D'))
            why = QStringLiteral("table or action");
        if (fresh && !why.isEmpty()) {
            ++m_figures.wrong;
            std::printf("%s %d: history row %lld: %s\n", m_event, cut, row.value(0).toLongLong(), qPrintable(why));
        }
        return c;
    }

    static QVariantMap upper(const QVariantMap &map)
    {
        QVariantMap out; // PostgreSQL spells the columns in lower case
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out.insert(it.key().toUpper(), it.value());
        return out;
    }

    // How many history rows `c` has beyond those `expected` (negative: fewer), told when not none.
    int count(int cut, const Change &c, int n, int expected)
    {
        if (n == expected)
            return 0;
        if (n < expected)
            ++m_figures.missing;
        else if (expected == 0)
            m_figures.unacknowledged += n;
        else
            m_figures.duplicated += n - expected;
        std::printf("%s %d: %s has %d history rows, %d expected\n", m_event, cut, qPrintable(c.name()), n, expected);
        return n - expected;
    }

    const char *m_event;
    QHash<QString, Change> m_expected;
    qint64 m_seen = 0; // the highest history row checked in full
    LedgerFigures m_figures;
};

} // namespace Reliability
