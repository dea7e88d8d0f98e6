// Process-wide state of the operator program.
//
// Plain globals, created by static initialisation. Per-camera data uses
// fixed arrays: 8 cameras, 8 detection steps, 100 ROIs per step and camera.
// The state shared with the main window is in winstate.h; the globals that
// name a class of a higher library are declared with that class.
#pragma once

#include <QString>
#include <QMutex>
#include <QPixmap>

#include <atomic>

class Posix_QextSerialPort;

constexpr int kMaxCamera = 8;
constexpr int kMaxDetect = 8;
constexpr int kMaxRoi = 100;
constexpr int kLanRows = 2048;
constexpr int kLanCols = 4;

// The project() VERSION of the top CMakeLists.txt, e.g. "18.0.1.56".
extern const char* const kAppVersion;

extern QString gaLanStr[kLanRows][kLanCols];
extern int gLan;
extern QString linux_kernel_proc_version;
extern int gfLED;
extern QString gAppDirPath;
extern QString gDeviceID;
extern QMutex* pMutexIO;
extern QMutex* pMutexSaveFail;
extern Posix_QextSerialPort* gpCom;
extern std::atomic<int> gIOID;   // read by the I/O thread, set by the GUI thread
// The board's input and output words, shared by the I/O thread and the GUI
// thread under pMutexIO. Atomic as well: the race checker cannot see inside
// Qt's mutex once it is contended, and would report every hand-over.
extern std::atomic<int> gDataIn;
extern std::atomic<int> gDataOut;
extern int numCamera;
extern int gisCOM;
extern int gisColor;
extern int gisGrayHue;
extern int gTempNum;
extern int gPicNumNG;
extern int gPicNumOK;
extern int gShowW;
extern int gShowH;
extern int gDNum;
// What the camera views and the ROI page show (PictureSource; the ROI page's
// source choice is the same number).
extern int gSource;
// Fault pictures (32-bit RGB, slot = OK? 1 : 0 + 2 x (camera x 8 + step)),
// under pMutexSaveFail: made (new[]) by the view at the step's first picture,
// an OK picture freed by the picture writer once written; null when none.
extern unsigned char* gpFailImage[kMaxCamera * kMaxDetect * 2];
extern bool gisSaveFail[kMaxCamera * kMaxDetect * 2];
extern int gFailIndex[kMaxCamera * kMaxDetect];
extern bool gisSafeDoorOpen;
// Bit of the board's input word that carries the safety door (board input 2,
// counted from 1; never a trigger slot, see TriginNo). The machine drives it
// while the door is closed, so a clear bit means the door is open.
constexpr int kSafetyDoorInput = 1;
extern bool gFromTrain;
extern QString gTempTime;
extern QString gaName[18];

extern QPixmap* gpPixmapLogo;
extern QPixmap* gpPixmapBG;
extern QPixmap* gpPixmapTitle;
extern QPixmap* gpPixmapLine;
extern QPixmap* gpPixmapEdit;
extern QPixmap* gpPixmapSlideru;
extern QPixmap* gpPixmapSliderd;
extern QPixmap* gpPixmapSlidert;
extern QPixmap* gpPixmapButton[2];
extern QPixmap* gpPixmapOUT[2];
extern QPixmap* gpPixmapMove[7];

// Constant I/O name tables: columns Simplified Chinese, English,
// Traditional Chinese, Japanese.
extern const char* const gInName[16][4];
extern const char* const gOutName[14][4];
extern const char* const gCustomInputName[8][4];
extern const char* const gCustomOutputName[8][4];
extern const int TriginNo[8];
extern const int OutputNo[8];
extern const QString package[3];

extern QString ts_create;
extern QString ts_firstpress;
extern QString ts_calibrate;
extern int ts_calibrate_times;

// Waits 1 s before the process ends on its own account (reboot, power-off, exit).
void StopWTD();
// StopWTD(), then ends the process with the given status.
[[noreturn]] void Exit(int status);
// Merges "version" and "camcount" into ./cnt_net/config.json, keeping every
// other key; the file is replaced atomically so a power cut never empties it.
void writeVersionToJson();

// The values of gSource. None while the ROI page is closed.
namespace PictureSource {
enum : int { None = -1, Template = 0, Live = 1, RecentNg = 2, OkRecord = 3, NgRecord = 4 };
}  // namespace PictureSource
