#include "model/ListModels.h"

int RecordListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

void RecordListModel::resetWith(const std::function<void()>& replace) {
    beginResetModel();
    replace();
    endResetModel();
    Q_EMIT countChanged();
}

void SharedFileListModel::assign(QList<SharedFile> items) {
    resetWith([&] { m_items = std::move(items); });
}

QVariant SharedFileListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SharedFile& file = m_items.at(index.row());
    switch (role) {
    case FileRole:
        return QVariant::fromValue(file);
    case FileIdRole:
        return file.id;
    case Qt::DisplayRole:
    case NameRole:
        return file.name;
    case SizeRole:
        return file.size;
    case FormattedSizeRole:
        return file.formattedSize();
    case IsProtectedRole:
        return file.isProtected;
    case CreatedAtRole:
        return file.createdAt;
    case UrlRole:
        return file.url;
    default:
        return {};
    }
}

QHash<int, QByteArray> SharedFileListModel::roleNames() const {
    return {
        {FileRole, "file"},
        {FileIdRole, "fileId"},
        {NameRole, "name"},
        {SizeRole, "size"},
        {FormattedSizeRole, "formattedSize"},
        {IsProtectedRole, "isProtected"},
        {CreatedAtRole, "createdAt"},
        {UrlRole, "url"},
    };
}

void DeviceListModel::assign(QList<Device> items) {
    resetWith([&] { m_items = std::move(items); });
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Device& device = m_items.at(index.row());
    switch (role) {
    case DeviceRole:
        return QVariant::fromValue(device);
    case DeviceIdRole:
        return device.id;
    case Qt::DisplayRole:
    case NameRole:
        return device.name;
    case CreatedAtRole:
        return device.createdAtValue();
    default:
        return {};
    }
}

QHash<int, QByteArray> DeviceListModel::roleNames() const {
    return {
        {DeviceRole, "device"},
        {DeviceIdRole, "deviceId"},
        {NameRole, "name"},
        {CreatedAtRole, "createdAt"},
    };
}
