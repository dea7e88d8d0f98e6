// The system parameter words that the settings screen edits: each with its
// label (operator-text row), its kind of control and the values it may take.
// Every value typed or chosen is checked against this table before it
// reaches the working copy `gpWParaBak`.
#pragma once

#include <QVector>

struct SettingWord {
    enum Kind {
        Number,   // typed on the digit pad, min..max (0 also allowed with zeroAllowed)
        Check,    // a check box: onValue when checked, offValue otherwise
        Choice,   // a combo box: item i stands for value i, labels from choiceRows
    };
    enum Page {
        CameraPage,     // per camera; the word is the camera-0 word, camera c adds c
        SystemPage,
        FunctionPage,
        AdvancedPage,
        OutputPage,
        PageCount,
    };

    int word;
    int labelRow;
    Kind kind;
    Page page;
    int min;
    int max;
    QVector<int> choiceRows;   // Choice only
    bool zeroAllowed;          // Number: 0 is allowed besides min..max
    int onValue;               // Check only
    int offValue;

    // Whether `value` may be stored in this word.
    bool accepts(int value) const;
};

namespace settingwords {

// Every edited word, in page and display order.
const QVector<SettingWord>& all();
// The entry that edits `word` (for camera words any camera's word), or null.
const SettingWord* find(int word);
// Whether `word` is one the record keeps but nothing acts on yet (no control).
bool notBuilt(int word);
// The per-camera word base (0, 8, 16, 24, 32, 317, 325) of `word`, or -1.
int cameraBase(int word);

}  // namespace settingwords
