// The manager window on the offscreen platform with its own detector and worker threads, modules on
// the emulated bus and the poll timer ticked by hand: the module list, the selected module's texts,
// control states, rename, erase, download (with a module that fails, and with GPX files read back by
// gpsbabel), the directory checks and F12.
#include "EmulatedBus.h"
#include "GpsbabelReader.h"
#include "ModalDialogAnswerer.h"
#include "QuorvelMainWindow.h"
#include "QuorvelMetaTypes.h"
#include "USBDetector.h"
#include "TestFiles.h"
#include "USBDeviceListWidgetItem.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QLoggingCategory>
#include <QtTest>

namespace
{
using testdevices::logTrack;
using testdevices::plugModule;
using testfiles::lineCount;
using testfiles::fileBytes;

const QString trackFile = QStringLiteral("_061220_093015.000.csv");
const QString nameError = QStringLiteral("Le nom doit contenir au plus 8 caractères alpha numériques.");
} // namespace

class TestQuorvelMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void interface();
    void form();
    void modulesListed();
    void unplugRemovesEntry();
    void moduleThisUserMayNotOpen();
    void controlStates();
    void memoryText_data();
    void memoryText();
    void rename_data();
    void rename();
    void erase();
    void browse();
    void download();
    void downloadWithoutDirectory_data();
    void downloadWithoutDirectory();
    void downloadWithGpx();
    void gpxNotWritten();
    void failingModule();
    void failureSaysWhy_data();
    void failureSaysWhy();
    void bootloaderKey();
    void realDialogs();

private:
    QListWidget *list() const { return m_window->findChild<QListWidget *>("listWidget"); }
    QLabel *label(const char *name) const { return m_window->findChild<QLabel *>(name); }
    QPushButton *button(const char *name) const { return m_window->findChild<QPushButton *>(name); }
    QLineEdit *lineEdit() const { return m_window->findChild<QLineEdit *>("lineEdit"); }
    QProgressBar *progressBar() const { return m_window->findChild<QProgressBar *>("progressBar"); }
    QCheckBox *gpxBox() const { return m_window->findChild<QCheckBox *>("checkBoxGpx"); }
    QTimer *refreshTimer() const
    {
        return m_window->findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly);
    }
    USBDeviceListWidgetItem *entry(int row) const
    {
        return static_cast<USBDeviceListWidgetItem *>(list()->item(row));
    }
    // One detector pass; true once the list holds `count` entries.
    bool scan(int count);
    void select(const QList<int> &rows);
    // Enabled state of list, progress bar, Effacer, Parcourir, Télécharger, Changer Nom, as 0/1.
    QString controls() const;
    bool idle() const { return list()->isEnabled(); }

    QuorvelMainWindow *m_window = nullptr;
    QStringList m_errors;      // title and text of each error box
    QStringList m_questions;   // title and text of each question
    bool m_answerYes = false;
    QString m_typedName;
    bool m_nameAccepted = true;
};

void TestQuorvelMainWindow::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.window.debug=true"));
    usb::setPlatformBackendEnabled(false);
    registerQuorvelMetaTypes();
}

void TestQuorvelMainWindow::init()
{
    usb::EmulatedBus::instance().reset();
    m_errors.clear();
    m_questions.clear();
    m_window = new QuorvelMainWindow;
    // Scans are driven by hand.
    refreshTimer()->stop();
    // No dialog ever waits for a user.
    m_window->dialogs().errorBox = [this](QWidget *, const QString &title, const QString &text) {
        m_errors << title << text;
    };
    m_window->dialogs().questionBox = [this](QWidget *, const QString &title, const QString &text) {
        m_questions << title << text;
        return m_answerYes;
    };
    m_window->dialogs().textPrompt = [this](QWidget *, const QString &, const QString &, const QString &,
                                            bool *ok) {
        *ok = m_nameAccepted;
        return m_typedName;
    };
    m_window->dialogs().directoryPrompt = [](QWidget *, const QString &) { return QString(); };
}

void TestQuorvelMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    // Entries, detector and worker gave every module back.
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    usb::EmulatedBus::instance().reset();
}

