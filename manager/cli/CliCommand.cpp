// Argument reading for quorvel-cli: a command word, then options as "--name value", "--name=value"
// or flags, and for rename one positional name.
#include "CliCommand.h"

#include <QRegularExpression>

#include <map>

namespace
{
struct OptionRule
{
    const char *name;
    bool takesValue;
};

const OptionRule optionRules[] = {
    {"dir", true}, {"serial", true}, {"gpx", false}, {"yes", false}, {"verbose", false},
};

struct CommandRule
{
    const char *word;
    CliCommand::Action action;
    QStringList options;  // accepted besides --verbose
    bool takesName;
};

const CommandRule &commandRule(int index)
{
    static const CommandRule rules[] = {
        {"list", CliCommand::Action::List, {}, false},
        {"download", CliCommand::Action::Download, {"dir", "serial", "gpx"}, false},
        {"erase", CliCommand::Action::Erase, {"serial", "yes"}, false},
        {"rename", CliCommand::Action::Rename, {"serial"}, true},
        {"bootloader", CliCommand::Action::Bootloader, {"serial"}, false},
    };
    return rules[index];
}
constexpr int commandCount = 5;

const OptionRule *findOption(const QString &name)
{
    for (const OptionRule &rule : optionRules) {
        if (name == QLatin1String(rule.name))
            return &rule;
    }
    return nullptr;
}

CliCommand failed(const QString &error)
{
    CliCommand command;
    command.usageError = error;
    return command;
}
}

bool CliCommand::isValidName(const QString &name)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("\\w{1,8}")));
    return pattern.match(name).hasMatch();
}

QString CliCommand::usage()
{
    return QStringLiteral(
        "Usage: quorvel-cli COMMAND [OPTIONS]\n"
        "Manages the GPS logger modules plugged in by USB.\n"
        "\n"
        "Commands:\n"
        "  list                                    one line per module: path, serial number, name,\n"
        "                                          hardware and software versions, memory used / total\n"
        "                                          bytes and record count\n"
        "  download --dir DIR [--serial S] [--gpx]\n"
        "                                          one CSV file per track into the existing folder DIR,\n"
        "                                          from every module or from module S; with --gpx also\n"
        "                                          a GPX file per track\n"
        "  erase --serial S --yes                  erases every track of module S\n"
        "  rename --serial S NAME                  renames module S (1 to 8 letters, digits or '_')\n"
        "  bootloader --serial S                   switches module S into its bootloader\n"
        "\n"
        "Options:\n"
        "  --verbose                               also print the modules' diagnostic lines\n"
        "  -h, --help                              this text\n"
        "\n"
        "Exit status: 0 success, 1 a module operation failed, 2 bad usage.\n");
}

CliCommand CliCommand::parse(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return CliCommand();
    }

    std::map<QString, QString> options;  // name -> value ("" for flags)
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--"))) {
            if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
                return failed(QStringLiteral("Unknown option %1.").arg(argument));
            words << argument;
            continue;
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        const OptionRule *rule = findOption(name);
        if (!rule)
            return failed(QStringLiteral("Unknown option --%1.").arg(name));
        if (options.count(name))
            return failed(QStringLiteral("Option --%1 given twice.").arg(name));
        QString value;
        if (rule->takesValue) {
            if (equals >= 0) {
                value = argument.mid(equals + 1);
            } else if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QLatin1String("--"))) {
                value = arguments.at(++i);
            }
            if (value.isEmpty())
                return failed(QStringLiteral("Option --%1 needs a value.").arg(name));
        } else if (equals >= 0) {
            return failed(QStringLiteral("Option --%1 takes no value.").arg(name));
        }
        options[name] = value;
    }

    if (words.isEmpty())
        return failed(QStringLiteral("No command given."));
    const QString word = words.takeFirst();
    const CommandRule *rule = nullptr;
    for (int i = 0; i < commandCount; ++i) {
        if (word == QLatin1String(commandRule(i).word))
            rule = &commandRule(i);
    }
    if (!rule)
        return failed(QStringLiteral("Unknown command %1.").arg(word));

    for (const auto &option : options) {
        if (option.first != QLatin1String("verbose") && !rule->options.contains(option.first))
            return failed(QStringLiteral("The %1 command takes no --%2 option.").arg(word, option.first));
    }

    CliCommand command;
    command.action = rule->action;
    const auto value = [&options](const char *name) {
        const auto found = options.find(QLatin1String(name));
        return found == options.end() ? QString() : found->second;
    };
    command.directory = value("dir");
    command.serial = value("serial");
    command.gpx = options.count(QStringLiteral("gpx")) != 0;
    command.confirmed = options.count(QStringLiteral("yes")) != 0;
    command.verbose = options.count(QStringLiteral("verbose")) != 0;

    if (rule->takesName) {
        if (words.isEmpty())
            return failed(QStringLiteral("The %1 command needs a name.").arg(word));
        command.name = words.takeFirst();
        if (!isValidName(command.name))
            return failed(QStringLiteral("Invalid name %1: a name has 1 to 8 letters, digits or '_'.")
                              .arg(command.name));
    }
    if (!words.isEmpty())
        return failed(QStringLiteral("Unexpected argument %1.").arg(words.first()));

    switch (command.action) {
    case Action::Download:
        if (command.directory.isEmpty())
            return failed(QStringLiteral("The download command needs --dir DIR."));
        break;
    case Action::Erase:
    case Action::Rename:
    case Action::Bootloader:
        if (command.serial.isEmpty())
            return failed(QStringLiteral("The %1 command needs --serial S.").arg(word));
        if (command.action == Action::Erase && !command.confirmed)
            return failed(QStringLiteral("Erasing deletes every track of the module: confirm with --yes."));
        break;
    case Action::Help:
    case Action::List:
        break;
    }
    return command;
}
