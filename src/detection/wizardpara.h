// The system parameter record: camera settings, detection mode and steps,
// interlock switches and times, algorithm switches, the operator password and
// the current parameter group. Settings are addressed by word number
// (`words[N]` is word N); the numbering has gaps.
//
// Stored in PARAM.db, table `sysparam`, as named rows of blank-separated
// decimal integers. Two records live for the whole run: `gpWPara` (live) and
// `gpWParaBak` (the working copy the settings screens edit).
#pragma once

#include "word.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>

class QSqlQuery;
class QSqlDatabase;

constexpr int kParaWords = 340;   // words 0..339
constexpr int kPasswordBytes = 100;

class WizardPara;
extern WizardPara* gpWPara;     // the live record
extern WizardPara* gpWParaBak;  // the working copy of the settings screens
// Word n of the live record; 0 while none is loaded and for n out of range.
int liveWord(int n);

class WizardPara {
public:
    WizardPara();

    // Group index and name from sysadd.txt, every sysparam row, range checks,
    // step layout, `gLan`, `gDNum` and the display names `gaName`.
    void LoadDatafromFile();
    // Writes every row in one transaction; a row that is missing is inserted.
    void SaveDatatoFile();

    QString getCurGroupName() const { return groupName; }
    // Points the group folder at ./paraGroup (made when missing) and takes
    // the name of the group at the group index, "default" when there is none.
    void updateGroupName();
    // Writes the group index to sysadd.txt, then updateGroupName().
    void SaveAddFile();

    // Same settings: all words, the password and the group name.
    bool operator==(const WizardPara& o) const;
    bool operator!=(const WizardPara& o) const { return !(*this == o); }

    // The password as text. setPassword refuses (false, nothing changed) a
    // text of more than 99 Latin-1 characters, one with a character outside
    // Latin-1, or one holding a NUL; every other character is allowed.
    QString passwordText() const;
    bool setPassword(const QString& text);

    // The steps of loading, callable one by one (the load runs them in this
    // order after reading the rows).
    void CheckRange();
    void DeriveSteps();
    void FillNames();

    // Row-level storage on any PARAM.db connection: LoadDatafromFile and
    // SaveDatatoFile use them on the main window's query.
    bool LoadRows(QSqlDatabase db, QSqlQuery& q);
    bool SaveRows(QSqlDatabase db, QSqlQuery& q);

    // Names of the stored rows in load order, and the text a save writes
    // into row `name` (empty for an unknown name).
    static QStringList rowNames();
    QString rowText(const QString& name) const;

    int words[kParaWords];
    char password[kPasswordBytes];
    QString groupName;   // current parameter group
    QDir groupDir;       // ./paraGroup once updateGroupName() ran

private:
    void ReadGroupIndex();
};

// The modal message of a parameter load (operator text row 0 when a camera
// table is damaged): logged, and handed to OperatorDialogs::parameterWarning
// (the main window shows it in its warn box once the parameters are loaded).
void showParamWarn(const QString& text);
