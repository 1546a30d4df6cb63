#include "shell/QmlHost.h"

#include "model/ParvelModel.h"

#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

void hostView(QQuickView& window, const QString& typeName, ParvelModel& model, bool dark) {
    window.setResizeMode(QQuickView::SizeRootObjectToView);
    window.setInitialProperties(
        {{u"model"_s, QVariant::fromValue(&model)}, {u"dark"_s, QVariant(dark)}});
    window.setSource(QUrl(u"qrc:/parvel/shell/"_s + typeName + u"Host.qml"_s));
    if (window.status() == QQuickView::Ready)
        return;
    for (const QQmlError& error : window.errors())
        qCWarning(lcShell) << typeName << "is not available:" << error.toString();
    window.setInitialProperties({{u"model"_s, QVariant::fromValue(&model)},
                                 {u"dark"_s, QVariant(dark)},
                                 {u"title"_s, typeName}});
    window.setSource(QUrl(u"qrc:/parvel/shell/StandIn.qml"_s));
}

void setViewDark(QQuickView& window, bool dark) {
    if (QQuickItem* root = window.rootObject())
        root->setProperty("dark", dark);
}
