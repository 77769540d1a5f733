// Why a module's download failed, and which track file it left incomplete (or could not write).
// Carried from the worker to the window and to quorvel-cli, which each say it in their own words.
#pragma once

#include <QMetaType>
#include <QString>

struct DownloadFailure
{
    enum class Cause {
        None,
        ModuleUnplugged,    // the module went away during the download
        ModuleTimeout,      // the module stopped answering
        ReadError,          // a page read failed otherwise
        DiskFull,           // no space left where the files go
        FolderMissing,      // the chosen folder is not there (any more)
        FolderNotWritable,  // the folder, or its file system, refuses new files
        FileNotWritable,    // one track's file could not be opened or written
    };

    Cause cause = Cause::None;
    // The track file concerned: the one left incomplete, or the one that could not be written.
    QString trackFile;
    // Whether that file stays on disk (an incomplete track) or was removed (nothing of it written).
    bool trackFileKept = false;
    // The system's own words for a write error, when there are any.
    QString systemMessage;

    bool failed() const { return cause != Cause::None; }
    // True for the causes that leave nothing to be gained from reading further.
    bool endsDownload() const
    {
        return cause == Cause::DiskFull || cause == Cause::FolderMissing
               || cause == Cause::FolderNotWritable;
    }
};

Q_DECLARE_METATYPE(DownloadFailure)
