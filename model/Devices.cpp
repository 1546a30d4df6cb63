#include "model/ParvelModel.h"
#include "model/ServerCall.h"

#include "net/Endpoints.h"

TaskHandle* ParvelModel::createPairing() {
    TaskHandle* handle = newTask();
    return track(handle, runCreatePairing(handle->token()));
}

TaskHandle* ParvelModel::loadDevices() {
    TaskHandle* handle = newTask();
    return track(handle, runLoadDevices(handle->token()));
}

TaskHandle* ParvelModel::revoke(const Device& device) {
    TaskHandle* handle = newTask();
    return track(handle, runRevoke(device, handle->token()));
}

QCoro::Task<> ParvelModel::runCreatePairing(std::stop_token stop) {
    auto call =
        serverCall<std::optional<Pairing>>(this, stop, [](const API& api, std::stop_token stop) {
            return Endpoints::createPairing(api, stop);
        });
    ServerAnswer<std::optional<Pairing>> pairing = co_await std::move(call);
    if (!pairing)
        co_return;
    // A null answer means there is no code to offer: clear the old one.
    setPairing(std::move(*pairing));
}

QCoro::Task<> ParvelModel::runLoadDevices(std::stop_token stop) {
    auto call = serverCall<DeviceList>(this, stop, [](const API& api, std::stop_token stop) {
        return Endpoints::devices(api, stop);
    });
    ServerAnswer<DeviceList> list = co_await std::move(call);
    if (!list)
        co_return;
    setDevices(std::move(list->devices));
}

QCoro::Task<> ParvelModel::runRevoke(Device device, std::stop_token stop) {
    auto call =
        serverCall<void>(this, stop, [id = device.id](const API& api, std::stop_token stop) {
            return Endpoints::revokeDevice(api, id, stop);
        });
    const ServerAnswer<void> revoked = co_await std::move(call);
    if (!revoked)
        co_return;
    // Even when this computer was the one revoked, the connection stays until
    // the server refuses a request with 401.
    co_await runLoadDevices(stop);
}
