// Cost of building the popover's main view with a long file list against a
// short one: only the rows shown are built, so 1,000 files must cost about
// what 3 do (target: within 10 %). Prints the median build time of each.

#include "model/ParvelModel.h"
#include "ui/Fonts.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<ParvelModel> modelWith(int count) {
    auto model = std::make_unique<ParvelModel>(false, Services{});
    model->setConnection(Connection{u"https://files.example.org"_s, QString()});
    model->setIsRefreshing(true);
    QList<SharedFile> files;
    for (int n = 0; n < count; ++n) {
        SharedFile file;
        file.id = QString::number(n);
        file.name = u"file-%1.pdf"_s.arg(n);
        file.size = n * 1000;
        file.url = u"https://files.example.org/s/"_s + file.id;
        files.append(file);
    }
    model->assignFiles(files);
    return model;
}

// Median microseconds to build, lay out and draw the view once.
double medianBuild(QQmlComponent& component, QQuickWindow& window, ParvelModel& model, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QObject> view(
            component.createWithInitialProperties({{u"model"_s, QVariant::fromValue(&model)}}));
        auto* item = qobject_cast<QQuickItem*>(view.get());
        item->setParentItem(window.contentItem());
        window.grabWindow();
        item->setParentItem(nullptr);
        times.push_back(double(timer.nsecsElapsed()) / 1000);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    registerApplicationFonts();

    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import Parvel\nMainView {}\n", QUrl());
    QQuickWindow window;
    window.resize(336, 560);

    const auto few = modelWith(3), many = modelWith(1000);
    constexpr int runs = 41;
    medianBuild(component, window, *few, 5); // warm up the type caches
    const double withFew = medianBuild(component, window, *few, runs);
    const double withMany = medianBuild(component, window, *many, runs);
    std::printf("MainView build + draw, median of %d (us):\n", runs);
    std::printf("  3 files      %.0f\n  1,000 files  %.0f\n  ratio        %.3f\n", withFew,
                withMany, withMany / withFew);
    return 0;
}
