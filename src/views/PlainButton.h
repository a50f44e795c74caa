#pragma once

#include <QAbstractButton>
#include <QColor>

namespace trimora {

// A borderless button drawn as its text or symbol alone; dims while pressed.
class PlainButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit PlainButton(QWidget *parent = nullptr);

    // Shows the named symbol (see Symbols) at the given size instead of text.
    void setSymbol(const QString &name, int size);
    QString symbol() const { return m_symbol; }
    void setColor(const QColor &color);
    QColor color() const { return m_color; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    int m_symbolSize = 0;
    QColor m_color;
};

} // namespace trimora
