// The udev rule as configured for installation: every line parses as udev reads it (keys,
// operators, quoted values), it runs before 73-seat-late.rules, calls the helper at its installed
// path, and opens only the devices the helper names. Debian 12's udevadm cannot verify a rules
// file, so its grammar is checked here.
#include <QtTest>

#include <optional>

namespace {

struct Assignment {
    QString key;
    QString op;
    QString value;
};

// The comma-separated "KEY{attribute}OP"value"" pairs of a rule line; nothing when one is malformed.
std::optional<QList<Assignment>> parseRule(const QString &line)
{
    static const QRegularExpression pair(QStringLiteral(
        "^\\s*([A-Z]+(?:\\{[A-Za-z0-9_]+\\})?)\\s*(==|!=|\\+=|-=|:=|=)\\s*\"([^\"]*)\"\\s*(,|$)"));
    QList<Assignment> assignments;
    QString rest = line;
    while (!rest.trimmed().isEmpty()) {
        const QRegularExpressionMatch match = pair.match(rest);
        if (!match.hasMatch())
            return std::nullopt;
        assignments.append({match.captured(1), match.captured(2), match.captured(3)});
        rest = rest.mid(match.capturedEnd());
    }
    return assignments;
}

bool isMatch(const QString &op) { return op == "==" || op == "!="; }

} // namespace

class TestUdevRule : public QObject {
    Q_OBJECT

private slots:
    void ruleParsesAndIsOrderedBeforeSeatLate();
    void opensOnlyWhatTheHelperNames();
};

void TestUdevRule::ruleParsesAndIsOrderedBeforeSeatLate()
{
    const QFileInfo info(QStringLiteral(KORVANE_UDEV_RULE_FILE));
    QCOMPARE(info.fileName(), QStringLiteral("70-korvane.rules"));
    QVERIFY(info.fileName() < QStringLiteral("73-seat-late.rules"));
    QFile file(info.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));

    // Keys this rule may use, and whether each is a match or an assignment.
    const QStringList matchKeys = {"ACTION", "SUBSYSTEM", "ENV{DEVTYPE}", "ENV{KORVANE_KIT}"};
    const QStringList assignKeys = {"IMPORT{program}", "IMPORT{db}", "TAG", "GOTO", "LABEL"};
    QStringList gotos, labels;
    int rules = 0;
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        ++rules;
        const auto parsed = parseRule(line);
        QVERIFY2(parsed, qPrintable("malformed: " + line));
        for (const Assignment &a : *parsed) {
            if (isMatch(a.op))
                QVERIFY2(matchKeys.contains(a.key), qPrintable("unexpected match key " + a.key));
            else
                QVERIFY2(assignKeys.contains(a.key), qPrintable("unexpected assignment " + a.key));
            if (a.key == "GOTO")
                gotos << a.value;
            if (a.key == "LABEL")
                labels << a.value;
            QVERIFY2(!a.value.contains('@'), qPrintable("unconfigured value " + a.value));
        }
    }
    QVERIFY(rules > 3);
    QCOMPARE(labels, QStringList{"korvane_end"});
    for (const QString &target : gotos)
        QCOMPARE(target, labels.first());
}

void TestUdevRule::opensOnlyWhatTheHelperNames()
{
    QFile file(QStringLiteral(KORVANE_UDEV_RULE_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QList<QList<Assignment>> rules;
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
            rules << *parseRule(line);
    }
    const auto find = [&rules](const QString &key, const QString &op) -> const QList<Assignment> * {
        for (const QList<Assignment> &rule : rules) {
            for (const Assignment &a : rule) {
                if (a.key == key && a.op == op)
                    return &rule;
            }
        }
        return nullptr;
    };
    // The helper at its installed, absolute path, given the device's sysfs directory.
    const QList<Assignment> *import = find("IMPORT{program}", "=");
    QVERIFY(import);
    const QString program = import->last().value;
    QVERIFY(QDir::isAbsolutePath(QStringLiteral(KORVANE_USB_ID_PATH)));
    QVERIFY(program.endsWith("/korvane/korvane-usb-id %S%p"));
    QCOMPARE(program, QStringLiteral(KORVANE_USB_ID_PATH " %S%p"));

    // uaccess for exactly the kinds the helper prints, and for nothing else.
    const QList<Assignment> *uaccess = find("TAG", "+=");
    QVERIFY(uaccess);
    QCOMPARE(uaccess->size(), 2);
    QCOMPARE(uaccess->at(0).key, QStringLiteral("ENV{KORVANE_KIT}"));
    QCOMPARE(uaccess->at(0).op, QStringLiteral("=="));
    QCOMPARE(uaccess->at(0).value, QStringLiteral("receptor|module"));
    QCOMPARE(uaccess->at(1).value, QStringLiteral("uaccess"));

    // Only USB devices (not their interfaces), and never on removal.
    const QList<Assignment> *subsystem = find("SUBSYSTEM", "!=");
    QVERIFY(subsystem && subsystem->first().value == "usb" && subsystem->last().key == "GOTO");
    const QList<Assignment> *type = find("ENV{DEVTYPE}", "!=");
    QVERIFY(type && type->first().value == "usb_device" && type->last().key == "GOTO");
    const QList<Assignment> *removal = find("ACTION", "==");
    QVERIFY(removal && removal->first().value == "remove" && removal->last().key == "GOTO");
}

QTEST_GUILESS_MAIN(TestUdevRule)
#include "tst_udevrule.moc"
