#include "devserver/Api.h"

#include <optional>
#include <regex>

namespace devserver {

namespace {

const char* serverVersion() {
#ifdef DEVSERVER_VERSION
    return DEVSERVER_VERSION;
#else
    return "0";
#endif
}

std::optional<std::string> bearerToken(const httplib::Request& req) {
    const std::string value = req.get_header_value("Authorization");
    constexpr std::string_view prefix = "Bearer ";
    if (value.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return value.substr(prefix.size());
}

// The body as a JSON object, or a 400 telling the client what was wrong.
Outcome<Json> objectBody(const httplib::Request& req) {
    auto body = parseJson(req.body);
    if (!body || !body->is_object())
        return std::unexpected(Failure{400, "The request body must be a JSON object."});
    return *body;
}

Outcome<std::string> requiredString(const Json& body, const char* key) {
    const Json* value = member(body, key);
    if (!value || !value->is_string())
        return std::unexpected(Failure{400, std::string("\"") + key + "\" must be a string."});
    return value->get<std::string>();
}

// "password": a string sets it, null clears it; the key must be there, so a
// client that forgets it is told instead of silently unprotecting a file.
Outcome<std::optional<std::string>> passwordField(const Json& body) {
    const Json* value = member(body, "password");
    if (!value || !(value->is_null() || value->is_string()))
        return std::unexpected(Failure{400, "\"password\" must be a string or null."});
    if (value->is_null())
        return std::optional<std::string>();
    return std::optional<std::string>(value->get<std::string>());
}

void connect(Store& store, const Site& site, const httplib::Request& req, httplib::Response& res) {
    const auto body = objectBody(req);
    if (!body)
        return answerFailure(res, body.error());
    const auto code = requiredString(*body, "code");
    if (!code)
        return answerFailure(res, code.error());
    const auto name = requiredString(*body, "name");
    if (!name)
        return answerFailure(res, name.error());
    const auto device = store.redeemCode(*code, *name);
    if (!device)
        return answerFailure(res, device.error());
    answerJson(res, 200,
               Json{{"serverURL", site.baseURL},
                    {"token", device->token},
                    {"device", deviceJson(*device)}});
}

void createFile(Store& store, const Site& site, const httplib::Request& req,
                httplib::Response& res) {
    const auto body = objectBody(req);
    if (!body)
        return answerFailure(res, body.error());
    const auto name = requiredString(*body, "name");
    if (!name)
        return answerFailure(res, name.error());
    const auto size = integerValue(member(*body, "size"));
    if (!size)
        return answerFailure(res, {400, "\"size\" must be an integer."});
    const auto password = passwordField(*body);
    if (!password)
        return answerFailure(res, password.error());
    const auto file = store.createFile(*name, *size, *password);
    if (!file)
        return answerFailure(res, file.error());
    answerJson(res, 200, Json{{"id", file->id}, {"uploadURL", site.uploadURL(file->ticket)}});
}

void changeAccess(Store& store, const Site& site, const std::string& id,
                  const httplib::Request& req, httplib::Response& res) {
    const auto body = objectBody(req);
    if (!body)
        return answerFailure(res, body.error());
    const auto password = passwordField(*body);
    if (!password)
        return answerFailure(res, password.error());
    const auto file = store.setPassword(id, *password);
    if (!file)
        return answerFailure(res, file.error());
    answerJson(res, 200, Json{{"file", fileJson(*file, site)}});
}

void answerDone(httplib::Response& res, const Outcome<void>& outcome) {
    if (!outcome)
        return answerFailure(res, outcome.error());
    res.status = 204;
}

} // namespace

void handleApi(Store& store, const Site& site, const std::string& path, const httplib::Request& req,
               httplib::Response& res) {
    const std::string& method = req.method;
    if (method == "POST" && path == "/api/connect")
        return connect(store, site, req, res);

    const auto token = bearerToken(req);
    const auto device = token ? store.deviceForToken(*token) : std::nullopt;
    if (!device)
        return answerFailure(res,
                             {401, "This device is not connected. Enter a new connection code."});

    static const std::regex fileRoute("/api/files/([^/]+)");
    static const std::regex completeRoute("/api/files/([^/]+)/complete");
    static const std::regex deviceRoute("/api/devices/([^/]+)");
    std::smatch match;

    if (method == "GET" && path == "/api/me") {
        return answerJson(res, 200,
                          Json{{"device", deviceJson(*device)},
                               {"owner", "Developer"},
                               {"version", serverVersion()},
                               {"maxFileSize", maxFileSize}});
    }
    if (method == "GET" && path == "/api/files") {
        Json files = Json::array();
        for (const FileRecord& file : store.completedFiles())
            files.push_back(fileJson(file, site));
        return answerJson(res, 200, Json{{"files", files}});
    }
    if (method == "POST" && path == "/api/files")
        return createFile(store, site, req, res);
    if (method == "POST" && std::regex_match(path, match, completeRoute)) {
        const auto file = store.completeFile(match[1]);
        if (!file)
            return answerFailure(res, file.error());
        return answerJson(res, 200, Json{{"file", fileJson(*file, site)}});
    }
    if (method == "DELETE" && std::regex_match(path, match, fileRoute))
        return answerDone(res, store.deleteFile(match[1]));
    if (method == "PATCH" && std::regex_match(path, match, fileRoute))
        return changeAccess(store, site, match[1], req, res);
    if (method == "POST" && path == "/api/pairings") {
        const Code code = store.newCode();
        return answerJson(
            res, 200,
            Json{{"code", code.code}, {"expiresAt", code.expiresAt}, {"serverURL", site.baseURL}});
    }
    if (method == "GET" && path == "/api/devices") {
        Json devices = Json::array();
        for (const DeviceRecord& d : store.devices())
            devices.push_back(deviceJson(d));
        return answerJson(res, 200, Json{{"devices", devices}});
    }
    if (method == "DELETE" && std::regex_match(path, match, deviceRoute))
        return answerDone(res, store.revokeDevice(match[1]));

    answerFailure(res, {404, "There is nothing at " + method + " " + path + "."});
}

} // namespace devserver
