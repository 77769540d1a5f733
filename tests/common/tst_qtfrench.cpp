// Qt's own texts in French: the standard buttons of message boxes and dialogs, while the programs'
// own French texts stay exactly as written.
#include "QtFrench.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class TestQtFrench : public QObject
{
    Q_OBJECT

private slots:
    void standardTextsInFrench();
};

void TestQtFrench::standardTextsInFrench()
{
    QDialogButtonBox before(QDialogButtonBox::Yes | QDialogButtonBox::No);
    QCOMPARE(before.button(QDialogButtonBox::Yes)->text(), QStringLiteral("&Yes"));

    QVERIFY2(installQtFrenchTranslations(*QCoreApplication::instance()),
             "Qt's French catalog (qttranslations5-l10n) is missing");

    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Yes)->text(), QStringLiteral("&Oui"));
    QCOMPARE(box.button(QDialogButtonBox::No)->text(), QStringLiteral("&Non"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Annuler"));
    QMessageBox question(QMessageBox::Question, QStringLiteral("Effacer"), QStringLiteral("Texte"),
                         QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.button(QMessageBox::Yes)->text(), QStringLiteral("&Oui"));

    // The programs' texts have no catalog: they come out as written, accents and all.
    QCOMPARE(QCoreApplication::translate("KorvaneMainWindow", "Recepteur non connecté"),
             QStringLiteral("Recepteur non connecté"));
    QCOMPARE(QCoreApplication::translate("QuorvelMainWindow", "Aucun module séléctionné"),
             QStringLiteral("Aucun module séléctionné"));
}

QTEST_MAIN(TestQtFrench)
#include "tst_qtfrench.moc"