bool TestQuorvelMainWindow::scan(int count)
{
    QMetaObject::invokeMethod(refreshTimer(), "timeout");
    return QTest::qWaitFor([&] { return list()->count() == count; });
}

void TestQuorvelMainWindow::select(const QList<int> &rows)
{
    list()->clearSelection();
    for (int row : rows)
        list()->item(row)->setSelected(true);
}

QString TestQuorvelMainWindow::controls() const
{
    QString flags;
    const QWidget *widgets[] = {list(), progressBar(), button("pushButton"), button("pushButton_2"),
                                button("pushButton_3"), button("pushButton_4")};
    for (const QWidget *widget : widgets)
        flags += widget->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return flags;
}

void TestQuorvelMainWindow::interface()
{
    const QMetaObject &meta = QuorvelMainWindow::staticMetaObject;
    const QList<QByteArray> signalList = {
        "getDeviceInfo(USBDeviceDesc)",
        "setName(USBDeviceDesc,QString)",
        "eraseData(USBDeviceDesc)",
        "eraseData(QList<USBDeviceDesc>)",
        "saveData(USBDeviceDesc,QString)",
        "saveData(QList<USBDeviceDesc>,QString)",
        "getMemoryState(USBDeviceDesc)",
        "getMemoryState(QList<USBDeviceDesc>)",
        "bootloaderMode(USBDeviceDesc)",
    };
    const QList<QByteArray> slotList = {
        "addDevice(USBDeviceDesc)",
        "removeDevice(USBDeviceDesc)",
        "on_listWidget_itemSelectionChanged()",
        "on_pushButton_clicked()",
        "on_pushButton_2_clicked()",
        "on_pushButton_3_clicked()",
        "on_pushButton_4_clicked()",
        "deviceInfo(USBDeviceDesc)",
        "eraseFinished(USBDeviceDesc)",
        "eraseAllFinished(QList<USBDeviceDesc>)",
        "saveFinished(USBDeviceDesc)",
        "saveFailed(USBDeviceDesc)",
        "saveAllFinished(QList<USBDeviceDesc>)",
        "memoryState(USBDeviceDesc,MemoryState)",
        "saveProgress(USBDeviceDesc,int)",
        "eraseProgress(USBDeviceDesc,int)",
        "startbootLoader()",
    };
    const int first = meta.methodOffset();
    QCOMPARE(meta.methodCount() - first, signalList.size() + slotList.size());
    for (int i = 0; i < signalList.size(); ++i) {
        const QMetaMethod method = meta.method(first + i);
        QCOMPARE(method.methodSignature(), signalList.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Signal);
    }
    for (int i = 0; i < slotList.size(); ++i) {
        const QMetaMethod method = meta.method(first + signalList.size() + i);
        QCOMPARE(method.methodSignature(), slotList.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
    }
    QCOMPARE(meta.method(first + 5).parameterNames(), (QList<QByteArray>{"dList", "outDirectory"}));
    QCOMPARE(meta.method(first + 9).parameterNames(), QList<QByteArray>{"devDesc"});
}

void TestQuorvelMainWindow::form()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("QuorvelMainWindow"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane - v1.9"));
    QCOMPARE(m_window->size(), QSize(950, 547));
    QVERIFY(m_window->findChild<QStatusBar *>("statusBar"));
    QCOMPARE(list()->selectionMode(), QAbstractItemView::MultiSelection);
    QCOMPARE(list()->maximumWidth(), 300);
    QCOMPARE(list()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);

    const QPair<const char *, QString> buttons[] = {{"pushButton", "Effacer"},
                                                    {"pushButton_2", "Parcourir"},
                                                    {"pushButton_3", "Télécharger"},
                                                    {"pushButton_4", "Changer Nom"}};
    for (const auto &b : buttons) {
        QCOMPARE(button(b.first)->text(), b.second);
        QCOMPARE(button(b.first)->minimumWidth(), 150);
        QCOMPARE(button(b.first)->maximumWidth(), 150);
    }
    QCOMPARE(button("pushButton_3")->maximumHeight(), 150);
    QCOMPARE(label("label_2")->minimumWidth(), 200);
    for (const char *name : {"label", "label_2", "label_3"})
        QVERIFY(label(name)->text().isEmpty());
    QCOMPARE(label("label")->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QCOMPARE(progressBar()->value(), 0);
    QVERIFY(lineEdit()->text().isEmpty());
    // Only "Parcourir" and the list are usable before a module is selected.
    QCOMPARE(controls(), QStringLiteral("100100"));

    QCOMPARE(refreshTimer()->interval(), 2000);
    QVERIFY(!refreshTimer()->isSingleShot());
    QuorvelMainWindow fresh;
    QVERIFY(fresh.findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly)->isActive());
    auto *key = m_window->findChild<QShortcut *>("bootloaderKey");
    QCOMPARE(key->key(), QKeySequence(Qt::Key_F12));
    QCOMPARE(key->context(), Qt::ApplicationShortcut);

    // The GPX box comes after the download controls, which keep their places.
    auto *row = m_window->findChild<QHBoxLayout *>("horizontalLayout_2");
    QCOMPARE(row->count(), 4);
    QCOMPARE(row->indexOf(lineEdit()), 0);
    QCOMPARE(row->indexOf(button("pushButton_2")), 1);
    QCOMPARE(row->indexOf(button("pushButton_3")), 2);
    QCOMPARE(row->indexOf(gpxBox()), 3);
    QCOMPARE(gpxBox()->text(), QStringLiteral("GPX"));
    QVERIFY(!gpxBox()->isChecked());
    QVERIFY(gpxBox()->isEnabled());
}

void TestQuorvelMainWindow::modulesListed()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    plugModule("module-2", "A1B2C3D4E5F6", "LONGNAME");
    plugModule("module-3", "CAFE00000003", "X");
    usb::EmulatedBus::instance().setOpenFails("module-3", true);
    QTest::ignoreMessage(QtDebugMsg, "Device 0123456789AB added\n");
    QVERIFY(scan(3));
    QCOMPARE(entry(0)->text(), QStringLiteral("TRK1 (0123456789AB)"));
    QCOMPARE(entry(1)->text(), QStringLiteral("LONGNAME (A1B2C3D4E5F6)"));
    // Its identity could not be read: listed all the same.
    QCOMPARE(entry(2)->text(), QStringLiteral(" ()"));
    QCOMPARE(entry(0)->descriptor().hardwareVersion, QStringLiteral("1.4"));

    // A later pass with the same modules changes nothing.
    QVERIFY(scan(3));
    QCOMPARE(entry(0)->text(), QStringLiteral("TRK1 (0123456789AB)"));
}

