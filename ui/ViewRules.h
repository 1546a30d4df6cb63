#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// The rules with cases that the views apply, as plain functions so they are
// tested directly; `Rules` gives QML the same functions.
namespace ViewRules {

// The file type shown on a badge: the name's extension (after the last dot
// of the last path component), upper case, its first four characters.
QString badgeLabel(const QString& name);

// A file URL's display name: its last path component.
QString fileName(const QUrl& url);

// How many recent files the popover lists: 3, one fewer while the password
// block shows, one fewer while the status line shows, never more than there
// are files.
int recentRowCount(bool statusShown, bool usePassword, int fileCount);

// The whole percent of an upload's progress (0.999 gives "99%").
QString percentText(double progress);

// The upload button's title for a selection of `count` files.
QString uploadTitle(int count);

// The connect button: its title, and whether it can be pressed (any typed
// code, a blank included, while no attempt runs).
QString connectTitle(bool connecting);
bool canConnect(const QString& code, bool connecting);

// What the status line shows: nothing, the error, or the message (in ink2
// while uploading, in ok after).
enum class FeedbackKind { None, Error, Progress, Done };
FeedbackKind feedbackKind(const QString& error, const QString& message, bool isUploading);

} // namespace ViewRules

class Rules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    enum Feedback { None, Error, Progress, Done };
    Q_ENUM(Feedback)

    using QObject::QObject;

    Q_INVOKABLE static QString badgeLabel(const QString& name) {
        return ViewRules::badgeLabel(name);
    }
    Q_INVOKABLE static QString fileName(const QUrl& url) { return ViewRules::fileName(url); }
    Q_INVOKABLE static int recentRowCount(bool statusShown, bool usePassword, int fileCount) {
        return ViewRules::recentRowCount(statusShown, usePassword, fileCount);
    }
    Q_INVOKABLE static QString percentText(double progress) {
        return ViewRules::percentText(progress);
    }
    Q_INVOKABLE static QString uploadTitle(int count) { return ViewRules::uploadTitle(count); }
    Q_INVOKABLE static QString connectTitle(bool connecting) {
        return ViewRules::connectTitle(connecting);
    }
    Q_INVOKABLE static bool canConnect(const QString& code, bool connecting) {
        return ViewRules::canConnect(code, connecting);
    }
    Q_INVOKABLE static int feedback(const QString& error, const QString& message,
                                    bool isUploading) {
        return int(ViewRules::feedbackKind(error, message, isUploading));
    }
};
