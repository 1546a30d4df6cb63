#pragma once

#include "net/Records.h"

#include <QAbstractListModel>
#include <QList>

#include <functional>

// The model's lists as QML list models. Each assignment resets the whole
// list, also when nothing changed: views rebuild their delegates on every
// assignment, as they do for every other property of the model.

// What both lists share: the row count as QML's `count`, and the reset.
class RecordListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    using QAbstractListModel::QAbstractListModel;

    virtual int count() const = 0;
    int rowCount(const QModelIndex& parent = {}) const override;

Q_SIGNALS:
    void countChanged();

protected:
    // Resets the whole list around `replace`, then announces the count.
    void resetWith(const std::function<void()>& replace);
};

class SharedFileListModel final : public RecordListModel {
    Q_OBJECT
public:
    enum Role {
        FileRole = Qt::UserRole + 1,
        FileIdRole,
        NameRole,
        SizeRole,
        FormattedSizeRole,
        IsProtectedRole,
        CreatedAtRole,
        UrlRole,
    };

    explicit SharedFileListModel(QObject* parent = nullptr) : RecordListModel(parent) {}

    const QList<SharedFile>& items() const { return m_items; }
    void assign(QList<SharedFile> items);

    int count() const override { return int(m_items.size()); }
    // An empty file for a row outside the list.
    Q_INVOKABLE SharedFile at(int row) const { return m_items.value(row); }

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    QList<SharedFile> m_items;
};

class DeviceListModel final : public RecordListModel {
    Q_OBJECT
public:
    enum Role {
        DeviceRole = Qt::UserRole + 1,
        DeviceIdRole,
        NameRole,
        CreatedAtRole,
    };

    explicit DeviceListModel(QObject* parent = nullptr) : RecordListModel(parent) {}

    const QList<Device>& items() const { return m_items; }
    void assign(QList<Device> items);

    int count() const override { return int(m_items.size()); }
    // An empty device for a row outside the list.
    Q_INVOKABLE Device at(int row) const { return m_items.value(row); }

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    QList<Device> m_items;
};