void TestQuorvelMainWindow::moduleThisUserMayNotOpen()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    usb::EmulatedBus::instance().setOpenDenied("module-1", true);
    // The notice's debug line belongs to the device-opening category.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.window.debug=true\nkit.usb.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, "USB device emu:module-1 may not be opened (permission denied)\n");
    QVERIFY(scan(1));
    // Said on the tick after the pass that met it.
    QMetaObject::invokeMethod(refreshTimer(), "timeout");
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Accès refusé au périphérique USB emu:module-1 : installez la règle udev "
                            "70-korvane.rules, puis rebranchez l'appareil."));
}

void TestQuorvelMainWindow::unplugRemovesEntry()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    QVERIFY(scan(2));
    select({0, 1});

    usb::EmulatedBus::instance().detach("module-1");
    QTest::ignoreMessage(QtDebugMsg, "Found!\n");
    QVERIFY(scan(1));
    QCOMPARE(entry(0)->text(), QStringLiteral("TRK2 (A1B2C3D4E5F6)"));
    // The departed module's handle is closed once its entry is gone.
    QTRY_COMPARE(usb::EmulatedBus::instance().openHandles(), 1);
    // What stays selected is what the controls follow.
    QCOMPARE(label("label")->text().left(5), QStringLiteral("Nom :"));
    QCOMPARE(controls(), QStringLiteral("101111"));

    plugModule("module-1", "0123456789AB", "TRK1");
    QVERIFY(scan(2));
    QCOMPARE(entry(1)->text(), QStringLiteral("TRK1 (0123456789AB)"));
}

