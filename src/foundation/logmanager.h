// Logging set-up of the process. Created once, early in start-up: prepares
// the log folders, archives the files of earlier runs, configures glog,
// installs glog's failure-signal handler with our failure writer, and routes
// every Qt message into glog. SIGTERM is a clean stop, not a crash: with an
// application object it is logged at INFO ("SIGTERM received: clean stop")
// and the event loop quits. Qt messages go:
//   debug -> dropped; info -> INFO; warning -> INFO with "---warning--- ";
//   critical -> ERROR; fatal -> FATAL (the process ends).
// glog can be initialised only once per process; a second LogManager only
// re-installs the message handler.
#pragma once

#include <QObject>
#include <QString>

class LogManager : public QObject {
    Q_OBJECT
public:
    explicit LogManager(QObject* parent = nullptr);
    ~LogManager() override;

    // The one instance; start-up creates it when null and never deletes it.
    static LogManager* __instance;

    // Archives the log files that earlier runs left in the log folder and
    // keeps the newest 20 archives, numbered 1 (oldest) upwards.
    static void clearup_cachelogfile();
    // Keeps the 50 newest files of the stdout folder.
    static void prune_stdout_folder();

    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg);

    static const char* const kLogDir;     // "./cnt_net/workspace/log/"
    static const char* const kStdoutDir;  // "./cnt_net/workspace/log_stdout/"
};

// glog's failure writer: each piece of a crash report becomes one ERROR line
// of the run's log files. Async-signal-safe; a nested call is dropped.
void SignalHandle(const char* data, int size);
