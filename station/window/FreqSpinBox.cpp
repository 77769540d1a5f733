// Interval spin box: the beacon counts its interval in tenths of a second, and below one second
// only 0.1, 0.2 and 0.5 s are offered.
#include "FreqSpinBox.h"

#include <QLocale>

#include <cmath>

FreqSpinBox::FreqSpinBox(QWidget *parent) : QDoubleSpinBox(parent)
{
}

void FreqSpinBox::stepBy(int steps)
{
    // The stored value is rounded to the spin box's decimals, so it compares exactly with these.
    for (; steps > 0; --steps) {
        const double v = value();
        if (v == 0.1)
            setValue(0.2);
        else if (v == 0.2)
            setValue(0.5);
        else if (v == 0.5)
            setValue(1);
        else
            setValue(v + 1);
    }
    for (; steps < 0; ++steps) {
        const double v = value();
        if (v == 0.1)
            return;
        if (v == 0.2)
            setValue(0.1);
        else if (v == 0.5)
            setValue(0.2);
        else if (v == 1)
            setValue(0.5);
        else
            setValue(v - 1);
    }
}

QValidator::State FreqSpinBox::validate(QString &text, int &pos) const
{
    const QValidator::State result = QDoubleSpinBox::validate(text, pos);
    if (result != QValidator::Acceptable)
        return result;

    bool ok = false;
    const double v = QLocale().toDouble(text, &ok);
    if (!ok)
        return result;
    const bool allowed = v >= 1 ? std::floor(v) == v : (v == 0.5 || v == 0.2 || v == 0.1);
    return allowed ? result : QValidator::Invalid;
}
