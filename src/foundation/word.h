// The names of the system parameter words (WizardPara::words[N] is word N).
// Code reads a word by its name here, never by its number: `sysWord(
// Word::SafetyDoorDetect)`; a word of a per-camera, per-step or per-output
// run is its first word plus the index: `Word::StepEnabled0 + step`.
//
// The numbers are the stored layout of PARAM.db's `sysparam` rows and never
// change; the numbering has gaps. How a word is edited (control, range,
// label row) is the settings screen's table (settingword.cpp), which names
// its words from here. This lives at the bottom of the libraries because the
// widget kit reads words too (through CycleControl::paraWord).
#pragma once

namespace Word {
enum : int {
    // ---- Per camera c = 0..7: word + c ----------------------------------
    Exposure0 = 0,
    Gain0 = 8,
    Sharpness0 = 16,
    Contrast0 = 24,
    Gamma0 = 32,
    MirrorHorizontal0 = 317,
    MirrorVertical0 = 325,

    // ---- Per step k = 0..7: word + k ------------------------------------
    TriggerDelay0 = 40,       // tenths of a second
    TriggerInput0 = 49,       // 0-based input, -1 none; derived at load
    StepEnabled0 = 86,        // derived at load (word 86 = step 0 enabled)
    IoRowOfStep0 = 218,       // mode 3: the I/O-page row serving the step, -1 none
    TriggerSlotOfRow0 = 226,  // mode 3: per I/O-page row, its trigger input slot
    CutModeOfRow0 = 234,      // mode 3: per I/O-page row, its cut mode
    StepRowCopy0 = 242,       // mode 3: copy of IoRowOfStep0.., derived at load
    InputNameIndex0 = 251,    // mode 3: per input slot, index into gInName
    OutputNameIndex0 = 259,   // mode 3: per output slot, index into gOutName

    // ---- Per input / output ----------------------------------------------
    InputInverted0 = 67,      // inputs 0..7; never stored
    OutputInverted0 = 76,     // outputs 1..9: word + (output - 1)

    // ---- General settings ------------------------------------------------
    SemiAuto = 85,
    SameParameters = 94,          // product and mould steps share their ROI parameters
    StopClampWhenStopped = 95,    // keep the mould from closing while detection is stopped
    MotionCorrection = 96,        // 0 on, -1 off
    CutEjectorWhenClamping = 97,
    PasswordUsed = 98,
    TemplateAutoUpdate = 99,
    ProductStepEnabled = 100,     // step 0 enabled (as set on the settings screen)
    TemplatesKept = 102,
    NgPicturesKept = 103,
    OkPicturesKept = 104,
    ScreenOffSeconds = 105,
    AcquisitionSpeed = 106,
    Amplify = 107,                // training amplification 0-4
    AutoLogoutSeconds = 108,
    RecheckCount = 110,
    EjectorPulse = 111,           // tenths
    ClampPulse = 112,             // tenths
    Output4Pulse = 113,           // tenths
    InputTimeoutSeconds = 114,
    InputDebounce = 115,          // tenths
    GreyFilter = 116,             // default filter size
    GreyArea = 117,               // default alarm area
    ColourMin = 118,
    ColourMax = 119,
    ShapeAccuracy = 120,
    ShapeLevels = 121,            // number of zoom layers
    NoEjectorControlInProduct = 122,
    EjectorPulseOnProductNg = 123,
    CavityNgClampPulse = 124,
    Input4Function = 125,
    CutClampAfterMouldOk = 126,
    CutEjectorAfterProductOk = 127,
    OkNgPulses = 128,
    CutEjectorOnProductAlarm = 129,
    CutClampOnMouldAlarm = 130,
    OutputOnCavityNg = 131,
    NotDetectReleases = 132,
    ProductNgNoEjector = 133,
    InputResetRechecks = 134,
    NotDetectPassword = 135,
    AddTemplatePassword = 136,
    StopDetectPassword = 137,
    SafetyDoorClearsAlarm = 138,  // the alarm is cleared only with the door open
    DefectAlgorithm = 139,
    SpotAlgorithm = 140,
    IgnoreAreaAlgorithm = 141,
    EditLocateArea = 142,
    RoiLimits = 143,              // all parameters shown; ROIs use their own filter and area
    SafetyDoorDetect = 144,
    UseStatistics = 146,
    Output4Follows = 147,
    SearchMargin = 148,
    AreaIsMinimum = 149,          // the template is an NG image
    LiveRoiDisplay = 150,
    UseLog = 151,
    Normalise = 153,              // match template brightness
    Homography = 154,             // angle correction
    HoldPictureAfterAlarm = 155,
    AddAllTemplates = 156,
    SampleCamerasSeparately = 157,
    SkipToCavityAfterDoor = 158,
    EjectorInputSkips = 159,
    LostCameraDialog = 160,
    CavityOkCount = 161,
    ContinuousArea = 162,
    RectToQuadrilateral = 163,
    ContinuousCopy = 164,
    Reserved165 = 165,
    ZoomSlider = 166,
    SerialPort = 167,             // /dev/ttyS<word>
    ColourCamera = 168,
    GreyChannel = 169,
    NoLensOptimisation = 170,
    BandFilter = 171,             // spot filter size
    ManualSnapshot = 172,
    FactoryParams = 173,
    SeparateDetectSignal = 174,
    Mode = 175,                   // detection mode in force (DetectMode)
    ModeChosen = 176,             // detection mode chosen on the settings screen
    MouldsChecked = 177,          // two-colour and turntable modes: CheckedMoulds
    PreCut = 178,                 // tenths
    WideDynamicRange = 179,
    BlackArea = 180,
    WhiteArea = 181,
    WhiteNumber = 182,
    BlackNumber = 183,
    ColourSpots = 184,
    Similarity = 185,
    AngleRange = 186,             // 1-180; 0 leaves the range to MotionCorrection
    Scratch = 187,                // positions of a row that carry no setting
    UsbDaysKept = 213,
    UsbLostAlarm = 214,
    UsbSave = 215,
    StepCountMode3 = 217,
    StepCount = 267,              // derived at load
    Sequential = 268,
    ExternalTrigger = 284,
    GroupIndex = 338,             // current parameter group (sysadd.txt)
};
}  // namespace Word

// The values of Word::Mode and Word::ModeChosen: how the detection steps are
// laid out. The numbers are stored and never change.
namespace DetectMode {
enum : int {
    Standard = 0,    // product step 0 and mould step 1
    TwoColour = 1,   // steps 0-3: product and mould of the left and right mould
    Turntable = 2,   // as two-colour, each side triggered on its own
    MultiStep = 3,   // up to 8 steps laid out on the I/O page
};
}  // namespace DetectMode

// The values of Word::MouldsChecked in the two-colour and turntable modes.
namespace CheckedMoulds {
enum : int { Left = 0, Right = 1, Both = 2 };
}  // namespace CheckedMoulds
