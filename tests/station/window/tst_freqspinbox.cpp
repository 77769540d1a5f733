// The measurement-interval spin box: its step ladder 0.1, 0.2, 0.5, 1, 2 … 60 and the texts it
// accepts, in a point-decimal and a comma-decimal locale.
#include "FreqSpinBox.h"

#include <QLineEdit>
#include <QtTest>

class TestFreqSpinBox : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void interface();
    void stepping_data();
    void stepping();
    void arrowKeysFollowTheLadder();
    void validation_data();
    void validation();

private:
    // Configured as the window's toolbar box.
    static void configure(FreqSpinBox &box)
    {
        box.setMaximum(60);
        box.setMinimum(0.1);
        box.setValue(1);
    }
};

void TestFreqSpinBox::cleanup()
{
    QLocale::setDefault(QLocale::c());
}

void TestFreqSpinBox::interface()
{
    const QMetaObject &meta = FreqSpinBox::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
    QCOMPARE(meta.method(meta.methodOffset()).methodSignature(), QByteArray("stepBy(int)"));
    QCOMPARE(meta.method(meta.methodOffset() + 1).methodSignature(),
             QByteArray("validate(QString&,int&)"));
    QCOMPARE(meta.method(meta.methodOffset() + 1).methodType(), QMetaMethod::Slot);
}

void TestFreqSpinBox::stepping_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<QList<int>>("calls");
    QTest::addColumn<QList<double>>("after");

    QTest::newRow("down at the bottom stays") << 0.1 << QList<int>{-1} << QList<double>{0.1};
    QTest::newRow("down three times from 1")
        << 1.0 << QList<int>{-1, -1, -1} << QList<double>{0.5, 0.2, 0.1};
    QTest::newRow("two steps up from 0.2 in one call") << 0.2 << QList<int>{2} << QList<double>{1};
    QTest::newRow("up at the top stays") << 60.0 << QList<int>{1} << QList<double>{60};
    QTest::newRow("up through the ladder") << 0.1 << QList<int>{1, 1, 1, 1}
                                           << QList<double>{0.2, 0.5, 1, 2};
    QTest::newRow("whole seconds down to 1") << 3.0 << QList<int>{-2} << QList<double>{1};
    QTest::newRow("remaining steps dropped at 0.1") << 2.0 << QList<int>{-9} << QList<double>{0.1};
    QTest::newRow("many steps clamp at 60") << 58.0 << QList<int>{5} << QList<double>{60};
    QTest::newRow("no step") << 0.5 << QList<int>{0} << QList<double>{0.5};
}

void TestFreqSpinBox::stepping()
{
    QFETCH(double, start);
    QFETCH(QList<int>, calls);
    QFETCH(QList<double>, after);

    FreqSpinBox box;
    configure(box);
    box.setValue(start);
    for (int i = 0; i < calls.size(); ++i) {
        box.stepBy(calls.at(i));
        QCOMPARE(box.value(), after.at(i));
    }
}

void TestFreqSpinBox::arrowKeysFollowTheLadder()
{
    FreqSpinBox box;
    configure(box);
    box.setValue(0.5);
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(box.value(), 1.0);
    QTest::keyClick(&box, Qt::Key_Down);
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.value(), 0.2);
}

void TestFreqSpinBox::validation_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    const QLocale c = QLocale::c();
    const QLocale french(QLocale::French, QLocale::France);
    QTest::newRow("0.5") << c << "0.5" << int(QValidator::Acceptable);
    QTest::newRow("0.10") << c << "0.10" << int(QValidator::Acceptable);
    QTest::newRow("12") << c << "12" << int(QValidator::Acceptable);
    QTest::newRow("60.00") << c << "60.00" << int(QValidator::Acceptable);
    QTest::newRow("0.3") << c << "0.3" << int(QValidator::Invalid);
    QTest::newRow("2.5") << c << "2.5" << int(QValidator::Invalid);
    QTest::newRow("1.01") << c << "1.01" << int(QValidator::Invalid);
    QTest::newRow("empty stays intermediate") << c << "" << int(QValidator::Intermediate);
    QTest::newRow("too many decimals") << c << "0.125" << int(QValidator::Invalid);
    QTest::newRow("fr 2,5") << french << "2,5" << int(QValidator::Invalid);
    QTest::newRow("fr 0,3") << french << "0,3" << int(QValidator::Invalid);
    QTest::newRow("fr 0,5") << french << "0,5" << int(QValidator::Acceptable);
    QTest::newRow("fr 0,2") << french << "0,2" << int(QValidator::Acceptable);
    QTest::newRow("fr 12") << french << "12" << int(QValidator::Acceptable);
}

void TestFreqSpinBox::validation()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(int, expected);

    // The box takes the default locale when it is created.
    QLocale::setDefault(locale);
    FreqSpinBox box;
    configure(box);
    int pos = text.size();
    QCOMPARE(int(box.validate(text, pos)), expected);
}

QTEST_MAIN(TestFreqSpinBox)
#include "tst_freqspinbox.moc"
