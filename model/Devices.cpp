#include "model/ParvelModel.h"

#include "net/Endpoints.h"

#include <QPointer>

QCoro::Task<> ParvelModel::createPairing() {
    const auto api = this->api();
    if (!api)
        co_return;
    QPointer<ParvelModel> self(this);
    auto pairing = co_await Endpoints::createPairing(*api);
    if (!self)
        co_return;
    if (!pairing) {
        handleError(pairing.error());
        co_return;
    }
    // A null answer means there is no code to offer: clear the old one.
    setPairing(std::move(*pairing));
}

QCoro::Task<> ParvelModel::loadDevices() {
    const auto api = this->api();
    if (!api)
        co_return;
    QPointer<ParvelModel> self(this);
    auto list = co_await Endpoints::devices(*api);
    if (!self)
        co_return;
    if (!list) {
        handleError(list.error());
        co_return;
    }
    setDevices(std::move(list->devices));
}

QCoro::Task<> ParvelModel::revoke(Device device) {
    const auto api = this->api();
    if (!api)
        co_return;
    QPointer<ParvelModel> self(this);
    auto revoked = co_await Endpoints::revokeDevice(*api, device.id);
    if (!self)
        co_return;
    if (!revoked) {
        handleError(revoked.error());
        co_return;
    }
    // Even when this computer was the one revoked, the connection stays until
    // the server refuses a request with 401.
    co_await loadDevices();
}
