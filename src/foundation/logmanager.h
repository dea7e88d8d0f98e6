// Logging set-up of the process. Created once, early in start-up: prepares
// the log folders, archives the files of earlier runs, configures glog,
// installs glog's failure-signal handler with our failure writer, and routes
// every Qt message into glog. SIGTERM is a clean stop, not a crash: with an
// application object it is logged at INFO ("SIGTERM received: clean stop")
// and the event loop quits; during start-up it is kept instead (see
// stopPending). Qt messages go:
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

    // The log folder keeps a bound on its own size, so that neither a long
    // run nor a chatty peer takes the room of the latch, the counters and the
    // pictures on the same disk. glog starts a new file beyond fileMB; every
    // checkEveryBytes of logged text the oldest files beyond folderBytes go
    // (never the ones being written); at start-up the oldest archives go.
    struct Limits {
        qint64 folderBytes = 512LL * 1024 * 1024;
        int fileMB = 32;
        qint64 checkEveryBytes = 8LL * 1024 * 1024;
    };
    // Before the first LogManager (the file size is set once per process).
    static void setLimits(const Limits& limits);
    static Limits limits();

    // Archives the log files that earlier runs left in the log folder and
    // keeps the newest 20 archives that fit the folder's bound, numbered 1
    // (oldest) upwards.
    static void clearup_cachelogfile();
    // Deletes the oldest files of the log folder, except the ones glog's
    // links point to, until the folder fits its bound.
    static void keep_folder_bound();
    // Keeps the 50 newest files of the stdout folder.
    static void prune_stdout_folder();

    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg);

    // ---- SIGTERM during start-up --------------------------------------------
    // Start-up runs before the event loop, whose quit a SIGTERM would ask
    // for; so until startupEnded() a SIGTERM is kept, logged when noticed
    // ("SIGTERM received during start-up: stopping once start-up ends"), and
    // start-up asks stopPending() at the points where it can end cleanly, the
    // last one right before the event loop. All on the GUI thread.
    //
    // Catches SIGTERM from the first moment of start-up, before the logging
    // exists: the signal waits in a pipe until the first look at it.
    static void catchTermEarly();
    // True when a SIGTERM came during start-up (reads what waits, if any).
    static bool stopPending();
    // True once a SIGTERM has come, from the moment the signal arrives; any
    // thread may ask (start-up blocked on a device cannot look at the pipe,
    // so another thread watches this to abandon what it waits on).
    static bool termArrived();
    // Logs the clean stop of start-up: "SIGTERM received during start-up:
    // clean stop <where>".
    static void stopInStartup(const char* where);
    // Start-up is over: from now on a SIGTERM quits the event loop.
    static void startupEnded();

    static const char* const kLogDir;     // "./cnt_net/workspace/log/"
    static const char* const kStdoutDir;  // "./cnt_net/workspace/log_stdout/"
};

// glog's failure writer: each piece of a crash report becomes one ERROR line
// of the run's log files. Async-signal-safe; a nested call is dropped.
void SignalHandle(const char* data, int size);