void TestQuorvelMainWindow::controlStates()
{
    plugModule("module-1", "0123456789AB", "TRK1")->setMemoryCounters(0x2000000, 0x100000, 4080);
    plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    QVERIFY(scan(2));

    select({0});
    QCOMPARE(controls(), QStringLiteral("101111"));
    QCOMPARE(label("label")->text(), QStringLiteral("Nom : TRK1\nNuméro de série : 0123456789AB\n"
                                                    "Version materiel : 1.4\nVersion logicielle : 2.0\n"));
    // Read on this thread: the text is there without any event processed.
    QCOMPARE(label("label_3")->text(), QStringLiteral("Stockage total : 33554432\n"
                                                      "Stockage utilisé : 1048576 (3%)\n"
                                                      "Enregistrement(s) : 4080\n"));

    list()->item(1)->setSelected(true);
    QCOMPARE(controls(), QStringLiteral("101110"));
    QCOMPARE(label("label")->text(), QStringLiteral("2 module séléctionnés"));
    QVERIFY(label("label_3")->text().isEmpty());

    list()->clearSelection();
    QCOMPARE(controls(), QStringLiteral("100100"));
    QCOMPARE(label("label")->text(), QStringLiteral("Aucun module séléctionné"));

    // While an erase runs everything is locked but the progress bar.
    select({1});
    m_answerYes = true;
    button("pushButton")->click();
    QCOMPARE(controls(), QStringLiteral("010000"));
    QTRY_VERIFY(idle());
    QCOMPARE(controls(), QStringLiteral("101111"));
    QVERIFY(label("label_2")->text().isEmpty());

    // An unplug during a request leaves one entry selected: shown, but not read while the worker
    // may be transferring on it.
    select({0, 1});
    button("pushButton")->click();
    const USBDeviceDesc departed = entry(1)->descriptor();
    QMetaObject::invokeMethod(m_window, "removeDevice", Q_ARG(USBDeviceDesc, departed));
    QCOMPARE(list()->count(), 1);
    QVERIFY(label("label")->text().startsWith(QStringLiteral("Nom : TRK1\n")));
    QVERIFY(label("label_3")->text().isEmpty());
    QCOMPARE(controls(), QStringLiteral("010000"));
    QTRY_VERIFY(idle());
    QCOMPARE(controls(), QStringLiteral("101111"));
}

void TestQuorvelMainWindow::memoryText_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("used");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("text");

    QTest::newRow("two thirds") << 3 << 2 << 1
        << "Stockage total : 3\nStockage utilisé : 2 (66%)\nEnregistrement(s) : 1\n";
    QTest::newRow("full") << 0x2000000 << 0x2000000 << 522240
        << "Stockage total : 33554432\nStockage utilisé : 33554432 (100%)\nEnregistrement(s) : 522240\n";
    QTest::newRow("no total") << 0 << 4096 << 12
        << "Stockage total : 0\nStockage utilisé : 4096\nEnregistrement(s) : 12\n";
    QTest::newRow("negative total") << -1 << 0 << 0
        << "Stockage total : -1\nStockage utilisé : 0\nEnregistrement(s) : 0\n";
    QTest::newRow("used past a tiny total") << 1 << 0x7FFFFFFF << 0
        << "Stockage total : 1\nStockage utilisé : 2147483647 (214748364700%)\nEnregistrement(s) : 0\n";
}

void TestQuorvelMainWindow::memoryText()
{
    QFETCH(int, total);
    QFETCH(int, used);
    QFETCH(int, records);
    QFETCH(QString, text);
    plugModule("module-1", "0123456789AB", "TRK1")->setMemoryCounters(total, used, records);
    QVERIFY(scan(1));
    QTest::ignoreMessage(QtDebugMsg, "memoryState 0123456789AB\n");
    select({0});
    QCOMPARE(label("label_3")->text(), text);
}

void TestQuorvelMainWindow::rename_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("valid");

    QTest::newRow("letters, digits, underscore") << "ABC_12" << true << true;
    QTest::newRow("eight characters") << "abcdefgh" << true << true;
    QTest::newRow("nine letters") << "ABCDEFGHI" << true << false;
    QTest::newRow("blank inside") << "AB CD" << true << false;
    QTest::newRow("trailing blank") << "ABCD " << true << false;
    QTest::newRow("empty") << "" << true << false;
    QTest::newRow("punctuation") << "AB-CD" << true << false;
    // The module keeps its name in 8 plain bytes.
    QTest::newRow("accented") << "ÉTÉ" << true << false;
    QTest::newRow("cancelled") << "ABC_12" << false << false;
}

