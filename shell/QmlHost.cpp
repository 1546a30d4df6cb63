#include "shell/QmlHost.h"

#include "model/ParvelModel.h"
#include "ui/AccessibleControl.h"

#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

void hostView(QQuickView& window, const QString& typeName, ParvelModel& model, bool dark) {
    AccessibleControl::install();
    window.setResizeMode(QQuickView::SizeRootObjectToView);
    window.setInitialProperties(
        {{u"model"_s, QVariant::fromValue(&model)}, {u"dark"_s, QVariant(dark)}});
    window.setSource(QUrl(u"qrc:/parvel/shell/"_s + typeName + u"Host.qml"_s));
    // The module is linked in: an error here is a fault of this build.
    for (const QQmlError& error : window.errors())
        qCCritical(lcShell) << typeName << "cannot be shown:" << error.toString();
}

void setViewDark(QQuickView& window, bool dark) {
    if (QQuickItem* root = window.rootObject())
        root->setProperty("dark", dark);
}
