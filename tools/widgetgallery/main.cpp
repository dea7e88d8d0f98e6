// The widget gallery: renders each widget and box of the touch kit in the
// four operator languages and writes <out>/<language>_<name>.png.
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"
#include "editip.h"
#include "globals.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "publictools_widget.h"
#include "slider.h"
#include "warnbox.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// The rows the gallery shows, used only when the program's text table has
// not been filled (Simplified Chinese, English, Traditional Chinese, Japanese).
struct SampleRow {
    int row;
    const char* text[4];
};
const SampleRow kSamples[] = {
    {39,
     {"警告：相机不可用，\r\n请检查连接！", "Warning: The camera is unavailable, \r\n please check the connection!",
      "警告：相機不可用，\r\n請檢查連接！", "警告：カメラが使用できません。\r\n接続を確認してください！"}},
    {121, {"确定", "Confirm", "確定", "確認"}},
    {122, {"是", "YES", "是", "はい"}},
    {123, {"否", "NO", "否", "いいえ"}},
    {124, {"取消", "Cancel", "取消", "キャンセル"}},
    {125, {"密码:", "Password:", "密碼:", "パスワード:"}},
    {157, {"退格", "BS", "退格", "BS"}},
    {158, {"小写", "Lower", "小寫", "小文字"}},
    {159, {"大写", "Capital", "大寫", "大文字"}},
    {164, {"曝光", "Exposure", "曝光", "露光"}},
    {165, {"增益", "Gain", "增益", "ゲイン"}},
    {170, {"启用密码", "Enable Password", "啟用密碼", "パスワード有効"}},
    {209, {"关机", "Shut Down", "關機", "シャットダウン"}},
    {285,
     {"确定恢复此参数组\r\n并重启？", "Be sure to restore this parameter group \r\n and restart?",
      "確定恢復此參數組\r\n並重啟？", "このパラメータグループを復元して\r\n再起動しますか？"}},
    {356, {"密码", "PWD", "密碼", "パスワード"}},
    {357, {"密码错误", "The password is wrong", "密碼錯誤", "パスワードが違います"}},
    {441, {"符号", "symbol", "符號", "記号"}},
    {442, {"字符", "character", "字元", "文字"}},
    {657, {"相机断开", "camera disconnect", "相機斷開", "カメラ切断"}},
};

void fillSamplesWhenEmpty()
{
    for (const SampleRow& s : kSamples) {
        for (int lan = 0; lan < 4; ++lan) {
            if (gaLanStr[s.row][lan].isEmpty())
                gaLanStr[s.row][lan] = QString::fromUtf8(s.text[lan]);
        }
    }
}

void loadSkin()
{
    auto load = [](const char* file) { return new QPixmap(kitPixmap(QString::fromLatin1(file))); };
    gpPixmapBG = load("background.png");
    gpPixmapEdit = load("edit.png");
    gpPixmapSlideru = load("slideru.png");
    gpPixmapSliderd = load("sliderd.png");
    gpPixmapSlidert = load("slidert.png");
}

class Gallery {
public:
    explicit Gallery(QString out)
        : out_(std::move(out))
    {
    }

    void save(QWidget* w, const QString& name)
    {
        w->ensurePolished();
        if (!w->isVisible() && w->isWindow()) {
            w->setAttribute(Qt::WA_DontShowOnScreen);
            w->show();
        }
        QCoreApplication::processEvents();
        const QString file = QStringLiteral("%1/%2_%3.png").arg(out_).arg(gLan).arg(name);
        if (!w->grab().save(file))
            std::fprintf(stderr, "widgetgallery: cannot write %s\n", qPrintable(file));
        ++count_;
    }
    int count() const { return count_; }

private:
    QString out_;
    int count_ = 0;
};

