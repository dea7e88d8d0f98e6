#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>

// A holder of zero or one value of T, shared between threads. The list and
// the mutex are visible so that a caller can hold the mutex while it copies
// the list somewhere else.
template <typename T>
class CVariant {
public:
    CVariant() = default;
    CVariant(const CVariant& other) : list_(other.values()) {}
    CVariant& operator=(const CVariant& other)
    {
        if (this != &other) {
            const QList<T> copy = other.values();
            QMutexLocker lock(&mutex_);
            list_ = copy;
        }
        return *this;
    }

    void setValue(const T& value)
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
        list_.append(value);
    }
    // The held value; a default T when nothing is held.
    T getValue() const
    {
        QMutexLocker lock(&mutex_);
        return list_.isEmpty() ? T() : list_.first();
    }
    bool hasValue() const
    {
        QMutexLocker lock(&mutex_);
        return !list_.isEmpty();
    }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
    }
    QList<T> values() const
    {
        QMutexLocker lock(&mutex_);
        return list_;
    }
    // Tests for a value and copies it within one hold of the mutex.
    bool tryGetValue(T* out) const
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        *out = list_.first();
        return true;
    }
    // Edits the held value in place within one hold of the mutex; false (and
    // `edit` not called) when nothing is held.
    template <typename F>
    bool modifyValue(F&& edit)
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        edit(list_.first());
        return true;
    }
    // For callers that hold mutex() themselves.
    QMutex* mutex() const { return &mutex_; }
    const QList<T>& unlockedValues() const { return list_; }

private:
    mutable QMutex mutex_;
    QList<T> list_;
};
