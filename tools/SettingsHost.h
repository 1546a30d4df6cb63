#pragma once

// SettingsView in a window of its own, as the settings window hosts it, for
// the tests, the benchmark and the screenshot tool. The view follows the
// window's size.

#include "model/ParvelModel.h"

#include <QObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <memory>

class SettingsHost {
public:
    // Deterministic pixels and a small footprint on machines without a GPU;
    // call before the first window exists.
    static void useSoftwareRenderer() {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

    explicit SettingsHost(ParvelModel* model, bool dark = false) {
        QQmlComponent component(&engine);
        component.setData("import Parvel\nSettingsView {}\n",
                          QUrl(QStringLiteral("settings-host.qml")));
        if (component.isError())
            qFatal("SettingsView: %s", qPrintable(component.errorString()));
        QObject* made = component.createWithInitialProperties(
            {{QStringLiteral("model"), QVariant::fromValue(model)},
             {QStringLiteral("dark"), dark}});
        if (!made)
            qFatal("SettingsView: %s", qPrintable(component.errorString()));
        view.reset(qobject_cast<QQuickItem*>(made));
        window.setTitle(QStringLiteral("Parvel"));
        window.setMinimumSize({660, 500});
        window.resize(720, 540);
        view->setParentItem(window.contentItem());
        const auto fit = [this] { view->setSize(window.size()); };
        QObject::connect(&window, &QWindow::widthChanged, view.get(), fit);
        QObject::connect(&window, &QWindow::heightChanged, view.get(), fit);
        fit();
    }

    template <class T = QQuickItem> T* find(const QString& objectName) const {
        return view->findChild<T*>(objectName);
    }

    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QQuickItem> view; // before the engine and the window go
};
