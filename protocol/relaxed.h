// A plain value shared between the receive thread and the program's own threads.
//
// The records are written by one thread and read by another without a lock; each value is
// read or written whole. std::atomic with relaxed ordering says exactly that to the compiler,
// so a polling loop always sees the latest value, at the cost of nothing on x86. The field
// keeps the syntax of the plain value: it converts to T and takes assignments of T.
#pragma once

#include <atomic>

namespace kv {

template <class T>
class Relaxed {
public:
    using value_type = T;

    Relaxed(T value = T{}) : value_(value) {}  // NOLINT: stands in for a plain T
    Relaxed(const Relaxed& other) : value_(other.Load()) {}
    Relaxed& operator=(const Relaxed& other) {
        Store(other.Load());
        return *this;
    }
    Relaxed& operator=(T value) {
        Store(value);
        return *this;
    }
    operator T() const { return Load(); }  // NOLINT: reads like the plain value

    T Load() const { return value_.load(std::memory_order_relaxed); }
    void Store(T value) { value_.store(value, std::memory_order_relaxed); }

    // Read-modify-write of the one thread that writes the field; not an atomic increment.
    Relaxed& operator+=(T delta) {
        Store(static_cast<T>(Load() + delta));
        return *this;
    }
    Relaxed& operator-=(T delta) {
        Store(static_cast<T>(Load() - delta));
        return *this;
    }
    Relaxed& operator++() { return *this += T{1}; }
    Relaxed& operator--() { return *this -= T{1}; }
    T operator++(int) {
        const T old = Load();
        Store(static_cast<T>(old + T{1}));
        return old;
    }
    T operator--(int) {
        const T old = Load();
        Store(static_cast<T>(old - T{1}));
        return old;
    }

private:
    std::atomic<T> value_;
};

}  // namespace kv
