#include "globals.h"

#include "atomicfile.h"
#include "platform.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>

#include <cstdlib>

const char* const kAppVersion = VMM_APP_VERSION;

QString gaLanStr[kLanRows][kLanCols];
int gLan = 0;
QString linux_kernel_proc_version;
// -1 until the device is opened: 0 is a valid descriptor (stdin) and must
// never receive the LED requests.
int gfLED = -1;
QString gAppDirPath;
QString gDeviceID;
QMutex* pMutexIO = nullptr;
QMutex* pMutexSaveFail = nullptr;
Posix_QextSerialPort* gpCom = nullptr;
std::atomic<int> gIOID{0};
std::atomic<int> gDataIn{0};
std::atomic<int> gDataOut{0};
int numCamera = 0;
int gisCOM = 0;
int gisColor = 0;
int gisGrayHue = 0;
int gTempNum = 0;
int gPicNumNG = 0;
int gPicNumOK = 0;
int gShowW = 0;
int gShowH = 0;
int gDNum = 0;
int gSource = PictureSource::None;
unsigned char* gpFailImage[kMaxCamera * kMaxDetect * 2] = {};
bool gisSaveFail[kMaxCamera * kMaxDetect * 2] = {};
int gFailIndex[kMaxCamera * kMaxDetect] = {};
bool gisSafeDoorOpen = false;
bool gFromTrain = false;
QString gTempTime;
QString gaName[18];

QPixmap* gpPixmapLogo = nullptr;
QPixmap* gpPixmapBG = nullptr;
QPixmap* gpPixmapTitle = nullptr;
QPixmap* gpPixmapLine = nullptr;
QPixmap* gpPixmapEdit = nullptr;
QPixmap* gpPixmapSlideru = nullptr;
QPixmap* gpPixmapSliderd = nullptr;
QPixmap* gpPixmapSlidert = nullptr;
QPixmap* gpPixmapButton[2] = {};
QPixmap* gpPixmapOUT[2] = {};
QPixmap* gpPixmapMove[7] = {};

const char* const gInName[16][4] = {
    {"开模到位", "Mol op", "開模到位", "Mol op"},
    {"安全门关", "clo door", "安全門關", "clo door"},
    {"安全门开", "op door", "安全門開", "op door"},
    {"顶针退", "Thim O", "頂針退", "Thim O"},
    {"顶针进", "Thim I", "頂針進", "Thim I"},
    {"开模阀", "Mol val", "開模閥", "Mol val"},
    {"机械手", "Manip", "機械手", "Manip"},
    {"复位键", "Res but", "復位鍵", "Res but"},
    {"滑块退", "Slid back", "滑塊退", "Slid back"},
    {"机手上行", "Mac up", "機手上行", "Mac up"},
    {"中子A进", "Neu A I", "中子A進", "Neu A I"},
    {"中子A退", "Neu A O", "中子A退", "Neu A O"},
    {"中子B进", "Neu B I", "中子B進", "Neu B I"},
    {"中子B退", "Neu B O", "中子B退", "Neu B O"},
    {"中子C进", "Neu C I", "中子C進", "Neu C I"},
    {"中子C退", "Neu C O", "中子C退", "Neu C O"},
};

const char* const gOutName[14][4] = {
    {"允许合模", "Al clam", "允許合模", "Al clam"},
    {"允许顶针", "Al thim", "允許頂針", "Al thim"},
    {"中子A进", "Neu A I", "中子A進", "Neu A I"},
    {"中子A退", "Neu A O", "中子A退", "Neu A O"},
    {"中子B进", "Neu B I", "中子B進", "Neu B I"},
    {"中子B退", "Neu B O", "中子B退", "Neu B O"},
    {"中子C进", "Neu C I", "中子C進", "Neu C I"},
    {"中子C退", "Neu C O", "中子C退", "Neu C O"},
    {"允许绞牙", "Al thread", "允許絞牙", "Al thread"},
    {"允许旋转", "Rot", "允許旋轉", "Rot"},
    {"允许左移", "L shift", "允許左移", "L shift"},
    {"允许右移", "R shift", "允許右移", "R shift"},
    {"允许移模", "Mov mol", "允許移模", "Mov mol"},
    {"机手动作", "Mac mov", "機手動作", "Mac mov"},
};

const char* const gCustomInputName[8][4] = {
    {"输入1", "Input 1", "", "入力1"}, {"输入3", "Input 3", "", "入力3"},
    {"输入4", "Input 4", "", "入力4"}, {"输入5", "Input 5", "", "入力5"},
    {"输入6", "Input 6", "", "入力6"}, {"输入7", "Input 7", "", "入力7"},
    {"输入8", "Input 8", "", "入力8"}, {"输入9", "Input 9", "", "入力9"},
};

const char* const gCustomOutputName[8][4] = {
    {"输出1", "Output 1", "", "出力1"}, {"输出2", "Output 2", "", "出力2"},
    {"输出4", "Output 4", "", "出力4"}, {"输出5", "Output 5", "", "出力5"},
    {"输出6", "Output 6", "", "出力6"}, {"输出7", "Output 7", "", "出力7"},
    {"输出8", "Output 8", "", "出力8"}, {"输出9", "Output 9", "", "出力9"},
};

const int TriginNo[8] = {1, 3, 4, 5, 6, 7, 8, 9};
const int OutputNo[8] = {2, 4, 5, 6, 7, 8, 9, 1};
const QString package[3] = {QStringLiteral("gz"), QStringLiteral("tar"), QStringLiteral("rar")};

QString ts_create;
QString ts_firstpress;
QString ts_calibrate;
int ts_calibrate_times = 0;

void StopWTD()
{
    platform::sleeper().sleepMs(1000);
}

void Exit(int status)
{
    StopWTD();
    std::exit(status);
}

void writeVersionToJson()
{
    const QString path = QStringLiteral("./") + QStringLiteral("cnt_net/config.json");
    QJsonObject obj;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(in.readAll());
        if (doc.isObject())
            obj = doc.object();
        in.close();
    }
    obj.insert(QStringLiteral("version"), QString::fromLatin1(kAppVersion));
    obj.insert(QStringLiteral("camcount"), numCamera);

    // Through a temporary file and a rename: a power cut or a full disk
    // while saving leaves the old file, never an empty or cut one.
    writeFileAtomically(path, QJsonDocument(obj).toJson(QJsonDocument::Indented));
}
