#include "logmanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>

#include <glog/logging.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

LogManager* LogManager::__instance = nullptr;
const char* const LogManager::kLogDir = "./cnt_net/workspace/log/";
const char* const LogManager::kStdoutDir = "./cnt_net/workspace/log_stdout/";

namespace {

constexpr int kKeptArchives = 20;
constexpr int kKeptStdoutFiles = 50;

LogManager::Limits gLimits;
std::atomic<qint64> gLoggedSinceCheck{0};
std::mutex gBoundMutex;  // one bound check at a time; others skip theirs

// glog keeps a pointer to the program name: it must never move or die.
char gProgramName[PATH_MAX];

// Prepared at construction for the failure writer, which may not allocate.
char gInfoLink[PATH_MAX];
char gWarningLink[PATH_MAX];
char gErrorLink[PATH_MAX];
char gErrorFile[PATH_MAX];     // created when the run has no ERROR file yet
char gErrorFileName[NAME_MAX];  // its name, the target of the ERROR link
long gUtcOffset = 0;            // seconds east of UTC when logging started
std::atomic<bool> gWriterBusy{false};

// SIGTERM is the ordinary way to stop the program (a service stop, a
// shutdown): it is not a crash. The handler only wakes the event loop
// through this pipe; the loop logs the stop and quits.
//
// Start-up runs before the application's loop, with nested event processing
// (the splash screen repaints at every step): a quit there would be lost, as
// exec() starts afresh. So until start-up ends a SIGTERM is only kept (and
// logged as it is noticed), and start-up stops at its next point that asks.
int gTermPipe[2] = {-1, -1};
QSocketNotifier* gTermNotifier = nullptr;
bool gStartupOver = false;  // GUI thread, as are the two below
bool gStopPending = false;
// Set by the handler itself (a lock-free atomic store is safe there).
std::atomic<bool> gTermArrived{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler stores it");

void onTerm(int)
{
    const int saved = errno;
    gTermArrived.store(true);
    const char byte = 1;
    (void)!::write(gTermPipe[1], &byte, 1);
    errno = saved;
}

bool makeTermPipe()
{
    if (gTermPipe[0] >= 0)
        return true;
    if (::pipe2(gTermPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gTermPipe[0] = gTermPipe[1] = -1;
        return false;
    }
    return true;
}

void installTermAction()
{
    struct sigaction sa {};
    sa.sa_handler = &onTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
}

// Reads what the handler wrote; true when a SIGTERM came since the last read.
bool drainTermPipe()
{
    if (gTermPipe[0] < 0)
        return false;
    bool any = false;
    char buf[16];
    while (::read(gTermPipe[0], buf, sizeof buf) > 0)
        any = true;
    return any;
}

void termNoticed()
{
    if (gStartupOver) {
        qInfo("SIGTERM received: clean stop");
        google::FlushLogFiles(google::GLOG_INFO);
        QCoreApplication::quit();
        return;
    }
    if (!gStopPending)
        qInfo("SIGTERM received during start-up: stopping once start-up ends");
    gStopPending = true;
    google::FlushLogFiles(google::GLOG_INFO);
}

// Installs the SIGTERM path when an application object exists to quit;
// without one the failure handler keeps the signal.
void installCleanStop()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || gTermNotifier || !makeTermPipe())
        return;
    gTermNotifier = new QSocketNotifier(gTermPipe[0], QSocketNotifier::Read, app);
    QObject::connect(gTermNotifier, &QSocketNotifier::activated, app, [] {
        if (drainTermPipe())
            termNoticed();
    });
    installTermAction();
}

bool isNumberedArchive(const QString& name)
{
    static const QRegularExpression kDigits(QStringLiteral("^\\d+$"));
    const QStringList parts = name.split(QLatin1Char('_'));
    if (parts.size() != 4 || !kDigits.match(parts[0]).hasMatch())
        return false;
    bool ok = false;
    parts[0].toULongLong(&ok);
    return ok;
}

qulonglong archiveNumber(const QString& name)
{
    return name.split(QLatin1Char('_')).first().toULongLong();
}

void copyPath(char* out, size_t size, const QByteArray& text)
{
    const size_t n = std::min(static_cast<size_t>(text.size()), size - 1);
    std::memcpy(out, text.constData(), n);
    out[n] = '\0';
}

// --- async-signal-safe formatting for the failure writer -----------------

struct LineBuffer {
    char data[2048];
    size_t len = 0;
    void put(char c)
    {
        if (len < sizeof data - 1)
            data[len++] = c;
    }
    void put(const char* s, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            put(s[i]);
    }
    void putNumber(unsigned long long v, int width)
    {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 24);
        for (int i = n; i < width; ++i)
            put('0');
        while (n)
            put(digits[--n]);
    }
};

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void civilFromDays(long long z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

void appendTo(const char* path, const LineBuffer& line, bool createError)
{
    if (!path[0])
        return;
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && createError && gErrorFile[0]) {
        fd = ::open(gErrorFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0)
            (void)::symlink(gErrorFileName, path);  // the next start sees the run had errors
    }
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < line.len) {
        const ssize_t n = ::write(fd, line.data + done, line.len - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

// glog hands the pieces over with a size_t length.
void failureWriter(const char* data, size_t size)
{
    SignalHandle(data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
}

}  // namespace

LogManager::LogManager(QObject* parent)
    : QObject(parent)
{
    QDir().mkpath(QString::fromLatin1(kLogDir));
    QDir().mkpath(QString::fromLatin1(kStdoutDir));
    clearup_cachelogfile();
    prune_stdout_folder();

    static std::once_flag glogOnce;
    std::call_once(glogOnce, [] {
        const QString app = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                         : QStringLiteral("vmm");
        copyPath(gProgramName, sizeof gProgramName, app.toLatin1());
        google::InitGoogleLogging(gProgramName);

        FLAGS_log_dir = kLogDir;
        FLAGS_logbufsecs = 0;
        FLAGS_max_log_size = static_cast<decltype(FLAGS_max_log_size)>(gLimits.fileMB);
        FLAGS_stop_logging_if_full_disk = true;
        FLAGS_logtostderr = false;
        google::SetLogFilenameExtension(".log");
        google::SetLogDestination(google::GLOG_INFO, "./cnt_net/workspace/log/LOG_");
        google::SetLogDestination(google::GLOG_WARNING, "./cnt_net/workspace/log/WARNING_");
        google::SetLogDestination(google::GLOG_ERROR, "./cnt_net/workspace/log/ERROR_");
        google::SetLogDestination(google::GLOG_FATAL, "./cnt_net/workspace/log/FATAL_");

        // What the failure writer needs, made ready while allocating is allowed.
        const QString dir = QDir(QString::fromLatin1(kLogDir)).absolutePath() + QLatin1Char('/');
        const QString shortName = QFileInfo(app).fileName();
        copyPath(gInfoLink, sizeof gInfoLink, (dir + shortName + QStringLiteral(".INFO")).toLocal8Bit());
        copyPath(gWarningLink, sizeof gWarningLink, (dir + shortName + QStringLiteral(".WARNING")).toLocal8Bit());
        copyPath(gErrorLink, sizeof gErrorLink, (dir + shortName + QStringLiteral(".ERROR")).toLocal8Bit());
        const QString errorName = QStringLiteral("ERROR_%1.%2.log")
                                      .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")))
                                      .arg(QCoreApplication::applicationPid());
        copyPath(gErrorFileName, sizeof gErrorFileName, errorName.toLocal8Bit());
        copyPath(gErrorFile, sizeof gErrorFile, (dir + errorName).toLocal8Bit());
        gUtcOffset = QDateTime::currentDateTime().offsetFromUtc();

        google::InstallFailureSignalHandler();
        google::InstallFailureWriter(&failureWriter);
        installCleanStop();
    });
    qInstallMessageHandler(&LogManager::outputMessage);
}

LogManager::~LogManager() = default;

void LogManager::catchTermEarly()
{
    if (makeTermPipe())
        installTermAction();
}

bool LogManager::stopPending()
{
    if (!gStartupOver && drainTermPipe())
        termNoticed();
    return gStopPending;
}

bool LogManager::termArrived()
{
    return gTermArrived.load();
}

void LogManager::stopInStartup(const char* where)
{
    qInfo("SIGTERM received during start-up: clean stop %s", where);
    google::FlushLogFiles(google::GLOG_INFO);
}

void LogManager::startupEnded()
{
    gStartupOver = true;
}

void LogManager::clearup_cachelogfile()
{
    QDir dir(QString::fromLatin1(kLogDir));
    if (!dir.exists())
        return;
    const QString canonicalDir = dir.canonicalPath();

    // 1. Links to the newest file of each severity. WARNING, ERROR and FATAL
    //    files only repeat lines of the INFO file, so they go with their link.
    bool hadErrors = false;
    const QFileInfoList entries = dir.entryInfoList({QStringLiteral("*")}, QDir::Files | QDir::System, QDir::Time);
    for (const QFileInfo& fi : entries) {
        if (!fi.exists() || !fi.isSymLink())
            continue;
        const QString path = fi.filePath();
        if (path.contains(QLatin1String(".ERROR")))
            hadErrors = true;
        if (!path.contains(QLatin1String(".INFO"))) {
            const QFileInfo target(fi.symLinkTarget());
            // Only files of the log folder itself are ever deleted.
            if (QDir(target.absolutePath()).canonicalPath() == canonicalDir && !target.isDir())
                QFile::remove(target.absoluteFilePath());
        }
        QFile::remove(fi.filePath());
    }

    // 2. Archives of earlier starts, in ascending number order.
    QStringList names = dir.entryList({QStringLiteral("*.*")}, QDir::Files | QDir::System, QDir::Name);
    QStringList keep;
    for (;;) {
        int best = -1;
        for (int i = 0; i < names.size(); ++i) {
            if (isNumberedArchive(names[i]) && (best < 0 || archiveNumber(names[i]) > archiveNumber(names[best])))
                best = i;
        }
        if (best < 0)
            break;
        keep.prepend(names.takeAt(best));
    }

    // 3. Files of the last run get an archive name; anything else goes.
    const QString kind = hadErrors ? QStringLiteral("X_ERROR_") : QStringLiteral("X_LOG_");
    for (const QString& name : qAsConst(names)) {
        const QStringList parts = name.split(QLatin1Char('_'));
        if (parts.size() != 2) {
            dir.remove(name);
            continue;
        }
        const QString timeText = parts[1].section(QLatin1Char('.'), 0, 0);
        const QDateTime created = QDateTime::fromString(timeText, QStringLiteral("yyyyMMdd-hhmmss"));
        const QString stamp = created.isValid() ? created.toString(QStringLiteral("yyyyMMdd_hhmmss")) : QString();
        const QString newName = kind + stamp + QStringLiteral(".txt");
        dir.remove(newName);
        dir.rename(name, newName);
        keep.append(newName);
    }

    // 4. The newest 20 stay, as many as fit the folder's bound.
    qint64 total = 0;
    for (const QString& name : qAsConst(keep))
        total += QFileInfo(dir.filePath(name)).size();
    while (!keep.isEmpty() && (keep.size() > kKeptArchives || total > gLimits.folderBytes)) {
        const QString name = keep.takeFirst();
        total -= QFileInfo(dir.filePath(name)).size();
        dir.remove(name);
    }

    // 5. Numbered 1 (oldest) upwards.
    for (int n = 1; n <= keep.size(); ++n) {
        const QString& name = keep[n - 1];
        QStringList parts = name.split(QLatin1Char('_'));
        if (parts.size() != 4) {
            dir.remove(name);
            continue;
        }
        parts[0] = QString::number(n);
        const QString numbered = parts.join(QLatin1Char('_'));
        if (numbered != name)
            dir.rename(name, numbered);
    }
}

void LogManager::setLimits(const Limits& limits)
{
    gLimits = limits;
}

LogManager::Limits LogManager::limits()
{
    return gLimits;
}

void LogManager::keep_folder_bound()
{
    QDir dir(QString::fromLatin1(kLogDir));
    if (!dir.exists())
        return;
    const QString canonicalDir = dir.canonicalPath();
    // Oldest first; the links themselves take no room.
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*")}, QDir::Files | QDir::System, QDir::Time | QDir::Reversed);
    QStringList current;
    qint64 total = 0;
    for (const QFileInfo& fi : entries) {
        if (fi.isSymLink())
            current << QFileInfo(fi.symLinkTarget()).canonicalFilePath();
        else
            total += fi.size();
    }
    for (const QFileInfo& fi : entries) {
        if (total <= gLimits.folderBytes)
            break;
        if (fi.isSymLink() || current.contains(fi.canonicalFilePath()) || fi.canonicalPath() != canonicalDir)
            continue;
        if (QFile::remove(fi.filePath()))
            total -= fi.size();
    }
}

void LogManager::prune_stdout_folder()
{
    QDir dir(QString::fromLatin1(kStdoutDir));
    if (!dir.exists())
        return;
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*")}, QDir::Files, QDir::Time);
    while (files.size() > kKeptStdoutFiles)
        QFile::remove(files.takeLast().filePath());
}

void LogManager::outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtDebugMsg)
        return;
    const QByteArray text = msg.toUtf8();
    // About the line's size with glog's prefix; now and then the folder is
    // brought back under its bound (by one thread, the others go on).
    if (gLoggedSinceCheck.fetch_add(text.size() + 64) + text.size() + 64 >= gLimits.checkEveryBytes &&
        gBoundMutex.try_lock()) {
        gLoggedSinceCheck = 0;
        keep_folder_bound();
        gBoundMutex.unlock();
    }
    if (type == QtInfoMsg || type == QtWarningMsg) {
        QByteArray file("unknow");
        if (context.file) {
            file = QByteArray(context.file);
            file = file.mid(file.lastIndexOf('/') + 1);
        }
        google::LogMessage line(file.constData(), context.line, google::GLOG_INFO);
        if (type == QtWarningMsg)
            line.stream() << "---warning--- ";
        line.stream() << text.constData();
        return;
    }
    if (type == QtCriticalMsg) {
        LOG(ERROR) << "\t" << text.constData();
        return;
    }
    LOG(FATAL) << "\t" << text.constData();
}

