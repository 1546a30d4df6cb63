#pragma once

#include "net/Records.h"

#include <QAbstractListModel>
#include <QList>

// The model's lists as QML list models. Each assignment resets the whole
// list, also when nothing changed: views rebuild their delegates on every
// assignment, as they do for every other property of the model.

class SharedFileListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
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

    explicit SharedFileListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    const QList<SharedFile>& items() const { return m_items; }
    void assign(QList<SharedFile> items);

    int count() const { return int(m_items.size()); }
    // An empty file for a row outside the list.
    Q_INVOKABLE SharedFile at(int row) const { return m_items.value(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    QList<SharedFile> m_items;
};

class DeviceListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role {
        DeviceRole = Qt::UserRole + 1,
        DeviceIdRole,
        NameRole,
        CreatedAtRole,
    };

    explicit DeviceListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    const QList<Device>& items() const { return m_items; }
    void assign(QList<Device> items);

    int count() const { return int(m_items.size()); }
    // An empty device for a row outside the list.
    Q_INVOKABLE Device at(int row) const { return m_items.value(row); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    QList<Device> m_items;
};
