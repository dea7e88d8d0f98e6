// What the camera view and the ROI page know of each ROI function, looked up
// by its name (CammerRecong::Function): the settings word that offers it, the
// parameters a region starts with, what each of the panel's three sliders
// shows and how it writes a packed parameter, and the texts of its labels.
//
// Packed parameters: the grey band keeps its band in p3 (byte 0 minimum,
// byte 1 maximum); the blob counts keep a count range in p2 (low 16 bits
// minimum, high 16 bits maximum); the colour box three colour ranges in p1,
// p2, p3 (halves). A slider of a packed parameter shows one member; the
// panel's pair switch shows the other.
#pragma once

#include "cammerrecongnize.h"

#include <QString>

class CammerSingleton;

class RoiFunctions {
public:
    using Function = CammerRecong::Function;
    static constexpr int kCount = CammerRecong::kHomography + 1;

    // How a parameter holds its value(s).
    enum class Packing { Plain, Bytes01, Halves };
    // When the panel shows a slider.
    enum class Shown { Never, Always, WithRoiLimits };

    // A caption: a language row, or (row < 0) a text of the view's own.
    struct Caption {
        int row = -1;
        const char* text = nullptr;
        QString toString() const;
    };

    struct Slider {
        int min = 0;
        int max = 0;
        Shown shown = Shown::Always;
        Packing packing = Packing::Plain;
        Caption caption;        // the first member (or the whole value)
        Caption pairCaption;    // the second member, shown by the pair switch
    };

    struct Info {
        Function function;
        int switchWord;          // the settings word that offers the function
        // Parameters of a new region; a member without a start is left as
        // it is. The grey template takes p2 and p3 from the settings words.
        int start[3];
        bool hasStart[3];
        bool startFromWords;
        Slider sliders[3];       // p1, p2, p3
        Caption name;            // the method button's caption
        bool paired;             // the pair switch applies
    };

    // Whether `method` is one of the functions.
    static bool known(int method) { return method >= 0 && method < kCount; }
    // The function's entry; an unknown method reads as the grey template.
    static const Info& info(int method);
    // Whether the function is switched on in the live system parameters.
    static bool enabled(int method);
    // The function after `method` that is switched on (wrapping), or -1.
    static int nextEnabled(int method);
    // Starting parameters (see Info::start); false for an unknown method,
    // which starts as the grey template.
    static bool startParameters(int method, int& p1, int& p2, int& p3);
    // Slot j of `rec` takes `method` with its starting parameters.
    static void startSlot(CammerSingleton& rec, int j, int method);
    // The member of parameter `value` a slider of this packing shows:
    // the first or (`second`) the second.
    static int member(Packing packing, int value, bool second);
    // `value` with that member set to v.
    static int withMember(Packing packing, int value, bool second, int v);
    // `p` moved by the difference between `cur` and `snap`, member by
    // member for a packed parameter: a change of one member never spills
    // into its neighbour, and each stays within its own range.
    static int addDifference(Packing packing, int p, int cur, int snap);
    // p + d, held within the int range.
    static int addPlain(int p, int d);

    // Label texts of record slot j: the limits the live view shows, the
    // parameters the template view shows.
    static QString limitText(const CammerSingleton& rec, int j);
    static QString paramText(const CammerSingleton& rec, int j);
};
