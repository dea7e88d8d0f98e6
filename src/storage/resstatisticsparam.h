// The statistics' own settings: the name of the current parameter group,
// under which counts are kept. The settings screen sets it after backing a
// group up and after deleting the current group; the statistics thread reads
// it, so it is guarded.
#pragma once

#include <QMutex>
#include <QString>

class ResStatisticsParam {
public:
    static ResStatisticsParam* getInstance();

    QString curGroupName() const;
    void setCurGroupName(const QString& name);

private:
    ResStatisticsParam() = default;
    static ResStatisticsParam* _instance;

    mutable QMutex mutex_;
    QString curGroupName_ = QStringLiteral("default");
};
