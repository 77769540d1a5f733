// quorvel-cli, the module manager's command line: list, download, erase, rename and bootloader over
// the same detector and worker as the Quorvel window.
#include "CliCommand.h"
#include "QuorvelCli.h"
#include "QuorvelMetaTypes.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    registerQuorvelMetaTypes();
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const CliCommand command = CliCommand::parse(arguments);
    // The modules' diagnostic lines go to stderr too; without --verbose only the messages remain.
    if (!command.verbose)
        QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QuorvelCli cli(out, err);
    return cli.run(command);
}
