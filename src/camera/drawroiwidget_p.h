// Helpers shared by the ROI tool page's source files.
#pragma once

#include "globals.h"
#include "lanstr.h"
#include "templatefiles.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QDialog>
#include <QString>

namespace roipage {

inline int mode()
{
    return liveWord(Word::Mode);
}

// Shows `text` in the shared warning box and waits for OK.
inline void warn(const QString& text)
{
    if (!gpWarnBox) {
        qWarning("ROI page: no warning box for \"%s\"", qPrintable(text));
        return;
    }
    gpWarnBox->setText(text);
    gpWarnBox->exec();
}

// Asks `text` in the shared choice box; true only for yes.
inline bool ask(const QString& text)
{
    if (!gpChooseBox) {
        qWarning("ROI page: no choice box for \"%s\"; taken as no", qPrintable(text));
        return false;
    }
    gpChooseBox->setText(text);
    return gpChooseBox->exec() == QDialog::Accepted;
}

// The operator-text row naming detection g in the current detection mode.
inline int detectNameRow(int g)
{
    const int m = mode();
    if (m == DetectMode::TwoColour || m == DetectMode::Turntable)
        return 372 + g;
    if (m == DetectMode::MultiStep)
        return 477 + g;
    return 263 + g;
}

inline QString detectName(int g)
{
    return lanStr(detectNameRow(g));
}

inline QString stepFolder(int camera, int detect)
{
    return TemplateFiles::stepFolder(camera, detect);
}

inline QString templatePath(int camera, int detect, int slot)
{
    return TemplateFiles::templatePath(camera, detect, slot);
}

}  // namespace roipage
