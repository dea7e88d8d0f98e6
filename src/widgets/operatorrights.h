// The rights level the operator is signed in at. The password box, which
// checks the password, is its owner and writer; the main window sets it back
// to 0 when the automatic log-out runs out. Everything else reads it. The
// operation record takes it through the operator dialogs
// (OperatorDialogs::rightsLevel), which the widget kit's dialogs answer from
// here. GUI thread only.
#pragma once

class OperatorRights {
public:
    // The process-wide rights.
    static OperatorRights& get();

    // Back to the state of a freshly opened window: nobody signed in.
    void reset() { rightsLevel_ = 0; }

    int rightsLevel() const { return rightsLevel_; }   // 0 none, 1 operator, 2 factory
    void setRightsLevel(int level) { rightsLevel_ = level; }

private:
    OperatorRights() = default;
    OperatorRights(const OperatorRights&) = delete;
    OperatorRights& operator=(const OperatorRights&) = delete;

    int rightsLevel_ = 0;
};