void TestQuorvelMainWindow::rename()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(bool, valid);
    auto module = plugModule("module-1", "0123456789AB", "TRK1");
    QVERIFY(scan(1));
    QStringList prompt;
    QWidget *promptParent = nullptr;
    m_window->dialogs().textPrompt = [&](QWidget *parent, const QString &title, const QString &text,
                                         const QString &initial, bool *ok) {
        promptParent = parent;
        prompt << title << text << initial;
        *ok = accepted;
        return typed;
    };
    QSignalSpy renames(m_window, SIGNAL(setName(USBDeviceDesc, QString)));
    select({0});

    button("pushButton_4")->click();
    // The dialog starts from the module's current name.
    QCOMPARE(prompt, (QStringList{"Modifier le nom", "Nom", "TRK1"}));
    QCOMPARE(promptParent, static_cast<QWidget *>(m_window));
    if (!valid) {
        QCOMPARE(m_errors, (QStringList{"Erreur", nameError}));
        QCOMPARE(renames.size(), 0);
        QCOMPARE(entry(0)->text(), QStringLiteral("TRK1 (0123456789AB)"));
        QVERIFY(entry(0)->isSelected());
        return;
    }
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(renames.size(), 1);
    const USBDeviceDesc sent = renames.at(0).at(0).value<USBDeviceDesc>();
    QVERIFY(sent.sameDevice(entry(0)->descriptor()));
    QCOMPARE(sent.name, QStringLiteral("TRK1"));
    QCOMPARE(renames.at(0).at(1).toString(), typed);
    QCOMPARE(entry(0)->text(), typed + QStringLiteral(" (0123456789AB)"));
    QCOMPARE(entry(0)->descriptor().name, typed);
    QVERIFY(list()->selectedItems().isEmpty());
    QCOMPARE(label("label")->text(), QStringLiteral("Aucun module séléctionné"));
    QCOMPARE(controls(), QStringLiteral("100100"));
    QTRY_COMPARE(QString::fromStdString(module->name()), typed);
}

void TestQuorvelMainWindow::erase()
{
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    auto b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    logTrack(*a, 10);
    logTrack(*b, 2000);  // two sectors
    QVERIFY(scan(2));
    QSignalSpy erases(m_window, SIGNAL(eraseData(QList<USBDeviceDesc>)));
    select({1, 0});

    // Refused: nothing goes to the modules.
    m_answerYes = false;
    button("pushButton")->click();
    QCOMPARE(m_questions,
             (QStringList{"Effacer", "Etes vous certain de vouloir supprimer toutes les captures "
                                     "des modules séléctionnés?"}));
    QCOMPARE(erases.size(), 0);
    QCOMPARE(controls(), QStringLiteral("101110"));

    QList<QPair<QString, int>> shown;
    connect(progressBar(), &QProgressBar::valueChanged, this,
            [&](int value) { shown << qMakePair(label("label_2")->text(), value); });
    m_answerYes = true;
    button("pushButton")->click();
    QCOMPARE(erases.size(), 1);
    const QList<USBDeviceDesc> sent = erases.at(0).at(0).value<QList<USBDeviceDesc>>();
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent.at(0).sameDevice(entry(1)->descriptor()));
    QVERIFY(sent.at(1).sameDevice(entry(0)->descriptor()));
    QTRY_VERIFY(idle());

    QCOMPARE(a->erasedPageIndexes(), std::vector<uint32_t>{0});
    QCOMPARE(b->erasedPageIndexes(), (std::vector<uint32_t>{0, 256}));
    QCOMPARE(a->endEraseCount(), 1);
    QCOMPARE(b->endEraseCount(), 1);
    // Both modules went from 0 to 100, in selection order.
    QVERIFY(shown.contains(qMakePair(QStringLiteral("TRK2 (A1B2C3D4E5F6)"), 100)));
    QVERIFY(shown.contains(qMakePair(QStringLiteral("TRK1 (0123456789AB)"), 0)));
    QCOMPARE(shown.last(), qMakePair(QStringLiteral("TRK1 (0123456789AB)"), 100));
    QCOMPARE(progressBar()->maximum(), 100);
    QCOMPARE(controls(), QStringLiteral("101110"));
    QVERIFY(label("label_2")->text().isEmpty());
}

