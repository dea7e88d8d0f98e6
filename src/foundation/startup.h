// The process's start-up sequence, up to the main window and after it.
//
// What belongs to later subsystems comes in through hooks, so that `main`
// wires the application object, the splash screen and the text table in and
// tests trace the sequence with a fake sleeper and runner.
#pragma once

#include <QString>

#include <functional>

struct StartupHooks {
    // Registers the storage record types that travel in queued signals
    // ("UPanInfo", "QVector<UPanInfo>", "CountGroup"), before the string pair.
    std::function<void()> registerTypes;
    // Creates the application object unless one exists.
    std::function<void()> createApplication;
    // Creates the splash screen (g_splashframe).
    std::function<void()> createSplash;
    // Fills gaLanStr.
    std::function<void()> fillTexts;
    // Shows a progress value (0-100) and its text on the splash screen.
    std::function<void(int, QString)> progress;
    // Whether a stop is pending; asked before each second of the target's
    // waits. Unset: LogManager::stopPending().
    std::function<bool()> stopRequested;
};

// Everything before the main window: kernel version, shared types, port I/O
// rights and the LED device, application object, splash, UTF-8 locale codec,
// logging, the open-file limit raised to its hard limit, on the target computer the network-card script and the 15 s of
// waits for the network and the cameras (cut short by a pending stop, which
// is asked before every second of them), the version line, the two shared
// mutexes, the texts and skin pictures, and the program's folder.
void startupUntilMainWindow(const StartupHooks& hooks);

// Right after the main window exists: progress 90, the device identity and
// the version in ./cnt_net/config.json.
void startupAfterMainWindow(const StartupHooks& hooks);

// Reads the kernel's version text (up to the first NUL) into
// linux_kernel_proc_version; an unreadable file leaves it empty.
void readKernelVersion(const QString& path = QStringLiteral("/proc/version"));

// Loads the 19 skin pictures from ./images/ into the gpPixmap* globals; a
// missing file gives an empty picture. Needs the GUI application object.
void loadSkinPictures();

// Maps the font families the style sheets name ("wqy-microhei",
// "wenquanyi") to the installed WenQuanYi families.
void installFontSubstitutions();
