// A plain value shared between the receive thread and the program's own threads.
//
// The records are written by one thread and read by another without a lock; each value is
// read or written whole. std::atomic with relaxed ordering says exactly that to the compiler,
// so a polling loop always sees the latest value, at the cost of nothing on x86.
#pragma once

#include <atomic>

namespace kv {

template <class T>
class Relaxed {
public:
    Relaxed(T value = T{}) : value_(value) {}
    Relaxed(const Relaxed& other) : value_(other.Load()) {}
    Relaxed& operator=(const Relaxed& other) {
        Store(other.Load());
        return *this;
    }
    Relaxed& operator=(T value) {
        Store(value);
        return *this;
    }
    operator T() const { return Load(); }

    T Load() const { return value_.load(std::memory_order_relaxed); }
    void Store(T value) { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};

}  // namespace kv