void TestQuorvelMainWindow::browse()
{
    QStringList captions;
    QString chosen = QStringLiteral("/tmp/tracks");
    m_window->dialogs().directoryPrompt = [&](QWidget *, const QString &caption) {
        captions << caption;
        return chosen;
    };
    button("pushButton_2")->click();
    QCOMPARE(lineEdit()->text(), chosen);
    // A cancelled dialog empties the field.
    chosen.clear();
    button("pushButton_2")->click();
    QVERIFY(lineEdit()->text().isEmpty());
    QCOMPARE(captions, (QStringList{"Repertoire de sauvegarde", "Repertoire de sauvegarde"}));
}

void TestQuorvelMainWindow::download()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    auto b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    logTrack(*a, 10);
    logTrack(*b, 25);
    QVERIFY(scan(2));
    QSignalSpy saves(m_window, SIGNAL(saveData(QList<USBDeviceDesc>, QString)));
    QList<QPair<QString, int>> shown;
    connect(progressBar(), &QProgressBar::valueChanged, this,
            [&](int value) { shown << qMakePair(label("label_2")->text(), value); });
    select({0, 1});
    lineEdit()->setText(dir.path());

    button("pushButton_3")->click();
    QCOMPARE(controls(), QStringLiteral("010000"));
    QCOMPARE(saves.size(), 1);
    QCOMPARE(saves.at(0).at(0).value<QList<USBDeviceDesc>>().size(), 2);
    QCOMPARE(saves.at(0).at(1).toString(), dir.path());
    QTRY_VERIFY(idle());

    QVERIFY(m_errors.isEmpty());
    QCOMPARE(lineCount(dir.filePath("TRK1_0123456789AB" + trackFile)), 11);
    QCOMPARE(lineCount(dir.filePath("TRK2_A1B2C3D4E5F6" + trackFile)), 26);
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first().first, QStringLiteral("TRK1 (0123456789AB)"));
    QCOMPARE(shown.last().first, QStringLiteral("TRK2 (A1B2C3D4E5F6)"));
    QVERIFY(shown.last().second >= 100);
    QCOMPARE(controls(), QStringLiteral("101110"));
    QVERIFY(label("label_2")->text().isEmpty());
}

void TestQuorvelMainWindow::downloadWithoutDirectory_data()
{
    QTest::addColumn<QString>("field");
    QTemporaryDir dir;
    QTest::newRow("missing folder") << dir.path() + QStringLiteral("/nowhere");
    QTest::newRow("empty field") << QString();
    QTest::newRow("a file") << QCoreApplication::applicationFilePath();
}

void TestQuorvelMainWindow::downloadWithoutDirectory()
{
    QFETCH(QString, field);
    plugModule("module-1", "0123456789AB", "TRK1");
    QVERIFY(scan(1));
    QSignalSpy saves(m_window, SIGNAL(saveData(QList<USBDeviceDesc>, QString)));
    select({0});
    lineEdit()->setText(field);

    button("pushButton_3")->click();
    QCOMPARE(m_errors, (QStringList{"Erreur", "Le répertoire n'existe pas."}));
    QCOMPARE(saves.size(), 0);
    QCOMPARE(controls(), QStringLiteral("101111"));
}

