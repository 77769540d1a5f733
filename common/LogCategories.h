// Named categories of the programs' debug lines. All are off by default, so that a user's terminal
// stays quiet; QT_LOGGING_RULES switches them on, for example "korvane.*.debug=true" or
// "quorvel.download.debug=true". A line of a category that is off is not even formatted.
#pragma once

#include <QLoggingCategory>

// Opening a device: "Open", the bulk pipe found, the pipe time-out (both programs).
Q_DECLARE_LOGGING_CATEGORY(lcKitUsb)

// Korvane: the simulated receptor.
Q_DECLARE_LOGGING_CATEGORY(lcReceptor)
// Korvane: the receptor worker's line for every beacon report.
Q_DECLARE_LOGGING_CATEGORY(lcTracking)
// Korvane: the main window (data folder, receptor arrival and loss, receptor identifier).
Q_DECLARE_LOGGING_CATEGORY(lcStationWindow)
// Korvane: the displays (map loading and redraws, invalid positions).
Q_DECLARE_LOGGING_CATEGORY(lcViews)

// Quorvel: the module's requests and its holders.
Q_DECLARE_LOGGING_CATEGORY(lcModule)
// Quorvel: the detector's passes.
Q_DECLARE_LOGGING_CATEGORY(lcDetector)
// Quorvel: the worker's requests and erases.
Q_DECLARE_LOGGING_CATEGORY(lcWorker)
// Quorvel: the track headers and every decoded record of a download (several lines per record).
Q_DECLARE_LOGGING_CATEGORY(lcDownload)
// Quorvel: the main window.
Q_DECLARE_LOGGING_CATEGORY(lcManagerWindow)
