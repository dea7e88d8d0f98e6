#include "resstatisticsparam.h"

#include <QMutexLocker>

ResStatisticsParam* ResStatisticsParam::_instance = nullptr;

ResStatisticsParam* ResStatisticsParam::getInstance()
{
    // Made on first use by the GUI thread at start-up and never destroyed.
    if (!_instance)
        _instance = new ResStatisticsParam;
    return _instance;
}

QString ResStatisticsParam::curGroupName() const
{
    QMutexLocker lock(&mutex_);
    return curGroupName_;
}

void ResStatisticsParam::setCurGroupName(const QString& name)
{
    QMutexLocker lock(&mutex_);
    curGroupName_ = name;
}
