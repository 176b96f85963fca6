#pragma once
#include <QWidget>

// The status bar's picture of a running backup: the file's percentage as a
// bar across the picture's width, its figure centred on it in bold.
class StatusPicture : public QWidget {
    Q_OBJECT

public:
    explicit StatusPicture(QWidget* parent = nullptr);
    // 0 to 100; anything else clears the picture.
    void SetPercent(double percent);
    double Percent() const { return percent_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double percent_ = -1;
};