void TestQuorvelMainWindow::downloadWithGpx()
{
    QTemporaryDir dir;
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    auto b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    logTrack(*a, 12);
    logTrack(*b, 25);
    QVERIFY(scan(2));
    select({0, 1});
    lineEdit()->setText(dir.path());
    gpxBox()->setChecked(true);

    button("pushButton_3")->click();
    // Not changed while the download runs.
    QVERIFY(!gpxBox()->isEnabled());
    QTRY_VERIFY(idle());
    QVERIFY(gpxBox()->isEnabled());
    QVERIFY(m_errors.isEmpty());

    // A GPX file beside each CSV file, written as quorvel-cli writes it, under the program's name.
    const QString first = QStringLiteral("TRK1_0123456789AB_061220_093015.000");
    const QString second = QStringLiteral("TRK2_A1B2C3D4E5F6_061220_093015.000");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             (QStringList{first + ".csv", first + ".gpx", second + ".csv", second + ".gpx"}));
    QCOMPARE(fileBytes(dir.filePath(first + ".gpx")),
             fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/window/") + first + ".gpx"));
    if (GpsbabelReader::available()) {
        for (const QString &track : {first, second}) {
            const QString mismatch =
                GpsbabelReader::mismatch(dir.filePath(track + ".gpx"), dir.filePath(track + ".csv"),
                                         QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz"));
            QVERIFY2(mismatch.isEmpty(), qPrintable(track + ": " + mismatch));
        }
    } else {
        qWarning("gpsbabel is not installed: GPX files not read back");
    }

    // Unchecked, the next download writes CSV files only.
    QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
    gpxBox()->setChecked(false);
    select({0});
    button("pushButton_3")->click();
    QTRY_VERIFY(idle());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{first + ".csv"});
}

void TestQuorvelMainWindow::gpxNotWritten()
{
    QTemporaryDir dir;
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    logTrack(*a, 5);
    QVERIFY(scan(1));
    select({0});
    lineEdit()->setText(dir.path());
    gpxBox()->setChecked(true);
    // A folder stands where the GPX file goes: the CSV file is written, the GPX file is named.
    const QString gpx = dir.filePath("TRK1_0123456789AB_061220_093015.000.gpx");
    QVERIFY(QDir().mkdir(gpx));

    button("pushButton_3")->click();
    QTRY_VERIFY(idle());
    QCOMPARE(lineCount(dir.filePath("TRK1_0123456789AB" + trackFile)), 6);
    QCOMPARE(m_errors, (QStringList{"Erreur", "Ces fichiers GPX n'ont pas pu être écrits :\n"
                                                  + QDir::toNativeSeparators(gpx)}));
}

void TestQuorvelMainWindow::failingModule()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    auto b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    auto c = plugModule("module-3", "CAFE00000003", "TRK3");
    for (const auto &module : {a, b, c})
        logTrack(*module, 30);
    QVERIFY(scan(3));
    select({0, 1, 2});
    lineEdit()->setText(dir.path());
    // The second module stops answering a few pages into its download.
    usb::Fault fault;
    fault.kind = usb::FaultKind::Fail;
    fault.atTransfer = 30;
    fault.path = "module-2";
    usb::EmulatedBus::instance().addFault(fault);

    QTest::ignoreMessage(QtDebugMsg, "saveFailed A1B2C3D4E5F6\n");
    button("pushButton_3")->click();
    QTRY_VERIFY(idle());

    QCOMPARE(m_errors, (QStringList{"Erreur", QStringLiteral("L'enregistrement des données de TRK2 a "
                                                             "échoué\nErreur de lecture du module.\n"
                                                             "Fichier incomplet : %1")
                                                  .arg(dir.filePath("TRK2_A1B2C3D4E5F6" + trackFile))}));
    QCOMPARE(lineCount(dir.filePath("TRK1_0123456789AB" + trackFile)), 31);
    QCOMPARE(lineCount(dir.filePath("TRK3_CAFE00000003" + trackFile)), 31);
    // What was read before the failure stays on disk.
    QVERIFY(QFile::exists(dir.filePath("TRK2_A1B2C3D4E5F6" + trackFile)));
    QCOMPARE(controls(), QStringLiteral("101110"));
}

void TestQuorvelMainWindow::failureSaysWhy_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QString>("said");
    QTest::newRow("module unplugged past its used memory")
        << false << QStringLiteral("Le module a été débranché.\nFichier incomplet : %1");
    QTest::newRow("disk full") << true << QStringLiteral("Le disque est plein.\nFichier non écrit : %1");
}

