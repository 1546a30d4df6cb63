#include "app/PreviewMode.h"

#include "app/OutputStreams.h"
#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/Records.h"
#include "platform/BuildInfo.h"
#include "platform/ComputerName.h"
#include "platform/Paths.h"
#include "ui/Fonts.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <array>
#include <filesystem>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

struct SampleState {
    const char16_t* name;
    bool selected;
    bool usePassword;
    bool isUploading;
    const char16_t* message;
    const char16_t* error;
};

constexpr std::array<SampleState, 5> sampleStates{{
    {u"selected", true, false, false, u"", u""},
    {u"protected", true, true, false, u"", u""},
    {u"empty", false, false, false, u"", u""},
    {u"uploading", true, true, true, u"Uploading 1 of 1…", u""},
    {u"error", true, true, false, u"", u"The upload did not finish. Please try again."},
}};

constexpr QSize pictureSize(336, 560);

void applyState(ParvelModel& model, const SampleState& state) {
    const QUrl file = QUrl::fromLocalFile(
        QDir::current().absoluteFilePath(u"holiday-gift-guide-nav-walkthrough.mp4"_s));
    model.setSelected(state.selected ? QList<QUrl>{file} : QList<QUrl>{});
    model.setSelectedBytes(state.selected ? std::optional<qint64>(48'700'000) : std::nullopt);
    model.setUsePassword(state.usePassword);
    model.setPassword(state.usePassword ? u"preview"_s : QString());
    model.setIsUploading(state.isUploading);
    model.setProgress(0.42);
    model.setMessage(QString::fromUtf16(state.message));
    model.setError(QString::fromUtf16(state.error));
}

// The model as the previews show it: connected (to the server it would
// offer, with no token), a refresh running so the view starts none, and the
// files of the local index when there is one.
std::unique_ptr<ParvelModel> previewModel() {
    Services services;
    services.computerName = ComputerName::current();
    services.serverURLSetting = BuildInfo::serverURLSetting();
    services.applicationSupportDir = Paths::applicationDataDir();
    auto model = std::make_unique<ParvelModel>(false, std::move(services));
    model->setConnection(Connection{model->serverURL(), QString()});
    model->setIsRefreshing(true);
    model->assignFiles(LocalIndex::read(model->services().applicationSupportDir));
    return model;
}

struct Failure {
    QString reason;
};

std::optional<Failure> makeDirectory(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    if (error)
        return Failure{QString::fromLocal8Bit(error.message())};
    if (!QFileInfo(path).isDir())
        return Failure{u"%1 is not a folder."_s.arg(QDir::toNativeSeparators(path))};
    return std::nullopt;
}

std::optional<Failure> writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return Failure{u"%1: %2"_s.arg(QDir::toNativeSeparators(path), file.errorString())};
    return std::nullopt;
}

class Renderer {
public:
    explicit Renderer(ParvelModel& model) : m_model(model), m_component(&m_engine) {
        m_window.resize(pictureSize);
        m_component.setData("import Parvel\nMainView {}\n", QUrl());
        for (const auto& error : m_component.errors())
            writeError(error.toString());
    }

    // One picture of a freshly built view; an empty image when it could not
    // be drawn.
    QImage draw(bool dark) {
        if (!m_component.isReady())
            return {};
        std::unique_ptr<QObject> object(m_component.createWithInitialProperties(
            {{u"model"_s, QVariant::fromValue(&m_model)}, {u"dark"_s, dark}}));
        auto* view = qobject_cast<QQuickItem*>(object.get());
        if (!view) {
            for (const auto& error : m_component.errors())
                writeError(error.toString());
            return {};
        }
        view->setSize(pictureSize);
        view->setParentItem(m_window.contentItem());
        QImage picture = m_window.grabWindow();
        view->setParentItem(nullptr);
        return picture;
    }

private:
    ParvelModel& m_model;
    QQmlEngine m_engine;
    QQmlComponent m_component;
    QQuickWindow m_window;
};

int render(ParvelModel& model, const QString& directory) {
    if (const auto failure = makeDirectory(directory)) {
        writeError(u"Preview rendering failed: "_s + failure->reason);
        return 1;
    }
    Renderer renderer(model);
    for (const SampleState& state : sampleStates) {
        applyState(model, state);
        for (const bool dark : {false, true}) {
            const QImage picture = renderer.draw(dark);
            if (picture.isNull())
                continue;
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (!picture.save(&buffer, "PNG"))
                continue;
            const QString name = u"parvel-%1-%2.png"_s.arg(QString::fromUtf16(state.name),
                                                           dark ? u"dark"_s : u"light"_s);
            if (const auto failure = writeFile(QDir(directory).filePath(name), png)) {
                writeError(u"Preview rendering failed: "_s + failure->reason);
                return 1;
            }
        }
    }
    writeOutput("Native views rendered.\n");
    return 0;
}

} // namespace

int runPreviewMode(int& argc, char** argv, const QByteArray& outputDir) {
    keepQtMessagesOut();
    // The same pixels on every machine, with or without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);

    QGuiApplication app(argc, argv);
    registerApplicationFonts();

    const std::unique_ptr<ParvelModel> model = previewModel();
    const QString directory = QDir::current().absoluteFilePath(QFile::decodeName(outputDir));

    int status = 1;
    QTimer::singleShot(0, &app, [&] {
        status = render(*model, directory);
        app.exit(status);
    });
    app.exec();
    return status;
}
