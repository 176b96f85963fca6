#include "ui/StatusPicture.h"

#include <QPainter>

StatusPicture::StatusPicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("picStatus"));
    setMinimumWidth(120);
}

void StatusPicture::SetPercent(double percent) {
    const double shown = percent >= 0 && percent <= 100 ? percent : -1;
    if (shown == percent_)
        return;
    percent_ = shown;
    update();
}

QSize StatusPicture::sizeHint() const {
    return {160, fontMetrics().height() + 4};
}

void StatusPicture::paintEvent(QPaintEvent*) {
    if (percent_ < 0)
        return;
    QPainter painter(this);
    const QRect frame = rect().adjusted(1, 2, -2, -2);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    QRect filled = frame.adjusted(1, 1, 0, 0);
    filled.setWidth(static_cast<int>(filled.width() * percent_ / 100.0));
    painter.fillRect(filled, palette().color(QPalette::Highlight));
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    const QString figure = QString::number(percent_, 'f', 2) + QLatin1Char('%');
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(frame, Qt::AlignCenter, figure);
    // Over the filled part the figure takes the highlight's own text colour.
    painter.setClipRect(filled);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(frame, Qt::AlignCenter, figure);
}
