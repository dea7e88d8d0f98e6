// A holder of zero or one value, guarded by its own mutex, for values that
// more than one thread reads and writes. Every read copies under the mutex and
// every change replaces or edits the whole value under it.
#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>

template <typename T>
class CVariant {
public:
    CVariant() = default;
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    void setValue(T value)
    {
        QMutexLocker lock(&mutex_);
        values_.clear();
        values_.append(std::move(value));
    }

    // The held value; a default value when none is held (callers test first,
    // or use tryGetValue to test and copy in one hold).
    T getValue() const
    {
        QMutexLocker lock(&mutex_);
        return values_.isEmpty() ? T() : values_.first();
    }

    bool tryGetValue(T* out) const
    {
        QMutexLocker lock(&mutex_);
        if (values_.isEmpty())
            return false;
        *out = values_.first();
        return true;
    }

    bool hasValue() const
    {
        QMutexLocker lock(&mutex_);
        return !values_.isEmpty();
    }

    void clear()
    {
        QMutexLocker lock(&mutex_);
        values_.clear();
    }

    // Edits the held value in place within one hold of the mutex; false when
    // nothing is held (and `edit` is not called).
    template <typename F>
    bool modifyValue(F&& edit)
    {
        QMutexLocker lock(&mutex_);
        if (values_.isEmpty())
            return false;
        edit(values_.first());
        return true;
    }

    // The mutex itself, for callers that must hold it across several steps.
    QMutex* mutex() const { return &mutex_; }
    // Only while mutex() is held by the caller.
    bool hasValueLocked() const { return !values_.isEmpty(); }
    void clearLocked() { values_.clear(); }

private:
    mutable QMutex mutex_;
    QList<T> values_;
};
