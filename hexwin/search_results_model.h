#pragma once

#include "fileeditor/search.h"

#include <QAbstractListModel>

namespace corvex::hexwin {

// The "Search Results" list over the core's results, which may hold a quarter of a million
// lines: the view asks for the lines it paints and nothing more. While a search runs the list
// belongs to the search thread, so the model shows nothing until it has ended.
class ResultsModel : public QAbstractListModel {
public:
    ResultsModel(fileeditor::SearchResults& results, QObject* parent)
        : QAbstractListModel(parent), m_results(results) {}

    void setHidden(bool hidden) {
        beginResetModel();
        m_hidden = hidden;
        endResetModel();
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || m_hidden ? 0 : static_cast<int>(m_results.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || m_hidden || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= m_results.size()) {
            return {};
        }
        return QString::fromLatin1(m_results.text(static_cast<std::size_t>(index.row())));
    }

private:
    fileeditor::SearchResults& m_results;
    bool m_hidden = false;
};

} // namespace corvex::hexwin
