// The screen's follow-up of the moulding cycle's judgements and decisions.
#pragma once

class CycleScreen {
public:
    virtual ~CycleScreen() = default;
    // After a judgement, before its decision (training may open region
    // setting).
    virtual void stepJudged(int step) = 0;
    // After a decision: the NG page, the camera alarm, the screen light,
    // repaint.
    virtual void stepDecided(int step, bool ok, bool manual) = 0;
    // The owed steps are to be judged once the operator's decision has
    // returned (MouldCycle::judgeOwedSteps, called later, not from inside it).
    virtual void owedStepsLater() = 0;
    // After the record of a judged step: the screen shows the judged frames.
    virtual void showJudgedFrames() = 0;
};
