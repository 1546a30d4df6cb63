#pragma once

#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <vector>

// A QR code of `text` (error correction M, the standard quiet zone of four
// modules), always dark modules on a light plate: many phone readers fail on
// inverted codes, so the dark appearance keeps these colours too. Module
// edges fall on whole pixels, so the code is crisp at any size.
class QrCode : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
public:
    static constexpr int quietZone = 4;

    // The modules row by row (true: dark), `size` × `size`; empty when the
    // text cannot be encoded.
    struct Matrix {
        int size = 0;
        std::vector<bool> dark;
    };
    static Matrix encode(const QString& text);

    explicit QrCode(QQuickItem* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void paint(QPainter* painter) override;

Q_SIGNALS:
    void textChanged();

private:
    QString m_text;
    Matrix m_matrix;
};
