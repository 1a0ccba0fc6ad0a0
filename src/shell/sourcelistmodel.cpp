#include "sourcelistmodel.h"

#include "join/fs/failure.h"
#include "windowtexts.h"

#include <QTextDocument>

namespace shell {

SourceListModel::SourceListModel(QObject* parent) : QAbstractTableModel(parent) {}

void SourceListModel::addColumn(const QString& header) {
    const int column = static_cast<int>(m_headers.size());
    beginInsertColumns({}, column, column);
    m_headers.append(header);
    endInsertColumns();
}

int SourceListModel::count() const {
    return static_cast<int>(m_items.size());
}

void SourceListModel::checkIndex(int index) const {
    if (index < 1 || index > count())
        throw join::Failure(join::ErrorNumber::IndexOutOfBounds,
                            Window::tr("Index out of bounds").toStdString());
}

std::string SourceListModel::text(int index) const {
    checkIndex(index);
    return m_items[static_cast<size_t>(index - 1)];
}

void SourceListModel::append(const std::string& path) {
    const int row = count();
    beginInsertRows({}, row, row);
    m_items.push_back(path);
    endInsertRows();
}

void SourceListModel::appendAll(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    const int first = count();
    beginInsertRows({}, first, first + static_cast<int>(paths.size()) - 1);
    m_items.insert(m_items.end(), paths.begin(), paths.end());
    endInsertRows();
}

void SourceListModel::removeAt(int index) {
    checkIndex(index);
    const int row = index - 1;
    beginRemoveRows({}, row, row);
    m_items.erase(m_items.begin() + row);
    endRemoveRows();
}

void SourceListModel::clear() {
    if (m_items.empty())
        return;
    // Rows are removed rather than the model reset, so that the column and its width stay.
    beginRemoveRows({}, 0, count() - 1);
    m_items.clear();
    endRemoveRows();
}

int SourceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int SourceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant SourceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= count())
        return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)
        return {};
    const std::string& item = m_items[static_cast<size_t>(index.row())];
    const QString text = QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size()));
    // The list shows long paths elided; the tooltip shows the whole path, never read as markup.
    if (role == Qt::ToolTipRole && Qt::mightBeRichText(text))
        return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped());
    return text;
}

QVariant SourceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_headers.size())
        return m_headers.at(section);
    return {};
}

Qt::ItemFlags SourceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (m_locked)
        return Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void SourceListModel::setLocked(bool locked) {
    if (locked == m_locked)
        return;
    m_locked = locked;
    if (rowCount() > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

} // namespace shell
