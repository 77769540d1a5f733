// quorvel-cli's argument reading: every command with its options, and the usage errors that end the
// program with status 2 before any module is touched.
#include "CliCommand.h"

#include <QtTest>

Q_DECLARE_METATYPE(CliCommand::Action)

class TestCliCommand : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void usageErrors_data();
    void usageErrors();
    void names_data();
    void names();
};

void TestCliCommand::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CliCommand::Action>("action");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("gpx");
    QTest::addColumn<bool>("verbose");

    using A = CliCommand::Action;
    QTest::newRow("help") << QStringList{"--help"} << A::Help << "" << "" << "" << false << false;
    QTest::newRow("help wins over errors") << QStringList{"frobnicate", "--bad", "-h"} << A::Help << ""
                                           << "" << "" << false << false;
    QTest::newRow("list") << QStringList{"list"} << A::List << "" << "" << "" << false << false;
    QTest::newRow("list verbose") << QStringList{"--verbose", "list"} << A::List << "" << "" << ""
                                  << false << true;
    QTest::newRow("download") << QStringList{"download", "--dir", "/tmp/out"} << A::Download
                              << "/tmp/out" << "" << "" << false << false;
    QTest::newRow("download with equals, serial, gpx")
        << QStringList{"download", "--gpx", "--serial=0123456789AB", "--dir=/a b"} << A::Download << "/a b"
        << "0123456789AB" << "" << true << false;
    QTest::newRow("directory starting with a dash") << QStringList{"download", "--dir", "-out"}
                                                    << A::Download << "-out" << "" << "" << false << false;
    QTest::newRow("erase") << QStringList{"erase", "--yes", "--serial", "S1"} << A::Erase << "" << "S1"
                           << "" << false << false;
    QTest::newRow("rename") << QStringList{"rename", "--serial", "S1", "ABC_12"} << A::Rename << "" << "S1"
                            << "ABC_12" << false << false;
    QTest::newRow("rename, name first") << QStringList{"rename", "NEW", "--serial=S1"} << A::Rename << ""
                                        << "S1" << "NEW" << false << false;
    QTest::newRow("bootloader") << QStringList{"bootloader", "--serial", "S1"} << A::Bootloader << ""
                                << "S1" << "" << false << false;
}

void TestCliCommand::commands()
{
    QFETCH(QStringList, arguments);
    const CliCommand command = CliCommand::parse(arguments);
    QVERIFY2(command.isValid(), qPrintable(command.usageError));
    QTEST(command.action, "action");
    QTEST(command.directory, "directory");
    QTEST(command.serial, "serial");
    QTEST(command.name, "name");
    QTEST(command.gpx, "gpx");
    QTEST(command.verbose, "verbose");
    QCOMPARE(command.confirmed, command.action == CliCommand::Action::Erase);
}

void TestCliCommand::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("nothing") << QStringList{} << "No command given.";
    QTest::newRow("options only") << QStringList{"--verbose"} << "No command given.";
    QTest::newRow("unknown command") << QStringList{"format"} << "Unknown command format.";
    QTest::newRow("unknown option") << QStringList{"list", "--all"} << "Unknown option --all.";
    QTest::newRow("unknown short option") << QStringList{"list", "-v"} << "Unknown option -v.";
    QTest::newRow("option of another command") << QStringList{"list", "--serial", "S1"}
                                               << "The list command takes no --serial option.";
    QTest::newRow("gpx on erase") << QStringList{"erase", "--serial", "S1", "--yes", "--gpx"}
                                  << "The erase command takes no --gpx option.";
    QTest::newRow("stray word") << QStringList{"list", "now"} << "Unexpected argument now.";
    QTest::newRow("download without dir") << QStringList{"download"} << "The download command needs --dir DIR.";
    QTest::newRow("empty dir") << QStringList{"download", "--dir="} << "Option --dir needs a value.";
    QTest::newRow("empty dir word") << QStringList{"download", "--dir", ""} << "Option --dir needs a value.";
    QTest::newRow("dir at the end") << QStringList{"download", "--dir"} << "Option --dir needs a value.";
    QTest::newRow("dir followed by an option") << QStringList{"download", "--dir", "--gpx"}
                                               << "Option --dir needs a value.";
    QTest::newRow("dir twice") << QStringList{"download", "--dir", "a", "--dir", "b"}
                               << "Option --dir given twice.";
    QTest::newRow("flag with a value") << QStringList{"download", "--dir", "a", "--gpx=yes"}
                                       << "Option --gpx takes no value.";
    QTest::newRow("erase without yes") << QStringList{"erase", "--serial", "S1"}
                                       << "Erasing deletes every track of the module: confirm with --yes.";
    QTest::newRow("erase without serial") << QStringList{"erase", "--yes"} << "The erase command needs --serial S.";
    QTest::newRow("rename without serial") << QStringList{"rename", "ABC"} << "The rename command needs --serial S.";
    QTest::newRow("rename without name") << QStringList{"rename", "--serial", "S1"}
                                         << "The rename command needs a name.";
    QTest::newRow("rename with two names") << QStringList{"rename", "--serial", "S1", "A", "B"}
                                           << "Unexpected argument B.";
    QTest::newRow("rename, nine letters") << QStringList{"rename", "--serial", "S1", "ABCDEFGHI"}
                                          << "Invalid name ABCDEFGHI: a name has 1 to 8 letters, digits or '_'.";
    QTest::newRow("bootloader without serial") << QStringList{"bootloader"}
                                               << "The bootloader command needs --serial S.";
}

void TestCliCommand::usageErrors()
{
    QFETCH(QStringList, arguments);
    const CliCommand command = CliCommand::parse(arguments);
    QVERIFY(!command.isValid());
    QTEST(command.usageError, "error");
}

void TestCliCommand::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    QTest::newRow("one letter") << "A" << true;
    QTest::newRow("eight") << "ABCD_123" << true;
    QTest::newRow("nine") << "ABCD_1234" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank inside") << "AB CD" << false;
    QTest::newRow("trailing blank") << "ABCD " << false;
    QTest::newRow("dash") << "AB-CD" << false;
    QTest::newRow("trailing newline") << "ABCD\n" << false;
    // Word characters are ASCII ones, as the module's 8-byte name field wants.
    QTest::newRow("accented letters") << QStringLiteral("\u00e9t\u00e9") << false;
}

void TestCliCommand::names()
{
    QFETCH(QString, name);
    QTEST(CliCommand::isValidName(name), "valid");
    const CliCommand command = CliCommand::parse({"rename", "--serial", "S1", name});
    QTEST(command.isValid(), "valid");
}

QTEST_GUILESS_MAIN(TestCliCommand)
#include "tst_clicommand.moc"