void SignalHandle(const char* data, int size)
{
    if (gWriterBusy.exchange(true))
        return;
    if (data && size > 0) {
        size_t n = static_cast<size_t>(size);
        while (n > 0 && (data[n - 1] == '\n' || data[n - 1] == '\0'))
            --n;

        // glog's line prefix: Lyyyymmdd hh:mm:ss.uuuuuu threadid file:line]
        struct timespec ts {};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        const long long local = static_cast<long long>(ts.tv_sec) + gUtcOffset;
        long long days = local / 86400;
        long long secs = local % 86400;
        if (secs < 0) {
            secs += 86400;
            --days;
        }
        int y = 0;
        unsigned m = 0;
        unsigned d = 0;
        civilFromDays(days, y, m, d);

        LineBuffer line;
        line.put('E');
        line.putNumber(static_cast<unsigned long long>(y), 4);
        line.putNumber(m, 2);
        line.putNumber(d, 2);
        line.put(' ');
        line.putNumber(static_cast<unsigned long long>(secs / 3600), 2);
        line.put(':');
        line.putNumber(static_cast<unsigned long long>(secs / 60 % 60), 2);
        line.put(':');
        line.putNumber(static_cast<unsigned long long>(secs % 60), 2);
        line.put('.');
        line.putNumber(static_cast<unsigned long long>(ts.tv_nsec / 1000), 6);
        line.put(' ');
        line.putNumber(static_cast<unsigned long long>(::syscall(SYS_gettid)), 5);
        static const char kWhere[] = " logmanager.cpp:";
        line.put(kWhere, sizeof kWhere - 1);
        line.putNumber(__LINE__, 1);
        line.put("] ", 2);
        line.put(data, n);
        line.put('\n');

        // The INFO (LOG_) file keeps every line of the run; the ERROR file is
        // created when the run had none, so the next start archives the run
        // as one with errors.
        appendTo(gInfoLink, line, false);
        appendTo(gWarningLink, line, false);
        appendTo(gErrorLink, line, true);
    }
    gWriterBusy.store(false);
}
