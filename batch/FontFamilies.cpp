#include "batch/FontFamilies.h"

#include <QFontDatabase>
#include <algorithm>
#include <vector>

namespace {

// The number of single-letter insertions, deletions and replacements that turn a into b.
int EditDistance(const QString &a, const QString &b) {
    std::vector<int> row(size_t(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j) {
        row[j] = int(j);
    }
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            const int replace = diagonal + (a.at(i - 1) == b.at(j - 1) ? 0 : 1);
            row[size_t(j)] = std::min({above + 1, row[size_t(j - 1)] + 1, replace});
            diagonal = above;
        }
    }
    return row.back();
}

} // namespace

QStringList NearestFontFamilies(const QString &family, int count) {
    const QStringList families = QFontDatabase::families();
    const QString wanted = family.trimmed().toCaseFolded();
    std::vector<std::pair<int, QString>> ranked;
    for (const QString &known : families) {
        const QString folded = known.toCaseFolded();
        if (folded == wanted) {
            return {};
        }
        ranked.emplace_back(EditDistance(wanted, folded), known);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList nearest;
    for (const auto &[distance, name] : ranked) {
        if (nearest.size() >= count) {
            break;
        }
        nearest << name;
    }
    return nearest;
}
