#pragma once

#include "sources/sourcelist.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace shell {

// The items of the window's list control: the source folder list itself. Item texts are kept
// exactly as given (any bytes) and shown decoded from UTF-8. The list starts without a column;
// the window adds its single column at start-up.
class SourceListModel : public QAbstractTableModel, public sources::SourceList {
    Q_OBJECT

public:
    explicit SourceListModel(QObject* parent = nullptr);

    // Adds a column with the given header text after the existing ones.
    void addColumn(const QString& header);

    // sources::SourceList: items numbered from 1. text() and removeAt() of an index outside
    // 1..count() throw join::Failure 35600 ("Index out of bounds").
    int count() const override;
    std::string text(int index) const override;
    void append(const std::string& path) override;
    void appendAll(const std::vector<std::string>& paths) override;
    void removeAt(int index) override;
    void clear() override;

    // While locked, the items show as disabled and cannot be selected: nothing may remove them.
    void setLocked(bool locked);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void checkIndex(int index) const;

    std::vector<std::string> m_items;
    QStringList m_headers;
    bool m_locked = false;
};

} // namespace shell