// The box says why, and names the track file; the bar never shows 100 % for a failed download,
// even when reading had gone past the used memory (where the count passes 100).
void TestQuorvelMainWindow::failureSaysWhy()
{
    QFETCH(bool, diskFull);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString track = dir.filePath("TRK1_0123456789AB" + trackFile);
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    logTrack(*a, 30);
    QVERIFY(scan(1));
    select({0});
    lineEdit()->setText(dir.path());
    if (diskFull) {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("needs /dev/full");
        QVERIFY(QFile::link("/dev/full", track));
    } else {
        // After the memory counters, five transfers per page: gone at the read of page 100.
        usb::Fault fault;
        fault.kind = usb::FaultKind::Unplug;
        fault.atTransfer = 1 + 5 * 100 + 1;
        fault.path = "module-1";
        usb::EmulatedBus::instance().addFault(fault);
    }
    int highest = 0;
    // Disconnected when this test returns, before `highest` goes.
    QObject watching;
    connect(progressBar(), &QProgressBar::valueChanged, &watching,
            [&](int value) { highest = qMax(highest, value); });

    button("pushButton_3")->click();
    QTRY_VERIFY(idle());

    QCOMPARE(m_errors, (QStringList{"Erreur", QStringLiteral("L'enregistrement des données de TRK1 a "
                                                             "échoué\n")
                                                  + said.arg(track)}));
    QVERIFY(highest < 100);
    QVERIFY(progressBar()->value() < 100);
    // A file of which nothing could be written is not left behind.
    QCOMPARE(QFileInfo::exists(track), !diskFull);
}

void TestQuorvelMainWindow::bootloaderKey()
{
    auto a = plugModule("module-1", "0123456789AB", "TRK1");
    auto b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    QVERIFY(scan(2));
    m_window->show();
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QSignalSpy bootloader(m_window, SIGNAL(bootloaderMode(USBDeviceDesc)));

    QTest::keyClick(m_window, Qt::Key_F12);
    select({0, 1});
    QTest::keyClick(m_window, Qt::Key_F12);
    QCOMPARE(bootloader.size(), 0);

    select({1});
    QTest::keyClick(m_window, Qt::Key_F12);
    QCOMPARE(bootloader.size(), 1);
    QVERIFY(bootloader.at(0).at(0).value<USBDeviceDesc>().sameDevice(entry(1)->descriptor()));
    QTRY_VERIFY(b->bootloaderRequested());
    QVERIFY(!a->bootloaderRequested());
}

void TestQuorvelMainWindow::realDialogs()
{
    auto module = plugModule("module-1", "0123456789AB", "TRK1");
    QuorvelMainWindow window;
    window.findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly)->stop();
    delete m_window;
    m_window = nullptr;
    auto *entries = window.findChild<QListWidget *>("listWidget");
    QMetaObject::invokeMethod(window.findChild<QTimer *>("refreshTimer"), "timeout");
    QTRY_COMPARE(entries->count(), 1);
    entries->item(0)->setSelected(true);

    ModalDialogAnswerer answerer;
    answerer.setText(QStringLiteral("ABCDEFGHI"));
    window.findChild<QPushButton *>("pushButton_4")->click();
    QCOMPARE(answerer.seen(), (QStringList{"Modifier le nom", "Nom", "Erreur", nameError}));
    QCOMPARE(answerer.buttons(), QList<QMessageBox::StandardButtons>{QMessageBox::Ok});

    answerer.clear();
    window.findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(answerer.seen().size(), 2);
    QCOMPARE(answerer.seen().at(0), QStringLiteral("Effacer"));
    QCOMPARE(answerer.buttons(), QList<QMessageBox::StandardButtons>{QMessageBox::Yes | QMessageBox::No});
    QVERIFY(window.findChild<QListWidget *>("listWidget")->isEnabled());

    answerer.clear();
    auto *field = window.findChild<QLineEdit *>("lineEdit");
    field->setText(QStringLiteral("/tmp"));
    window.findChild<QPushButton *>("pushButton_2")->click();
    QCOMPARE(answerer.seen(), QStringList{"Repertoire de sauvegarde"});
    QVERIFY(field->text().isEmpty());
}

QTEST_MAIN(TestQuorvelMainWindow)
#include "tst_quorvelmainwindow.moc"
