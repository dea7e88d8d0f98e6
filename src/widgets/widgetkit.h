// The widget kit's set-up on the main window and its rights gates.
#pragma once

class QWidget;

// Creates the two on-screen pads and the shared boxes (gpWarnBox,
// gpChooseBox, gpPasswordBox, gpProductAlarmWarnBox, gpLostCameraWarnBox) on
// `window`, installs the filter that puts the pads away on a press on it, and
// the tap guard's hook (every dialog that closes guards its place).
// The globals are cleared when their box is destroyed with the window.
void InitWidgetKit(QWidget* window);
// Operator gate: 1 while the password is not in use (word 98 is 0), else
// the level held, else the level the password box grants (0 = refused).
int CheckPassword();
// Factory gate: 1 when level 2 is held or granted by the password box, else 0.
int CheckRoot();
