// The categories of the debug lines, each off below the information level until a rule enables it.
#include "LogCategories.h"

Q_LOGGING_CATEGORY(lcKitUsb, "kit.usb", QtInfoMsg)

Q_LOGGING_CATEGORY(lcReceptor, "korvane.receptor", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTracking, "korvane.tracking", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStationWindow, "korvane.window", QtInfoMsg)
Q_LOGGING_CATEGORY(lcViews, "korvane.views", QtInfoMsg)

Q_LOGGING_CATEGORY(lcModule, "quorvel.module", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDetector, "quorvel.detector", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWorker, "quorvel.worker", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDownload, "quorvel.download", QtInfoMsg)
Q_LOGGING_CATEGORY(lcManagerWindow, "quorvel.window", QtInfoMsg)
