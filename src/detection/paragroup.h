// Parameter groups: named snapshots of the parameter state (PARAM.db and the
// template folders cammer<c><d>) kept as folders under ./paraGroup. The group
// "default" holds the factory state from which a missing PARAM.db or SN.db is
// restored.
//
// The operations work on files with Qt's file functions (never a shell
// command line); the settings screen asks the operator's confirmations and
// shows the messages.
#pragma once

#include <QString>
#include <QStringList>

class ParaGroup {
public:
    enum Result {
        Ok = 0,
        EmptyName,     // operator text row 282
        DefaultName,   // row 653: "default" cannot be operated on
        BadName,       // a name that is no plain folder name ("/", "\\", "..", leading ".", control characters)
        NoSuchGroup,
        FileError,
    };

    // "./paraGroup"
    static QString folder();
    // The sub-folders of ./paraGroup in case-sensitive name order; the group
    // index counts into this list. Hidden folders (a leading ".") are not
    // groups.
    static QStringList list();
    // Whether a typed name may become a group folder.
    static Result checkName(const QString& name);
    static bool exists(const QString& name);

    // Copies PARAM.db and the template folders of every camera and step into
    // ./paraGroup/<name>/, replacing a group of that name (the caller has
    // asked). The new group becomes the current one of the live and the
    // working record, and sysadd.txt is written.
    static Result backup(const QString& name);
    // Makes group `index` current, removes the local template folders and
    // copies the group's files into the working folder. PARAM.db is replaced
    // through a temporary file and a rename, after the main window's
    // connection to it is closed. The caller records the restore and reboots.
    static Result restore(int index);
    // Removes group `index`. When it was the current group the index becomes
    // -1 ("default"); when it sorted before the current group the index
    // follows, so the current group stays selected.
    static Result remove(int index);

    // Operator-text row of a refused name (282 or 653), -1 for others.
    static int messageRow(Result r);
};