void renderLanguage(Gallery& g)
{
    NumberInput numPad;
    numPad.resize(427, 230);
    g.save(&numPad, QStringLiteral("numberinput"));

    NumCharInput charPad;
    charPad.setAttribute(Qt::WA_DontShowOnScreen);
    charPad.show();
    g.save(&charPad, QStringLiteral("numcharinput_lower"));
    charPad.SlotCap();
    g.save(&charPad, QStringLiteral("numcharinput_capital"));
    charPad.SlotChgChar_Punc();
    g.save(&charPad, QStringLiteral("numcharinput_symbol"));

    WarnBox warn;
    warn.setText(kitText(39));
    g.save(&warn, QStringLiteral("warnbox"));
    ProductAlarmWarnBox product;
    g.save(&product, QStringLiteral("productalarmwarnbox"));
    LostCameraWarnBox lost;
    g.save(&lost, QStringLiteral("lostcamerawarnbox"));
    ChooseBox choose(nullptr, 750, 370);
    choose.setText(kitText(285));
    g.save(&choose, QStringLiteral("choosebox"));
    ModifyTimeWidget time;
    time.dateTimeEdit->ShowDateTime();
    g.save(&time, QStringLiteral("modifytimewidget"));
    ChooseCaliNumWidget cali;
    g.save(&cali, QStringLiteral("choosecalinumwidget"));

    PasswordBox password;
    g.save(&password, QStringLiteral("passwordbox"));
    password.pwdEdit->setPlaceholderText(kitText(357));
    g.save(&password, QStringLiteral("passwordbox_wrong"));

    std::unique_ptr<QWidget> boxes(new QWidget);
    QPalette dark = boxes->palette();
    dark.setColor(QPalette::Window, QColor(60, 60, 60));
    boxes->setPalette(dark);
    boxes->setAutoFillBackground(true);
    auto* col = new QVBoxLayout(boxes.get());
    auto* exposure = new EditBox(0, 10000, boxes.get(), kitText(164), QStringLiteral("ms"), 0, 1);
    exposure->setValue(250);
    auto* gain = new EditBox(0, 1000, boxes.get(), kitText(165), QString(), 2, 10);
    gain->setValue(125);
    auto* sample = new EditBox(0, 100, boxes.get(), kitText(165), QString(), 0, 1);
    sample->setSampleMode();
    sample->setValue(7);
    auto* check = new CheckBox(boxes.get(), kitText(170));
    check->setValue(1);
    auto* ip = new EditIP(QStringLiteral("IP"), 0, boxes.get());
    ip->setAddress(QStringLiteral("192.168.1.20"));
    auto* dt = new EditDateTime(kitText(121), boxes.get());
    dt->ShowDateTime();
    auto* combo = new ComboBox(boxes.get());
    combo->addItems({QStringLiteral(" 4 "), QStringLiteral(" 9 "), QStringLiteral(" 25 ")});
    auto* slider = new Slider(0, 255, 10, 96, boxes.get(), kitText(164));
    slider->setFixedSize(1000, 60);
    auto* buttons = new QWidget(boxes.get());
    auto* b3 = new ColorButton(kitText(121), buttons, 3);
    b3->setGeometry(0, 0, 220, 100);
    auto* b4 = new ColorButton(kitText(124), buttons, 4);
    b4->setGeometry(240, 0, 220, 100);
    b4->setCheckable(true);
    b4->setChecked(true);
    buttons->setFixedHeight(100);
    for (QWidget* w : {static_cast<QWidget*>(exposure), static_cast<QWidget*>(gain), static_cast<QWidget*>(sample),
                       static_cast<QWidget*>(check), static_cast<QWidget*>(ip), static_cast<QWidget*>(dt),
                       static_cast<QWidget*>(combo), static_cast<QWidget*>(slider), buttons})
        col->addWidget(w);
    boxes->resize(1100, 900);
    g.save(boxes.get(), QStringLiteral("inputs"));

    CComp_DialogFrame frame(QStringLiteral("网络设置"));
    CComp_DialogFrame::setDefaultWgt(&frame, QString());
    auto* body = new QVBoxLayout(frame.bodyWidget());
    body->addWidget(new QLabel(QStringLiteral("eth0  192.168.1.20"), frame.bodyWidget()));
    auto* text = new TextShowWidget(frame.bodyWidget());
    text->textBrowser->append(QStringLiteral("ping 192.168.1.1 ... ok"));
    body->addWidget(text);
    frame.addTitleWgt(new QPushButton(kitText(124)));
    frame.resize(1000, 800);
    g.save(&frame, QStringLiteral("dialogframe"));

    CComp_DiaWait wait([] {}, nullptr);
    g.save(&wait, QStringLiteral("diawait"));

    FloatSlider zoom;
    zoom.resize(500, 40);
    zoom.setValue(2.5f);
    g.save(&zoom, QStringLiteral("floatslider"));

    SplashFrame splash;
    splash.flushstep(80, QStringLiteral("Find the camera and obtain the image"));
    g.save(&splash, QStringLiteral("splashframe"));
    splash.close();
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("gallery");
    QDir().mkpath(out);
    gShowW = 1280;
    gShowH = 800;
    fillSamplesWhenEmpty();
    loadSkin();
    Gallery g(out);
    for (int lan = 0; lan < 4; ++lan) {
        gLan = lan;
        renderLanguage(g);
    }
    std::printf("widgetgallery: %d pictures in %s\n", g.count(), qPrintable(out));
    return 0;
}
