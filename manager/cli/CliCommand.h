// One invocation of quorvel-cli as read from its arguments: the action, its options, or the usage
// error that prevents it.
#pragma once

#include <QString>
#include <QStringList>

class CliCommand
{
public:
    enum class Action { Help, List, Download, Erase, Rename, Bootloader };

    // Reads the arguments that follow the program name. Unknown commands or options, missing or
    // repeated options, options the command does not take and stray words are usage errors.
    static CliCommand parse(const QStringList &arguments);

    // The text printed by --help.
    static QString usage();

    // A module name as the module takes it: one to eight word characters (letters, digits, '_').
    static bool isValidName(const QString &name);

    bool isValid() const { return usageError.isEmpty(); }

    Action action = Action::Help;
    QString usageError;  // empty when the command can run
    QString directory;   // download: where the track files go
    QString serial;      // the module's serial number; empty for every module (list, download)
    QString name;        // rename: the new name
    bool gpx = false;    // download: a GPX file beside every CSV file
    bool confirmed = false;  // erase: --yes
    bool verbose = false;    // keep the modules' diagnostic output
};
