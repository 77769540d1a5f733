// The measurement-interval spin box of the station's toolbar, in seconds: it only lets the user
// reach 0.1, 0.2, 0.5 and the whole numbers up to its maximum.
#pragma once

#include <QDoubleSpinBox>

class FreqSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit FreqSpinBox(QWidget *parent = nullptr);

public slots:
    // Up: 0.1 -> 0.2 -> 0.5 -> 1, then whole seconds. Down retraces the same steps and stops at 0.1.
    void stepBy(int steps) override;
    // Accepts only texts whose value is one of the reachable intervals.
    QValidator::State validate(QString &text, int &pos) const override;
};
