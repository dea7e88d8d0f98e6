#include "settingword.h"

#include "word.h"

#include <QHash>

#include <algorithm>
#include <iterator>

bool SettingWord::accepts(int value) const
{
    switch (kind) {
    case Check:
        return value == onValue || value == offValue;
    case Choice:
        return value >= 0 && value < choiceRows.size();
    case Number:
        break;
    }
    return (value >= min && value <= max) || (zeroAllowed && value == 0);
}

namespace settingwords {

namespace {

SettingWord number(int word, int row, SettingWord::Page page, int min, int max, bool zero = false)
{
    return {word, row, SettingWord::Number, page, min, max, {}, zero, 0, 0};
}

SettingWord check(int word, int row, SettingWord::Page page, int on = 1, int off = 0)
{
    return {word, row, SettingWord::Check, page, 0, 0, {}, false, on, off};
}

SettingWord choice(int word, int row, SettingWord::Page page, QVector<int> rows)
{
    return {word, row, SettingWord::Choice, page, 0, 0, std::move(rows), false, 0, 0};
}

// Words the record keeps but the program does nothing with yet: they get no
// control, so that no switch on the screen promises what does not happen.
// Their stored values are kept as they are.
const int kNotBuilt[] = {Word::CutEjectorWhenClamping,
                         Word::TemplateAutoUpdate,
                         Word::RecheckCount,
                         Word::EjectorPulse,
                         Word::ClampPulse,
                         Word::Output4Pulse,
                         Word::InputTimeoutSeconds,
                         Word::InputDebounce,
                         Word::Input4Function,
                         Word::CutClampAfterMouldOk,
                         Word::CutEjectorAfterProductOk,
                         Word::OutputOnCavityNg,
                         Word::NotDetectReleases,
                         Word::UseStatistics,
                         Word::UseLog,
                         Word::EjectorInputSkips,
                         Word::CavityOkCount,
                         Word::NoLensOptimisation,
                         Word::ManualSnapshot,
                         Word::FactoryParams,
                         Word::SeparateDetectSignal,
                         Word::PreCut,
                         Word::ProductNgNoEjector,
                         Word::InputResetRechecks,
                         Word::UsbLostAlarm};

QVector<SettingWord> build()
{
    using P = SettingWord;
    QVector<SettingWord> t;
    // Camera picture: the camera-0 words; ranges as the load repairs them.
    t << number(Word::Exposure0, 164, P::CameraPage, 0, 10000) << number(Word::Gain0, 165, P::CameraPage, 0, 10000)
      << number(Word::Sharpness0, 241, P::CameraPage, 0, 10000) << number(Word::Contrast0, 242, P::CameraPage, 0, 10000)
      << number(Word::Gamma0, 364, P::CameraPage, 0, 10000) << check(Word::MirrorHorizontal0, 617, P::CameraPage)
      << check(Word::MirrorVertical0, 618, P::CameraPage) << check(Word::WideDynamicRange, 388, P::CameraPage);

    // Detection mode, steps, countdowns, picture keeping.
    t << choice(Word::ModeChosen, 689, P::SystemPage, {384, 385, 386, 472})
      << choice(Word::MouldsChecked, 690, P::SystemPage, {376, 377, 383}) << check(Word::SemiAuto, 174, P::SystemPage)
      << check(Word::ProductStepEnabled, 175, P::SystemPage)
      << number(Word::TriggerDelay0, 161, P::SystemPage, 0, 10000)
      << number(Word::TriggerDelay0 + 1, 162, P::SystemPage, 0, 10000);
    const int laterDelays[] = {485, 486, 487, 488, 489, 490};
    for (int k = 0; k < 6; ++k)
        t << number(Word::TriggerDelay0 + 2 + k, laterDelays[k], P::SystemPage, 0, 10000);
    t << number(Word::TemplatesKept, 185, P::SystemPage, 1, 100)
      << number(Word::NgPicturesKept, 186, P::SystemPage, 0, 20000)
      << number(Word::OkPicturesKept, 187, P::SystemPage, 0, 20000)
      << number(Word::ScreenOffSeconds, 243, P::SystemPage, 30, 9999, true)
      << number(Word::AcquisitionSpeed, 244, P::SystemPage, 0, 100) << number(Word::Amplify, 188, P::SystemPage, 0, 4)
      << number(Word::AutoLogoutSeconds, 189, P::SystemPage, 0, 10000) << check(Word::PasswordUsed, 170, P::SystemPage)
      << choice(Word::SerialPort, 269, P::SystemPage, {460, 461, 462, 463, 464, 465, 466, 467})
      << check(Word::UsbSave, 704, P::SystemPage) << number(Word::UsbDaysKept, 705, P::SystemPage, 1, 3650);

    // Interlocks and operator switches.
    for (int w :
         {Word::SameParameters, Word::StopClampWhenStopped, Word::NoEjectorControlInProduct,
          Word::EjectorPulseOnProductNg, Word::CavityNgClampPulse, Word::OkNgPulses, Word::CutEjectorOnProductAlarm,
          Word::CutClampOnMouldAlarm, Word::NotDetectPassword, Word::AddTemplatePassword, Word::StopDetectPassword,
          Word::SafetyDoorClearsAlarm, Word::SafetyDoorDetect, Word::HoldPictureAfterAlarm, Word::AddAllTemplates,
          Word::SampleCamerasSeparately, Word::SkipToCavityAfterDoor, Word::LostCameraDialog, Word::ExternalTrigger}) {
        static const QHash<int, int> rows = {{Word::SameParameters, 177},
                                             {Word::StopClampWhenStopped, 179},
                                             {Word::NoEjectorControlInProduct, 192},
                                             {Word::EjectorPulseOnProductNg, 190},
                                             {Word::CavityNgClampPulse, 659},
                                             {Word::OkNgPulses, 202},
                                             {Word::CutEjectorOnProductAlarm, 515},
                                             {Word::CutClampOnMouldAlarm, 562},
                                             {Word::NotDetectPassword, 194},
                                             {Word::AddTemplatePassword, 341},
                                             {Word::StopDetectPassword, 556},
                                             {Word::SafetyDoorClearsAlarm, 195},
                                             {Word::SafetyDoorDetect, 265},
                                             {Word::HoldPictureAfterAlarm, 621},
                                             {Word::AddAllTemplates, 622},
                                             {Word::SampleCamerasSeparately, 624},
                                             {Word::SkipToCavityAfterDoor, 629},
                                             {Word::LostCameraDialog, 658},
                                             {Word::ExternalTrigger, 519}};
        t << check(w, rows.value(w), P::FunctionPage);
    }
    // Motion correction is on at 0 and off at -1.
    t << check(Word::MotionCorrection, 176, P::FunctionPage, 0, -1)
      << choice(Word::Output4Follows, 334, P::FunctionPage, {455, 407, 408, 409});

    // Detection algorithms.
    for (int w : {Word::DefectAlgorithm, Word::SpotAlgorithm, Word::IgnoreAreaAlgorithm, Word::EditLocateArea,
                  Word::RoiLimits, Word::AreaIsMinimum, Word::LiveRoiDisplay, Word::Normalise, Word::Homography,
                  Word::ContinuousArea, Word::RectToQuadrilateral, Word::ColourCamera, Word::GreyChannel,
                  Word::BlackArea, Word::WhiteArea, Word::WhiteNumber, Word::BlackNumber, Word::Similarity}) {
        static const QHash<int, int> rows = {
            {Word::DefectAlgorithm, 196}, {Word::SpotAlgorithm, 197},       {Word::IgnoreAreaAlgorithm, 198},
            {Word::EditLocateArea, 199},  {Word::RoiLimits, 200},           {Word::AreaIsMinimum, 457},
            {Word::LiveRoiDisplay, 470},  {Word::Normalise, 582},           {Word::Homography, 583},
            {Word::ContinuousArea, 671},  {Word::RectToQuadrilateral, 676}, {Word::ColourCamera, 270},
            {Word::GreyChannel, 271},     {Word::BlackArea, 390},           {Word::WhiteArea, 391},
            {Word::WhiteNumber, 520},     {Word::BlackNumber, 625},         {Word::Similarity, 397}};
        t << check(w, rows.value(w), P::AdvancedPage);
    }
    t << number(Word::GreyFilter, 22, P::AdvancedPage, 1, 100) << number(Word::GreyArea, 24, P::AdvancedPage, 1, 1000)
      << number(Word::BandFilter, 181, P::AdvancedPage, 1, 100)
      << number(Word::SearchMargin, 213, P::AdvancedPage, 1, 8000)
      << number(Word::AngleRange, 403, P::AdvancedPage, 0, 180)
      << number(Word::ShapeAccuracy, 663, P::AdvancedPage, 0, 10)
      << number(Word::ShapeLevels, 664, P::AdvancedPage, 0, 10);

    // Wiring sense of outputs 1-9: "Break" or "Close".
    for (int k = 0; k < 9; ++k)
        t << choice(Word::OutputInverted0 + k, 496, P::OutputPage, {204, 211});
    // A word nothing acts on never gets a control, whatever the pages above list.
    t.erase(std::remove_if(t.begin(), t.end(), [](const SettingWord& w) { return notBuilt(w.word); }), t.end());
    return t;
}

}  // namespace

const QVector<SettingWord>& all()
{
    static const QVector<SettingWord> table = build();
    return table;
}

int cameraBase(int word)
{
    for (int base : {Word::Exposure0, Word::Gain0, Word::Sharpness0, Word::Contrast0, Word::Gamma0,
                     Word::MirrorHorizontal0, Word::MirrorVertical0})
        if (word >= base && word < base + 8)
            return base;
    return -1;
}

bool notBuilt(int word)
{
    return std::find(std::begin(kNotBuilt), std::end(kNotBuilt), word) != std::end(kNotBuilt);
}

const SettingWord* find(int word)
{
    const int base = cameraBase(word);
    const int key = base >= 0 ? base : word;
    for (const SettingWord& w : all())
        if (w.word == key)
            return &w;
    return nullptr;
}

}  // namespace settingwords
